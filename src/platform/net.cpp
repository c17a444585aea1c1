// TCP sockets, poll waits and the eventfd wake-up of platform/net.h.
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace velmora {

namespace {

std::string ErrnoText(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

sockaddr_in AnyAddress(uint16_t port, bool loopback_only) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(loopback_only ? INADDR_LOOPBACK : INADDR_ANY);
  return addr;
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

// ---- WakeEvent --------------------------------------------------------------------------------

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeEvent::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (set_) return;
  set_ = true;
  if (!fd_.Valid()) return;
  uint64_t one = 1;
  ssize_t n = ::write(fd_.Get(), &one, sizeof one);
  (void)n;
}

void WakeEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!set_) return;
  set_ = false;
  if (!fd_.Valid()) return;
  uint64_t value = 0;
  ssize_t n = ::read(fd_.Get(), &value, sizeof value);  // drains the counter
  (void)n;
}

bool WakeEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

// ---- addresses --------------------------------------------------------------------------------

std::string FormatIPv4(uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

std::optional<uint32_t> ParseIPv4(std::string_view text) {
  if (text.empty() || text.size() > 15) return std::nullopt;
  char buffer[16];
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  in_addr addr{};
  // inet_pton takes exactly four decimal numbers 0-255 (no octal, no shorthand, nothing after).
  if (::inet_pton(AF_INET, buffer, &addr) != 1) return std::nullopt;
  return addr.s_addr;
}

uint32_t LoopbackIPv4() { return htonl(INADDR_LOOPBACK); }

// ---- listeners --------------------------------------------------------------------------------

UniqueFd ListenTcp(uint16_t port, bool loopback_only, std::string* error, int* error_number) {
  auto fail = [&](const char* what) {
    int e = errno;
    if (error) *error = ErrnoText(what, e);
    if (error_number) *error_number = e;
    return UniqueFd();
  };
  if (error_number) *error_number = 0;
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fail("socket");
  int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr = AnyAddress(port, loopback_only);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return fail("bind");
  if (::listen(fd.Get(), SOMAXCONN) != 0) return fail("listen");
  return fd;
}

bool CanBindTcp(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return false;
  // The same reuse option as the listeners: a port held only by connections in TIME_WAIT can be
  // listened on, one on which a socket listens cannot.
  int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr = AnyAddress(port, false);
  return ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) return 0;
  return ntohs(addr.sin_port);
}

UniqueFd AcceptTcp(int listen_fd, PeerAddress* peer, IoStatus* status) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  UniqueFd fd;
  for (;;) {
    fd.Reset(::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd.Valid() || errno != EINTR) break;
  }
  if (!fd.Valid()) {
    int e = errno;
    bool transient = e == EAGAIN || e == EWOULDBLOCK || e == ECONNABORTED || e == EPROTO;
    if (status) *status = transient ? IoStatus::kWouldBlock : IoStatus::kError;
    return {};
  }
  if (status) *status = IoStatus::kOk;
  int on = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (peer) {
    peer->address = addr.sin_family == AF_INET ? addr.sin_addr.s_addr : 0;
    peer->port = addr.sin_family == AF_INET ? ntohs(addr.sin_port) : 0;
  }
  return fd;
}

// ---- outgoing connections -----------------------------------------------------------------------

namespace {

// One asynchronous look-up. The record is shared by the caller and glibc's completion callback:
// a caller that stops waiting leaves it to the callback, which may run later.
struct Lookup {
  std::string name;
  addrinfo hints{};
  gaicb request{};
  WakeEvent done;
  ~Lookup() {
    if (request.ar_result) ::freeaddrinfo(request.ar_result);
  }
};

void LookupDone(sigval value) {
  auto* holder = static_cast<std::shared_ptr<Lookup>*>(value.sival_ptr);
  (*holder)->done.Set();
  delete holder;
}

std::optional<uint32_t> FirstIPv4(const addrinfo* found, bool skip_loopback) {
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    if (skip_loopback && (ntohl(address) >> 24) == 127) continue;
    return address;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint32_t> ResolveIPv4(const std::string& host, bool skip_loopback, const WakeEvent* wake,
                                    unsigned timeout_ms) {
  if (host.empty()) return std::nullopt;
  auto lookup = std::make_shared<Lookup>();
  if (!lookup->done.Valid()) return std::nullopt;
  lookup->name = host;
  lookup->hints.ai_family = AF_INET;
  lookup->hints.ai_socktype = SOCK_STREAM;
  lookup->request.ar_name = lookup->name.c_str();
  lookup->request.ar_request = &lookup->hints;
  auto* holder = new std::shared_ptr<Lookup>(lookup);
  sigevent notify{};
  notify.sigev_notify = SIGEV_THREAD;
  notify.sigev_notify_function = LookupDone;
  notify.sigev_value.sival_ptr = holder;
  gaicb* list[1] = {&lookup->request};
  if (::getaddrinfo_a(GAI_NOWAIT, list, 1, &notify) != 0) {
    delete holder;
    return std::nullopt;
  }
  WaitResult waited = WaitSocket(lookup->done.Fd(), true, false, wake, static_cast<int>(timeout_ms));
  if (waited != WaitResult::kReady && !lookup->done.IsSet()) {
    // Given up: a request that never started is withdrawn (and its callback with it); one under
    // way finishes on its own and its callback releases the record.
    if (::gai_cancel(&lookup->request) == EAI_CANCELED) delete holder;
    return std::nullopt;
  }
  if (::gai_error(&lookup->request) != 0) return std::nullopt;
  return FirstIPv4(lookup->request.ar_result, skip_loopback);
}

UniqueFd ConnectTcp(const std::string& host, uint16_t port, unsigned timeout_ms, const WakeEvent* wake,
                    std::string* error) {
  std::optional<uint32_t> address = ParseIPv4(host);
  if (!address) address = ResolveIPv4(host, false, wake, timeout_ms);
  if (!address) {
    if (error) *error = "cannot resolve " + host;
    return {};
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    if (error) *error = ErrnoText("socket", errno);
    return {};
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = *address;
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      if (error) *error = ErrnoText("connect", errno);
      return {};
    }
    WaitResult r = WaitSocket(fd.Get(), false, true, wake, static_cast<int>(timeout_ms));
    if (r != WaitResult::kReady) {
      if (error) *error = r == WaitResult::kTimeout ? "connect: timed out" : "connect: stopped";
      return {};
    }
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &so_error, &len) != 0 || so_error != 0) {
      if (error) *error = ErrnoText("connect", so_error ? so_error : errno);
      return {};
    }
  }
  return fd;
}

