// HttpTestServer: POSIX sockets, one thread per connection, a pipe that wakes every poll at Stop.
#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace velmora::test {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

void ParseCookies(std::string_view header, std::map<std::string, std::string>& cookies) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string_view::npos) end = header.size();
    std::string_view pair = header.substr(pos, end - pos);
    size_t eq = pair.find('=');
    if (eq != std::string_view::npos) cookies[Trim(pair.substr(0, eq))] = Trim(pair.substr(eq + 1));
    pos = end + 1;
  }
}

}  // namespace

// ---- replies ----------------------------------------------------------------------------------

HttpReply HttpReply::Ok(std::string body, std::string content_type) {
  return Status(200, std::move(body), std::move(content_type));
}

HttpReply HttpReply::Status(int status, std::string body, std::string content_type) {
  HttpReply r;
  r.status = status;
  r.body = std::move(body);
  r.content_type = std::move(content_type);
  return r;
}

HttpReply HttpReply::HtmlErrorPage(int status) {
  return Status(status,
                "<!DOCTYPE html>\n<html><head><title>Error</title></head>"
                "<body><h1>Service temporarily unavailable</h1></body></html>\n",
                "text/html; charset=utf-8");
}

HttpReply HttpReply::Drop() {
  HttpReply r;
  r.drop = true;
  return r;
}

HttpReply HttpReply::Delayed(int delay_ms, HttpReply reply) {
  reply.delay_ms = delay_ms;
  return reply;
}

std::string HttpRequestRecord::Header(std::string_view name) const {
  std::string want = Lower(name);
  for (const auto& [n, v] : headers) {
    if (Lower(n) == want) return v;
  }
  return std::string();
}

std::string HttpRequestRecord::Cookie(const std::string& name) const {
  auto it = cookies.find(name);
  return it == cookies.end() ? std::string() : it->second;
}

// ---- server -----------------------------------------------------------------------------------

struct HttpTestServer::Connection {
  int fd = -1;
  int id = 0;
};

HttpTestServer::HttpTestServer() {
  default_reply_ = HttpReply::NotFound();
  if (::pipe2(wake_fd_, O_CLOEXEC) != 0) throw std::runtime_error("HttpTestServer: pipe failed");
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("HttpTestServer: socket failed");
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 128) != 0) {
    throw std::runtime_error(std::string("HttpTestServer: bind/listen failed: ") + std::strerror(errno));
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer() { Stop(); }

std::string HttpTestServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string HttpTestServer::Url(std::string_view target) const {
  std::string url = BaseUrl();
  if (target.empty() || target.front() != '/') url += '/';
  url += target;
  return url;
}

void HttpTestServer::Route(const std::string& target, HttpReply reply) {
  Route(target, Handler([reply](const HttpRequestRecord&) { return reply; }));
}

void HttpTestServer::Route(const std::string& target, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_[target] = std::move(handler);
}

void HttpTestServer::RoutePrefix(const std::string& prefix, Handler handler) {
  std::lock_guard lock(mutex_);
  prefix_routes_[prefix] = std::move(handler);
}

void HttpTestServer::SetDefault(HttpReply reply) {
  std::lock_guard lock(mutex_);
  default_reply_ = std::move(reply);
}

void HttpTestServer::ClearRoutes() {
  std::lock_guard lock(mutex_);
  routes_.clear();
  prefix_routes_.clear();
}

std::vector<HttpRequestRecord> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t HttpTestServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void HttpTestServer::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

int HttpTestServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool HttpTestServer::WaitForRequests(size_t count, unsigned timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return requests_.size() >= count; });
}

bool HttpTestServer::Pause(int ms) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

void HttpTestServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  // The byte is never read, so the pipe stays readable and wakes every poll from now on.
  char byte = 1;
  [[maybe_unused]] ssize_t w = ::write(wake_fd_[1], &byte, 1);
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& t : threads) t.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
  ::close(wake_fd_[0]);
  ::close(wake_fd_[1]);
  wake_fd_[0] = wake_fd_[1] = -1;
}

void HttpTestServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_[0], POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    connection->id = ++connections_;
    threads_.emplace_back([this, connection] { Serve(connection); });
  }
}

