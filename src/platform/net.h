// TCP sockets for the map publishing server and its helpers, on POSIX sockets: listeners,
// accepted connections, non-blocking sends and receives, and waits in poll() that an eventfd
// wake-up can cut short (in place of Windows Sockets' event selection). IPv4 only, as the
// server's services and peer records are.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Owns one file descriptor and closes it once.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A manual-reset event on an eventfd: while set, its descriptor polls readable, so a thread that
// waits on a socket can be woken by another thread. Set and Reset may be called from any thread.
class WakeEvent {
 public:
  WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // False when the eventfd could not be created (no descriptors left); such an event cannot wake
  // a wait, so its owner must not start a thread that relies on it.
  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }
  void Set();
  void Reset();
  bool IsSet() const;

 private:
  UniqueFd fd_;
  mutable std::mutex mutex_;  // keeps the flag and the counter in step
  bool set_ = false;
};

// An IPv4 peer: the four address bytes in network order (as they are on the wire) and the port
// number in host order.
struct PeerAddress {
  uint32_t address = 0;
  uint16_t port = 0;
};
// "a.b.c.d" of an address in network order.
std::string FormatIPv4(uint32_t address);
// The address of a dotted quad (exactly four decimal numbers 0-255 and nothing else), in network
// order; nothing for any other text.
std::optional<uint32_t> ParseIPv4(std::string_view text);
// 127.0.0.1 in network order.
uint32_t LoopbackIPv4();

// A listening TCP socket on `port` of every local address (or of 127.0.0.1 only), non-blocking,
// with address reuse so that a restarted service can take its port back at once; the largest
// backlog. Invalid (reason in *error) when the port cannot be had.
UniqueFd ListenTcp(uint16_t port, bool loopback_only, std::string* error = nullptr);
// True when a TCP socket can be bound on the port of every local address at this moment (the
// trial socket is closed again). A port on which some socket listens is not free.
bool CanBindTcp(uint16_t port);
// The local port of a bound socket, 0 when unknown.
uint16_t LocalPort(int fd);


// Connects to host:port (a name or a dotted quad), waiting at most `timeout_ms`; a set `wake`
// event ends the wait early. The socket is non-blocking. Invalid (reason in *error) on failure.
UniqueFd ConnectTcp(const std::string& host, uint16_t port, unsigned timeout_ms, const WakeEvent* wake,
                    std::string* error = nullptr);
// The first IPv4 address of a host name, in network order; with `skip_loopback` the first one
// outside 127.0.0.0/8 (a machine's own name often resolves to 127.0.1.1 first). The look-up
// runs asynchronously, so that the wait ends after `timeout_ms` or as soon as `wake` is set
// (a name server that does not answer cannot hold up a thread that is asked to stop).
std::optional<uint32_t> ResolveIPv4(const std::string& host, bool skip_loopback = false,
                                    const WakeEvent* wake = nullptr, unsigned timeout_ms = 30000);

enum class IoStatus {
  kOk,          // some bytes moved
  kWouldBlock,  // nothing can move now; wait for the socket
  kClosed,      // the peer ended the stream (receive only)
  kError,       // the connection is unusable
};
// Accepts one pending connection as a non-blocking socket with Nagle's delay off. Invalid when
// none is pending (*status kWouldBlock; also for a connection that was reset before it was taken)
// or the accept failed (kError: out of descriptors or memory; the connection stays queued).
UniqueFd AcceptTcp(int listen_fd, PeerAddress* peer, IoStatus* status = nullptr);
// One non-blocking send; never raises SIGPIPE. *sent gets the bytes that went out.
IoStatus SendSome(int fd, const void* data, size_t size, size_t* sent);
// One non-blocking receive of at most `size` bytes. *received gets the bytes read.
IoStatus ReceiveSome(int fd, void* data, size_t size, size_t* received);

enum class WaitResult {
  kReady,    // the socket has one of the asked events (or an error or hang-up to collect)
  kWoken,    // the wake event is set
  kTimeout,  // neither within the time
  kError,    // poll itself failed
};
// Waits until the socket is readable (`readable`), writable (`writable`), the wake event is set,
// or `timeout_ms` passed (kInfinite-like values: pass a negative number to wait without limit).
// The wake event wins when both happen together.
WaitResult WaitSocket(int fd, bool readable, bool writable, const WakeEvent* wake, int timeout_ms);

}  // namespace velmora
