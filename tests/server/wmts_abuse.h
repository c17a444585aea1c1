// A load of abusive clients for the map publishing server's tests and benchmark: connections that
// send nothing, connections that send a header byte now and then and never finish, and kept-alive
// connections that asked once and then sit idle, spread over many loopback addresses (every
// 127.x.y.z reaches the local machine). A prober opens a new connection from its own address at
// a fixed pace and counts the answers it gets in time. Everything runs on one thread of its own
// over epoll; the numbers can be read at any time.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

class AbuseDriver {
 public:
  struct Config {
    uint16_t port = 0;
    std::string path = "/";           // asked by the idle connections and the prober
    int silent = 0;                   // connect and send nothing
    int slow = 0;                     // a request line, then one header byte per interval
    int idle = 0;                     // one whole request, its answer read, then nothing
    int slow_interval_ms = 2000;
    bool reconnect = true;            // a connection the server closed is made again
    int reconnect_delay_ms = 100;
    int addresses = 200;              // spread over 127.0.<n/250>.<2 + n%250>
    int probe_interval_ms = 0;        // 0: no prober
    int probe_timeout_ms = 2000;
    std::string probe_address = "127.1.0.1";
  };

  struct Numbers {
    int held_silent = 0, held_slow = 0, held_idle = 0;  // open right now
    long closed_by_server = 0;
    long probes = 0, probes_answered = 0;
    long probes_closed = 0;  // closed by the server without an answer (the rest timed out)
    std::vector<double> probe_ms;  // latency of every answered probe
  };

  explicit AbuseDriver(Config config) : config_(std::move(config)) {}
  ~AbuseDriver() { Stop(); }
  AbuseDriver(const AbuseDriver&) = delete;
  AbuseDriver& operator=(const AbuseDriver&) = delete;

  void Start() {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  // Closes every connection and ends the thread.
  void Stop() {
    if (!thread_.joinable()) return;
    stop_.store(true);
    uint64_t one = 1;
    ssize_t n = ::write(wake_, &one, sizeof one);
    (void)n;
    thread_.join();
    ::close(wake_);
  }
  Numbers Read() const {
    std::lock_guard<std::mutex> lock(numbers_lock_);
    return numbers_;
  }
  // True once at least the given numbers of connections are open, within `timeout_ms`.
  bool WaitHeld(int silent, int slow, int idle, int timeout_ms) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(numbers_lock_);
    return changed_.wait_until(lock, deadline, [&] {
      return numbers_.held_silent >= silent && numbers_.held_slow >= slow && numbers_.held_idle >= idle;
    });
  }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Kind { kSilent, kSlow, kIdle, kProbe };
  enum class Phase { kWaiting, kConnecting, kOpen };

  struct Conn {
    Kind kind = Kind::kSilent;
    Phase phase = Phase::kWaiting;
    int fd = -1;
    int index = 0;
    Clock::time_point due;      // next byte (slow), next attempt (waiting), give up (probe)
    Clock::time_point started;  // of a probe
    std::string in;             // bytes of the answer (idle, probe)
    bool answered = false;      // idle: its answer came
    bool counted = false;       // counted as held
  };

  std::string AddressOf(const Conn& c) const {
    if (c.kind == Kind::kProbe) return config_.probe_address;
    int n = c.index % std::max(1, config_.addresses);
    return "127.0." + std::to_string(n / 250) + "." + std::to_string(2 + n % 250);
  }

  std::string Request() const { return "GET " + config_.path + " HTTP/1.1\r\nHost: localhost\r\n\r\n"; }