HttpReply HttpTestServer::Answer(const HttpRequestRecord& request) {
  Handler handler;
  HttpReply fallback;
  {
    std::lock_guard lock(mutex_);
    auto it = routes_.find(request.target);
    if (it == routes_.end()) it = routes_.find(request.path);
    if (it != routes_.end()) {
      handler = it->second;
    } else {
      size_t best = 0;
      for (const auto& [prefix, h] : prefix_routes_) {
        if (request.target.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= best) {
          best = prefix.size();
          handler = h;
        }
      }
    }
    fallback = default_reply_;
  }
  // Handlers run without the lock: they may call back into the server (Requests(), Route()).
  return handler ? handler(request) : fallback;
}

void HttpTestServer::Serve(std::shared_ptr<Connection> connection) {
  const int fd = connection->fd;
  std::string in;
  char chunk[16384];

  // Waits until fd is ready for `events`; false when the server stops or the socket fails.
  auto wait_ready = [&](short events) {
    for (;;) {
      pollfd fds[2] = {{fd, events, 0}, {wake_fd_[0], POLLIN, 0}};
      int n = ::poll(fds, 2, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || fds[1].revents) return false;
      if (fds[0].revents & (events | POLLHUP | POLLERR)) return true;
    }
  };
  auto read_more = [&]() {
    if (!wait_ready(POLLIN)) return false;
    ssize_t r = ::recv(fd, chunk, sizeof chunk, 0);
    if (r <= 0) return false;
    in.append(chunk, static_cast<size_t>(r));
    return true;
  };
  auto send_all = [&](const char* data, size_t size) {
    while (size > 0) {
      if (!wait_ready(POLLOUT)) return false;
      ssize_t w = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return false;
      }
      data += w;
      size -= static_cast<size_t>(w);
    }
    return true;
  };

  for (;;) {
    size_t head_end;
    while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
      if (in.size() > (1u << 20) || !read_more()) {
        ::close(fd);
        return;
      }
    }
    HttpRequestRecord request;
    request.connection = connection->id;
    std::string_view head(in.data(), head_end);
    size_t line_end = head.find("\r\n");
    std::string_view first = head.substr(0, line_end);
    size_t sp1 = first.find(' ');
    size_t sp2 = first.rfind(' ');
    std::string version;
    if (sp1 != std::string_view::npos && sp2 > sp1) {
      request.method.assign(first.substr(0, sp1));
      request.target.assign(first.substr(sp1 + 1, sp2 - sp1 - 1));
      version.assign(first.substr(sp2 + 1));
    }
    size_t q = request.target.find('?');
    request.path = request.target.substr(0, q);
    request.query = q == std::string::npos ? std::string() : request.target.substr(q + 1);
    size_t pos = line_end == std::string_view::npos ? head.size() : line_end + 2;
    while (pos < head.size()) {
      size_t end = head.find("\r\n", pos);
      if (end == std::string_view::npos) end = head.size();
      std::string_view line = head.substr(pos, end - pos);
      size_t colon = line.find(':');
      if (colon != std::string_view::npos) {
        std::string name(line.substr(0, colon));
        std::string value = Trim(line.substr(colon + 1));
        if (Lower(name) == "cookie") ParseCookies(value, request.cookies);
        request.headers.emplace_back(std::move(name), std::move(value));
      }
      pos = end + 2;
    }
    size_t body_size = static_cast<size_t>(std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10));
    in.erase(0, head_end + 4);
    while (in.size() < body_size) {
      if (!read_more()) {
        ::close(fd);
        return;
      }
    }
    request.body = in.substr(0, body_size);
    in.erase(0, body_size);

    bool keep_alive = Lower(request.Header("Connection")) != "close" &&
                      (version != "HTTP/1.0" || Lower(request.Header("Connection")) == "keep-alive");
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    changed_.notify_all();

    HttpReply reply = Answer(request);
    if (reply.delay_ms > 0 && !Pause(reply.delay_ms)) {
      ::close(fd);
      return;
    }
    if (reply.drop) {
      ::close(fd);
      return;
    }
    if (reply.close) keep_alive = false;
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
    if (!reply.content_type.empty()) out += "Content-Type: " + reply.content_type + "\r\n";
    out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
    out += keep_alive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    size_t body_bytes = reply.drop_mid_body ? reply.body.size() / 2 : reply.body.size();
    if (request.method != "HEAD") out.append(reply.body, 0, body_bytes);
    if (!send_all(out.data(), out.size()) || reply.drop_mid_body || !keep_alive) {
      ::close(fd);
      return;
    }
  }
}

}  // namespace velmora::test
