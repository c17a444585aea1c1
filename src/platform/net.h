// TCP sockets for the map publishing server and its helpers, on POSIX sockets: listeners,
// accepted connections, non-blocking sends and receives, waits in poll() that an eventfd wake-up
// can cut short (in place of Windows Sockets' event selection), and an epoll set for event loops
// that watch many sockets at once. IPv4 only, as the server's services and peer records are.
// Every descriptor made here is close-on-exec.
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
// backlog. Invalid (reason in *error, the errno value in *error_number) when the port cannot be
// had: EADDRINUSE when another socket has it, EACCES for a privileged port without the right.
UniqueFd ListenTcp(uint16_t port, bool loopback_only, std::string* error = nullptr, int* error_number = nullptr);
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
// One non-blocking send of several pieces in order (one system call); never raises SIGPIPE.
struct ConstBuffer {
  const void* data;
  size_t size;
};
IoStatus SendSomeV(int fd, const ConstBuffer* pieces, size_t count, size_t* sent);
// One non-blocking receive of at most `size` bytes. *received gets the bytes read.
IoStatus ReceiveSome(int fd, void* data, size_t size, size_t* received);

enum class WaitResult {
  kReady,    // the socket has one of the asked events (or an error or hang-up to collect)
  kWoken,    // the wake event is set
  kTimeout,  // neither within the time
  kError,    // poll itself failed
};
// Ends both directions of a connection without closing its descriptor (whoever owns the
// descriptor closes it).
void ShutdownSocket(int fd);
// Makes the coming close of a connection a reset: bytes not yet sent are dropped at once rather
// than kept by the system for a peer that does not read them.
void SetResetOnClose(int fd);

// An epoll set. Sockets are watched edge-triggered: an event is reported once each time the
// socket becomes readable or writable, so a reader drains it until kWouldBlock.
class EventPoll {
 public:
  // Event bits of Add and of PollEvent::events.
  static constexpr uint32_t kReadable = 0x001;  // EPOLLIN
  static constexpr uint32_t kWritable = 0x004;  // EPOLLOUT
  static constexpr uint32_t kError = 0x008;     // EPOLLERR
  static constexpr uint32_t kHangUp = 0x010;    // EPOLLHUP
  static constexpr uint32_t kPeerClosed = 0x2000;  // EPOLLRDHUP

  EventPoll();
  EventPoll(const EventPoll&) = delete;
  EventPoll& operator=(const EventPoll&) = delete;

  // False when the set could not be made (no descriptors left).
  bool Valid() const { return fd_.Valid(); }
  // Watches `fd` for the events (kReadable, kWritable, kPeerClosed; errors and hang-ups always),
  // edge-triggered when `edge`; `data` comes back with its events.
  bool Add(int fd, uint32_t events, void* data, bool edge);
  // Stops watching (closing the descriptor does that too).
  void Remove(int fd);
  struct PollEvent {
    void* data;
    uint32_t events;
  };
  // Waits up to `timeout_ms` (negative: without limit) for events; their number (0 on time-out
  // or an interrupted wait).
  int Wait(PollEvent* out, int max_events, int timeout_ms);

 private:
  UniqueFd fd_;
};

// Waits until the socket is readable (`readable`), writable (`writable`), the wake event is set,
// or `timeout_ms` passed (kInfinite-like values: pass a negative number to wait without limit).
// The wake event wins when both happen together.
WaitResult WaitSocket(int fd, bool readable, bool writable, const WakeEvent* wake, int timeout_ms);

}  // namespace velmora
