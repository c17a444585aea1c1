// HttpTestServer: a small HTTP/1.1 server on 127.0.0.1 (ephemeral port) that stands in for the
// web services in tests. It answers recorded replies by path, or a handler's reply, records every
// request (path, headers, cookies), and can delay, drop the connection or answer errors.
// Thread-safe; keeps connections alive; serves several connections at once.
//
//   HttpTestServer server;
//   server.Route("/tiles/1/2/3.png", HttpReply::Ok(bytes, "image/png"));
//   HttpFetch(server.Url("/tiles/1/2/3.png"));
//   EXPECT_EQ(server.Requests().at(0).Cookie("key"), "abc");
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/net.h"

namespace velmora::test {

struct HttpReply {
  int status = 200;
  std::string content_type = "text/plain";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra header lines
  int delay_ms = 0;            // wait this long before answering (cut short when the server stops)
  bool drop = false;           // close the connection without answering
  bool drop_mid_body = false;  // send the headers and half the body, then close

  static HttpReply Ok(std::string body, std::string content_type = "text/plain");
  static HttpReply Status(int status, std::string body = std::string(),
                          std::string content_type = "text/plain");
  static HttpReply NotFound() { return Status(404, "not found"); }
  static HttpReply ServerError() { return Status(500, "internal error"); }
  // A 200 answer that is an HTML error page, as tile servers send instead of a tile.
  static HttpReply HtmlErrorPage(int status = 200);
  static HttpReply Drop();
  static HttpReply Delayed(int delay_ms, HttpReply reply);
};

struct HttpRequestRecord {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;    // without the query
  std::string query;   // after '?', "" when none
  std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
  std::map<std::string, std::string> cookies;                // from the Cookie header(s)
  std::string body;

  // The first header of that name (case ignored); "" when absent.
  std::string Header(std::string_view name) const;
  std::string Cookie(const std::string& name) const;
};

class HttpTestServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequestRecord&)>;

  // Listens on 127.0.0.1 with a port the system chooses and starts serving.
  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string BaseUrl() const;                     // "http://127.0.0.1:<port>"
  std::string Url(std::string_view target) const;  // BaseUrl() + target ('/' added if missing)

  // Routes. A request is matched against its whole target (path and query), then its path, then
  // the longest prefix route; otherwise 404 answers.
  void Route(const std::string& target, HttpReply reply);
  void Route(const std::string& target, Handler handler);
  void RoutePrefix(const std::string& prefix, Handler handler);

  std::vector<HttpRequestRecord> Requests() const;
  size_t RequestCount() const;
  int ConnectionCount() const;  // connections accepted so far
  // Waits until at least `count` requests arrived; false when `timeout_ms` passed first.
  bool WaitForRequests(size_t count, unsigned timeout_ms = 5000) const;

  // Stops accepting, closes every connection and joins the threads (the destructor does it too).
  void Stop();

 private:
  void AcceptLoop();
  void Serve(UniqueFd fd);
  HttpReply Answer(const HttpRequestRecord& request);

  UniqueFd listener_;
  WakeEvent wake_;  // set at Stop: ends every wait on a socket
  uint16_t port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::map<std::string, Handler> routes_;
  std::map<std::string, Handler> prefix_routes_;
  std::vector<HttpRequestRecord> requests_;
  int connections_ = 0;
  std::vector<std::thread> threads_;
  std::thread accept_thread_;
};

}  // namespace velmora::test