  void Connect(Conn& c) {
    c.in.clear();
    c.answered = false;
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c.fd < 0) {
      Retry(c);
      return;
    }
    int on = 1;
    ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, AddressOf(c).c_str(), &local.sin_addr);
    ::bind(c.fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(config_.port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int r = ::connect(c.fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (r != 0 && errno != EINPROGRESS) {
      CloseConn(c, false);
      return;
    }
    c.phase = Phase::kConnecting;
    c.started = Clock::now();
    if (c.kind == Kind::kProbe) c.due = c.started + std::chrono::milliseconds(config_.probe_timeout_ms);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
    ev.data.ptr = &c;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev);
  }

  void Retry(Conn& c) {
    c.phase = Phase::kWaiting;
    c.due = Clock::now() + std::chrono::milliseconds(config_.reconnect_delay_ms);
    if (!config_.reconnect || stop_.load()) c.due = Clock::time_point::max();
  }

  void SetHeld(Conn& c, bool held) {
    if (c.counted == held || c.kind == Kind::kProbe) return;
    c.counted = held;
    int delta = held ? 1 : -1;
    std::lock_guard<std::mutex> lock(numbers_lock_);
    int& count = c.kind == Kind::kSilent ? numbers_.held_silent
                 : c.kind == Kind::kSlow   ? numbers_.held_slow
                                           : numbers_.held_idle;
    count += delta;
    changed_.notify_all();
  }

  void CloseConn(Conn& c, bool by_server) {
    if (c.fd >= 0) {
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
      ::close(c.fd);
      c.fd = -1;
    }
    SetHeld(c, false);
    if (by_server && c.kind != Kind::kProbe) {
      std::lock_guard<std::mutex> lock(numbers_lock_);
      ++numbers_.closed_by_server;
    }
    if (c.kind == Kind::kProbe) {
      c.phase = Phase::kWaiting;
      c.due = Clock::time_point::max();
      return;
    }
    Retry(c);
  }

  bool SendAll(Conn& c, const std::string& bytes) {
    return ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // True when `in` holds a whole answer (header and Content-Length bytes).
  static bool WholeAnswer(const std::string& in) {
    size_t end = in.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    size_t cl = in.find("Content-Length: ");
    size_t length = cl != std::string::npos && cl < end ? std::strtoul(in.c_str() + cl + 16, nullptr, 10) : 0;
    return in.size() >= end + 4 + length;
  }

  void OnEvent(Conn& c, uint32_t events) {
    auto now = Clock::now();
    if (c.phase == Phase::kConnecting && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
      int error = 0;
      socklen_t len = sizeof error;
      ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &len);
      if (error != 0) {
        CloseConn(c, false);
        return;
      }
      c.phase = Phase::kOpen;
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLRDHUP;
      ev.data.ptr = &c;
      ::epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
      bool ok = true;
      switch (c.kind) {
        case Kind::kSilent: SetHeld(c, true); break;
        case Kind::kSlow:
          ok = SendAll(c, "GET " + config_.path + " HTTP/1.1\r\nHost: localhost\r\nX-Slow: ");
          c.due = now + std::chrono::milliseconds(config_.slow_interval_ms);
          if (ok) SetHeld(c, true);
          break;
        case Kind::kIdle:
        case Kind::kProbe: ok = SendAll(c, Request()); break;
      }
      if (!ok) {
        CloseConn(c, true);
        return;
      }
    }
    if (c.phase != Phase::kOpen || !(events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) return;
    char buffer[65536];
    for (;;) {
      ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        if (c.kind == Kind::kIdle || c.kind == Kind::kProbe) c.in.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // The server closed the connection.
      if (c.kind == Kind::kProbe) {
        std::lock_guard<std::mutex> lock(numbers_lock_);
        ++numbers_.probes_closed;
      }
      if (c.kind == Kind::kProbe) FinishProbe(c, false);
      CloseConn(c, true);
      return;
    }
    if ((c.kind == Kind::kIdle || c.kind == Kind::kProbe) && !c.answered && WholeAnswer(c.in)) {
      c.answered = true;
      c.in.clear();
      if (c.kind == Kind::kIdle) {
        SetHeld(c, true);
      } else {
        FinishProbe(c, true);
        CloseConn(c, false);
      }
    }
  }

  void FinishProbe(Conn& c, bool answered) {
    std::lock_guard<std::mutex> lock(numbers_lock_);
    if (answered) {
      ++numbers_.probes_answered;
      numbers_.probe_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - c.started).count());
    }
  }

  void Run() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    std::vector<Conn> conns;
    conns.reserve(config_.silent + config_.slow + config_.idle);
    int index = 0;
    for (auto [kind, count] : {std::pair{Kind::kSilent, config_.silent}, std::pair{Kind::kSlow, config_.slow},
                               std::pair{Kind::kIdle, config_.idle}}) {
      for (int i = 0; i < count; ++i) {
        Conn c;
        c.kind = kind;
        c.index = index++;
        conns.push_back(c);
      }
    }
    std::vector<Conn> probes(16);  // a ring of probe slots (a probe that hangs does not stop the next)
    for (Conn& p : probes) {
      p.kind = Kind::kProbe;
      p.due = Clock::time_point::max();
    }
    size_t next_probe_slot = 0;
    auto next_probe = Clock::now();
    for (Conn& c : conns) Connect(c);

    std::vector<epoll_event> events(256);
    while (!stop_.load()) {
      auto now = Clock::now();
      // Due work: slow bytes, reconnections, probes that waited too long, the next probe.
      auto earliest = now + std::chrono::milliseconds(200);
      for (Conn& c : conns) {
        if (c.phase == Phase::kWaiting && c.due <= now) {
          Connect(c);
        } else if (c.phase == Phase::kOpen && c.kind == Kind::kSlow && c.due <= now) {
          if (!SendAll(c, "a")) {
            CloseConn(c, true);
            continue;
          }
          c.due = now + std::chrono::milliseconds(config_.slow_interval_ms);
        }
        if ((c.phase == Phase::kWaiting || c.kind == Kind::kSlow) && c.due < earliest) earliest = c.due;
      }
      for (Conn& p : probes) {
        if (p.phase != Phase::kWaiting && p.due <= now) {
          FinishProbe(p, false);  // no answer in time
          CloseConn(p, false);
        }
        if (p.phase != Phase::kWaiting && p.due < earliest) earliest = p.due;
      }
      if (config_.probe_interval_ms > 0 && next_probe <= now) {
        Conn& p = probes[next_probe_slot++ % probes.size()];
        if (p.phase != Phase::kWaiting) {
          FinishProbe(p, false);
          CloseConn(p, false);
        }
        {
          std::lock_guard<std::mutex> lock(numbers_lock_);
          ++numbers_.probes;
        }
        Connect(p);
        next_probe = now + std::chrono::milliseconds(config_.probe_interval_ms);
      }
      if (config_.probe_interval_ms > 0 && next_probe < earliest) earliest = next_probe;
      int wait = static_cast<int>(std::max<int64_t>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(earliest - Clock::now()).count() + 1));
      int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), wait);
      for (int i = 0; i < n; ++i) {
        if (events[i].data.ptr == nullptr) continue;  // the stop
        OnEvent(*static_cast<Conn*>(events[i].data.ptr), events[i].events);
      }
    }
    for (Conn& c : conns) {
      if (c.fd >= 0) ::close(c.fd);
      c.fd = -1;
      SetHeld(c, false);
    }
    for (Conn& p : probes)
      if (p.fd >= 0) ::close(p.fd);
    ::close(epoll_);
  }

  Config config_;
  std::thread thread_;
  int wake_ = -1;
  int epoll_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex numbers_lock_;
  mutable std::condition_variable changed_;
  Numbers numbers_;
};

}  // namespace velmora::test