// ---- I/O --------------------------------------------------------------------------------------

IoStatus SendSome(int fd, const void* data, size_t size, size_t* sent) {
  *sent = 0;
  for (;;) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      *sent = static_cast<size_t>(n);
      return IoStatus::kOk;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::kWouldBlock;
    return IoStatus::kError;
  }
}

IoStatus SendSomeV(int fd, const ConstBuffer* pieces, size_t count, size_t* sent) {
  *sent = 0;
  iovec vectors[8];
  count = std::min<size_t>(count, 8);
  for (size_t i = 0; i < count; ++i) vectors[i] = {const_cast<void*>(pieces[i].data), pieces[i].size};
  msghdr message{};
  message.msg_iov = vectors;
  message.msg_iovlen = count;
  for (;;) {
    ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      *sent = static_cast<size_t>(n);
      return IoStatus::kOk;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::kWouldBlock;
    return IoStatus::kError;
  }
}

IoStatus ReceiveSome(int fd, void* data, size_t size, size_t* received) {
  *received = 0;
  for (;;) {
    ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return IoStatus::kOk;
    }
    if (n == 0) return size == 0 ? IoStatus::kOk : IoStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::kWouldBlock;
    return IoStatus::kError;
  }
}

void ShutdownSocket(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void SetResetOnClose(int fd) {
  linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

// ---- EventPoll ----------------------------------------------------------------------------------

static_assert(EventPoll::kReadable == EPOLLIN && EventPoll::kWritable == EPOLLOUT && EventPoll::kError == EPOLLERR &&
              EventPoll::kHangUp == EPOLLHUP && EventPoll::kPeerClosed == EPOLLRDHUP);

EventPoll::EventPoll() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

bool EventPoll::Add(int fd, uint32_t events, void* data, bool edge) {
  epoll_event ev{};
  ev.events = events | (edge ? EPOLLET : 0u);
  ev.data.ptr = data;
  return ::epoll_ctl(fd_.Get(), EPOLL_CTL_ADD, fd, &ev) == 0;
}

void EventPoll::Remove(int fd) { ::epoll_ctl(fd_.Get(), EPOLL_CTL_DEL, fd, nullptr); }

int EventPoll::Wait(PollEvent* out, int max_events, int timeout_ms) {
  constexpr int kBatch = 128;
  epoll_event events[kBatch];
  int n = ::epoll_wait(fd_.Get(), events, std::min(max_events, kBatch), timeout_ms);
  if (n <= 0) return 0;
  for (int i = 0; i < n; ++i) out[i] = {events[i].data.ptr, events[i].events};
  return n;
}

// ---- waits ---------------------------------------------------------------------------------------

WaitResult WaitSocket(int fd, bool readable, bool writable, const WakeEvent* wake, int timeout_ms) {
  pollfd fds[2];
  fds[0] = {fd, static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0};
  nfds_t count = 1;
  if (wake && wake->Valid()) {
    fds[1] = {wake->Fd(), POLLIN, 0};
    count = 2;
  }
  int64_t deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
  for (;;) {
    int wait = -1;
    if (deadline >= 0) {
      int64_t left = deadline - NowMs();
      wait = left <= 0 ? 0 : static_cast<int>(left);
    }
    int n = ::poll(fds, count, wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kError;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) return WaitResult::kWoken;
    if (n > 0 && fds[0].revents) return WaitResult::kReady;
    if (n == 0) return WaitResult::kTimeout;
  }
}

}  // namespace velmora
