// HttpTestServer: non-blocking sockets of platform/net, one thread per connection, a wake event
// that ends every wait at Stop.
#include "support/http_test_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "platform/text.h"

namespace velmora::test {

namespace {

// Splits `text` at `separator` and calls `each` with the text between separators.
template <typename F>
void Split(std::string_view text, std::string_view separator, F each) {
  for (size_t pos = 0; pos < text.size();) {
    size_t end = std::min(text.find(separator, pos), text.size());
    each(text.substr(pos, end - pos));
    pos = end + separator.size();
  }
}

// Parses the request line and header lines (without the blank line that ends them).
HttpRequestRecord ParseHead(std::string_view head, std::string* version) {
  HttpRequestRecord request;
  bool first = true;
  Split(head, "\r\n", [&](std::string_view line) {
    if (first) {
      first = false;
      size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
      if (sp1 == std::string_view::npos || sp2 <= sp1) return;
      request.method.assign(line.substr(0, sp1));
      request.target.assign(line.substr(sp1 + 1, sp2 - sp1 - 1));
      version->assign(line.substr(sp2 + 1));
      return;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    std::string name(line.substr(0, colon)), value(TrimAscii(line.substr(colon + 1)));
    if (EqualsNoCaseAscii(name, "cookie")) {
      Split(value, ";", [&](std::string_view pair) {
        size_t eq = pair.find('=');
        if (eq != std::string_view::npos) request.cookies[std::string(TrimAscii(pair.substr(0, eq)))] = TrimAscii(pair.substr(eq + 1));
      });
    }
    request.headers.emplace_back(std::move(name), std::move(value));
  });
  size_t q = request.target.find('?');
  request.path = request.target.substr(0, q);
  request.query = q == std::string::npos ? std::string() : request.target.substr(q + 1);
  return request;
}

}  // namespace

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
  for (const auto& [n, v] : headers)
    if (EqualsNoCaseAscii(n, name)) return v;
  return std::string();
}

std::string HttpRequestRecord::Cookie(const std::string& name) const {
  auto it = cookies.find(name);
  return it == cookies.end() ? std::string() : it->second;
}

HttpTestServer::HttpTestServer() {
  std::string error;
  listener_ = ListenTcp(0, true, &error);
  if (!listener_.Valid() || !wake_.Valid()) throw std::runtime_error("HttpTestServer: cannot listen: " + error);
  port_ = LocalPort(listener_.Get());
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer() { Stop(); }

std::string HttpTestServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string HttpTestServer::Url(std::string_view target) const {
  return BaseUrl() + (target.empty() || target.front() != '/' ? "/" : "") + std::string(target);
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

std::vector<HttpRequestRecord> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t HttpTestServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

int HttpTestServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool HttpTestServer::WaitForRequests(size_t count, unsigned timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return requests_.size() >= count; });
}

void HttpTestServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  wake_.Set();
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& t : threads) t.join();
}

void HttpTestServer::AcceptLoop() {
  while (WaitSocket(listener_.Get(), true, false, &wake_, -1) == WaitResult::kReady) {
    UniqueFd fd = AcceptTcp(listener_.Get(), nullptr);
    if (!fd.Valid()) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    ++connections_;
    threads_.emplace_back([this, connection = std::move(fd)]() mutable { Serve(std::move(connection)); });
  }
}

HttpReply HttpTestServer::Answer(const HttpRequestRecord& request) {
  Handler handler;
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
  }
  // Handlers run without the lock: they may call back into the server (Requests(), Route()).
  return handler ? handler(request) : HttpReply::NotFound();
}

void HttpTestServer::Serve(UniqueFd connection) {
  const int fd = connection.Get();
  std::string in;
  // Each returns false when the connection ends or the server stops.
  auto read_more = [&] {
    char chunk[16384];
    size_t n = 0;
    IoStatus status = IoStatus::kWouldBlock;
    while (status == IoStatus::kWouldBlock) {
      if (WaitSocket(fd, true, false, &wake_, -1) != WaitResult::kReady) return false;
      status = ReceiveSome(fd, chunk, sizeof chunk, &n);
    }
    if (status == IoStatus::kOk) in.append(chunk, n);
    return status == IoStatus::kOk;
  };
  auto send_all = [&](const char* data, size_t size) {
    while (size > 0) {
      size_t n = 0;
      IoStatus status = SendSome(fd, data, size, &n);
      if (status == IoStatus::kError) return false;
      if (status == IoStatus::kWouldBlock && WaitSocket(fd, false, true, &wake_, -1) != WaitResult::kReady) return false;
      data += n;
      size -= n;
    }
    return true;
  };
  // Answers requests until the connection ends, is dropped or the server stops.
  auto serve = [&] {
    for (;;) {
      size_t head_end;
      while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
        if (in.size() > (1u << 20) || !read_more()) return;
      }
      std::string version;
      HttpRequestRecord request = ParseHead(std::string_view(in.data(), head_end), &version);
      size_t body_size = static_cast<size_t>(std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10));
      in.erase(0, head_end + 4);
      while (in.size() < body_size) {
        if (!read_more()) return;
      }
      request.body = in.substr(0, body_size);
      in.erase(0, body_size);
      const std::string connection = request.Header("Connection");
      bool keep_alive = !EqualsNoCaseAscii(connection, "close") &&
                        (version != "HTTP/1.0" || EqualsNoCaseAscii(connection, "keep-alive"));
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      changed_.notify_all();

      HttpReply reply = Answer(request);
      if (reply.delay_ms > 0) {
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, std::chrono::milliseconds(reply.delay_ms), [&] { return stopping_; })) return;
      }
      if (reply.drop) return;
      // Clients read the status number; the reason text is not theirs to check.
      std::string out = "HTTP/1.1 " + std::to_string(reply.status) + (reply.status == 200 ? " OK\r\n" : " Status\r\n");
      if (!reply.content_type.empty()) out += "Content-Type: " + reply.content_type + "\r\n";
      out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
      for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
      out += keep_alive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
      if (request.method != "HEAD") out.append(reply.body, 0, reply.drop_mid_body ? reply.body.size() / 2 : reply.body.size());
      if (!send_all(out.data(), out.size()) || reply.drop_mid_body || !keep_alive) return;
    }
  };
  serve();  // the connection closes as it goes out of scope
}

}  // namespace velmora::test
