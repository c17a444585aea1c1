// HttpFetch / HttpGet against the test server on 127.0.0.1: bytes, buffers, cookies, failures,
// keep-alive, redirects and the proxy list.
#include "core/http.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/proxy_list.h"
#include "core/settings.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpTestServer;

// Settings folders of this program: a temporary config and data folder, so that neither the
// user's proxy settings nor a proxy.txt of a real data folder play a role.
class HttpEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<test::TempDir>();
    setenv("VELMORA_CONFIG_DIR", (dir_->path() + "config").c_str(), 1);
    setenv("VELMORA_DATA_DIR", (dir_->path() + "data").c_str(), 1);
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<test::TempDir> dir_;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new HttpEnvironment);

std::string BinaryBytes(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

TEST(Http, ExactBytesIntoCallersBuffer) {
  HttpTestServer server;
  const std::string tile = BinaryBytes(100000);
  server.Route("/tiles/1/2/3.png", HttpReply::Ok(tile, "image/png"));

  HttpResult r = HttpFetch(server.Url("/tiles/1/2/3.png"));
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_EQ(r.http_status, 200);
  EXPECT_EQ(r.content_type, "image/png");
  EXPECT_EQ(r.Text(), tile);
  EXPECT_FALSE(r.IsHtml());

  std::vector<uint8_t> storage(tile.size() + 10, 0xAA);
  uint8_t* buffer = storage.data();
  int n = HttpGet(server.Url("/tiles/1/2/3.png").c_str(), &buffer, static_cast<int>(storage.size()), nullptr);
  ASSERT_EQ(n, static_cast<int>(tile.size()));
  EXPECT_EQ(buffer, storage.data());
  EXPECT_EQ(0, std::memcmp(storage.data(), tile.data(), tile.size()));
  EXPECT_EQ(storage[tile.size()], 0);  // a NUL after the bytes when there is room
  EXPECT_EQ(storage[tile.size() + 1], 0xAA);
}

TEST(Http, NullBufferIsAllocatedAndGrown) {
  HttpTestServer server;
  const std::string reply = BinaryBytes(300000);
  server.Route("/big", HttpReply::Ok(reply));
  uint8_t* buffer = nullptr;
  int n = HttpGet(server.Url("/big").c_str(), &buffer, 512, nullptr);
  ASSERT_EQ(n, static_cast<int>(reply.size()));
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(0, std::memcmp(buffer, reply.data(), reply.size()));
  EXPECT_EQ(buffer[n], 0);
  HttpFreeBuffer(buffer);

  // A failure leaves the pointer null: nothing for the caller to free.
  buffer = nullptr;
  EXPECT_EQ(HttpGet(server.Url("/missing").c_str(), &buffer, 0, nullptr), 0);
  EXPECT_EQ(buffer, nullptr);
}

TEST(Http, ReplyLargerThanTheBufferIsReportedNotCut) {
  HttpTestServer server;
  const std::string reply = BinaryBytes(5000);
  server.Route("/r", HttpReply::Ok(reply));

  std::vector<uint8_t> storage(1000 + 16, 0xAA);
  uint8_t* buffer = storage.data();
  EXPECT_EQ(HttpGet(server.Url("/r").c_str(), &buffer, 1000, nullptr), -kHttpErrorTooLarge);
  EXPECT_EQ(0, std::memcmp(storage.data(), reply.data(), 1000));  // the buffer holds the start
  for (size_t i = 1000; i < storage.size(); ++i) ASSERT_EQ(storage[i], 0xAA) << "written past the buffer at " << i;

  // Exactly the buffer's size is not too large.
  buffer = storage.data();
  server.Route("/exact", HttpReply::Ok(reply.substr(0, 1000)));
  EXPECT_EQ(HttpGet(server.Url("/exact").c_str(), &buffer, 1000, nullptr), 1000);
  EXPECT_EQ(storage[1000], 0xAA);

  HttpOptions options;
  options.max_bytes = 4999;
  HttpResult r = HttpFetch(server.Url("/r"), options);
  EXPECT_TRUE(r.TooLarge());
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.body.size(), 4999u);
}

TEST(Http, CookiesHeadersAndAgentArrive) {
  HttpTestServer server;
  server.Route("/geo", HttpReply::Ok("{}", "application/json"));
  const char* const cookies[] = {"key", "abc123", "session", "x%20y", nullptr};
  uint8_t* buffer = nullptr;
  ASSERT_EQ(HttpGet(server.Url("/geo?q=1").c_str(), &buffer, 0, cookies), 2);
  HttpFreeBuffer(buffer);

  HttpOptions options;
  options.headers = {"Referer: http://example.invalid/map"};
  options.cookies = {{"only", "one"}};
  ASSERT_TRUE(HttpFetch(server.Url("/geo"), options).Ok());

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].path, "/geo");
  EXPECT_EQ(requests[0].query, "q=1");
  EXPECT_EQ(requests[0].Cookie("key"), "abc123");
  EXPECT_EQ(requests[0].Cookie("session"), "x%20y");
  EXPECT_NE(requests[0].Header("User-Agent").find("Velmora"), std::string::npos);
  // Cookies of one request do not stick to the next one on the same thread.
  EXPECT_EQ(requests[1].Cookie("key"), "");
  EXPECT_EQ(requests[1].Cookie("only"), "one");
  EXPECT_EQ(requests[1].Header("referer"), "http://example.invalid/map");
}

TEST(Http, TimeOutGivesANegativeCode) {
  HttpTestServer server;
  server.Route("/slow", HttpReply::Delayed(60000, HttpReply::Ok("late")));
  const int saved = AppOptions().http_timeout_ms;
  AppOptions().http_timeout_ms = 200;
  uint8_t* buffer = nullptr;
  int n = HttpGet(server.Url("/slow").c_str(), &buffer, 0, nullptr);
  AppOptions().http_timeout_ms = saved;
  EXPECT_EQ(n, -kHttpErrorTimeout);
  EXPECT_EQ(buffer, nullptr);

  HttpOptions options;
  options.timeout_ms = 200;
  HttpResult r = HttpFetch(server.Url("/slow"), options);
  EXPECT_TRUE(r.TimedOut());
  EXPECT_TRUE(r.NetworkError());
  EXPECT_FALSE(r.error.empty());
}

TEST(Http, RefusedAndDroppedConnectionsAreNetworkErrors) {
  const std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
  uint8_t* buffer = nullptr;
  EXPECT_EQ(HttpGet(url.c_str(), &buffer, 0, nullptr), -7);  // could not connect
  EXPECT_EQ(buffer, nullptr);

  HttpTestServer server;
  server.Route("/drop", HttpReply::Drop());
  HttpReply half = HttpReply::Ok(BinaryBytes(4000));
  half.drop_mid_body = true;
  server.Route("/half", half);
  EXPECT_LT(HttpGet(server.Url("/drop").c_str(), &buffer, 0, nullptr), 0);
  HttpResult r = HttpFetch(server.Url("/half"));
  EXPECT_TRUE(r.NetworkError());
  EXPECT_FALSE(r.Ok());
  EXPECT_LT(HttpGet(server.Url("/half").c_str(), &buffer, 0, nullptr), 0);
  EXPECT_EQ(buffer, nullptr);

  // Not an HTTP address at all.
  EXPECT_LT(HttpGet("file:///etc/passwd", &buffer, 0, nullptr), 0);
  EXPECT_EQ(HttpGet(nullptr, &buffer, 0, nullptr), 0);
}

TEST(Http, ErrorStatusesAndHtmlPagesAreToldApart) {
  HttpTestServer server;
  server.Route("/500", HttpReply::ServerError());
  server.Route("/html", HttpReply::HtmlErrorPage());
  server.Route("/sniff", HttpReply::Ok("\xEF\xBB\xBF\r\n  <HTML><body>blocked</body></HTML>", "text/plain"));

  HttpResult missing = HttpFetch(server.Url("/nothing-here"));
  EXPECT_FALSE(missing.NetworkError());
  EXPECT_EQ(missing.http_status, 404);
  EXPECT_FALSE(missing.Ok());
  HttpResult failed = HttpFetch(server.Url("/500"));
  EXPECT_EQ(failed.http_status, 500);

  uint8_t buf[256];
  uint8_t* buffer = buf;
  EXPECT_EQ(HttpGet(server.Url("/nothing-here").c_str(), &buffer, sizeof buf, nullptr), 0);
  EXPECT_EQ(HttpGet(server.Url("/500").c_str(), &buffer, sizeof buf, nullptr), 0);

  HttpResult page = HttpFetch(server.Url("/html"));
  EXPECT_TRUE(page.Ok());  // status 200: only the content tells
  EXPECT_TRUE(page.IsHtml());
  EXPECT_TRUE(HttpFetch(server.Url("/sniff")).IsHtml());
  // The old call hands the page over; the caller's error-page check looks at it.
  EXPECT_GT(HttpGet(server.Url("/html").c_str(), &buffer, sizeof buf, nullptr), 0);
}

TEST(Http, ConnectionsAreKeptAliveAndRedirectsFollowed) {
  HttpTestServer server;
  server.Route("/t", HttpReply::Ok("tile"));
  HttpReply moved = HttpReply::Status(302);
  moved.headers = {{"Location", "/t"}};
  server.Route("/old", moved);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(HttpFetch(server.Url("/t")).Ok());
  EXPECT_EQ(server.ConnectionCount(), 1);

  HttpResult r = HttpFetch(server.Url("/old"));
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.Text(), "tile");
}

TEST(ProxyList, ReadsTheFileFormats) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("proxy.txt"),
                      "# proxies\n 10.0.0.1:8080 \r\n\n10.0.0.2\t3128\n;off\nsocks5://10.0.0.3:1080\n");
  CProxyList list;
  ASSERT_TRUE(list.Load(dir.File("proxy.txt")));
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Current(), "10.0.0.1:8080");
  list.UseNextProxy();
  EXPECT_EQ(list.Current(), "10.0.0.2:3128");
  list.UseNextProxy();
  EXPECT_EQ(list.Current(), "socks5://10.0.0.3:1080");
  list.UseNextProxy();
  EXPECT_EQ(list.Current(), "10.0.0.1:8080");

  CProxyList none;
  EXPECT_TRUE(none.Load(dir.File("missing.txt")));
  EXPECT_FALSE(none.InUse());
  none.OnProxyFailure(1);  // nothing to switch
  EXPECT_EQ(none.Current(), "");
}

TEST(ProxyList, FailingProxiesArePassedOverUntilAllFailed) {
  CProxyList list;
  list.SetProxies({"a", "b", "c"});
  std::string seen;
  auto fail = [&] {
    list.OnProxyFailure(1);
    seen += list.Current();
  };
  for (int i = 0; i < 7; ++i) fail();  // a reaches three failures on the seventh
  EXPECT_EQ(seen, "bcabcab");
  list.OnProxyFailure(0);              // b worked: its count is cleared
  EXPECT_EQ(list.CurrentFailures(), 0);
  seen.clear();
  fail();                              // b 1 -> c
  fail();                              // c 3 -> a is passed over -> b
  fail();                              // b 2 -> only b is still usable
  EXPECT_EQ(seen, "cbb");
  fail();                              // b 3: all failed, all get a new chance
  EXPECT_EQ(list.Current(), "c");
  EXPECT_EQ(list.CurrentFailures(), 0);
}

TEST(ProxyList, RequestsGoThroughTheCurrentProxyAndSwitchOnFailure) {
  // Two test servers act as HTTP proxies: they receive the absolute address of the request.
  HttpTestServer first, second;
  const std::string target = "http://tiles.example.invalid/3/4/5.png";
  first.Route(target, HttpReply::Ok("via first", "image/png"));
  second.Route(target, HttpReply::Ok("via second", "image/png"));
  test::WriteTestFile(AppOptions().data_dir + "proxy.txt",
                      "127.0.0.1:" + std::to_string(first.Port()) + "\n127.0.0.1 " +
                          std::to_string(second.Port()) + "\n");
  ASSERT_TRUE(ReloadProxyList());
  ASSERT_TRUE(ProxyList().InUse());

  HttpResult r = HttpFetch(target);
  EXPECT_EQ(r.Text(), "via first");
  EXPECT_EQ(r.proxy, "127.0.0.1:" + std::to_string(first.Port()));
  OnProxyFailure(1);
  EXPECT_EQ(HttpFetch(target).Text(), "via second");
  OnProxyFailure(0);
  EXPECT_EQ(HttpFetch(target).Text(), "via second");
  ASSERT_EQ(first.RequestCount(), 1u);
  EXPECT_EQ(first.Requests()[0].target, target);

  // Without a list the profile's proxy is used.
  std::remove((AppOptions().data_dir + "proxy.txt").c_str());
  ASSERT_TRUE(ReloadProxyList());
  EXPECT_FALSE(ProxyList().InUse());
  ASSERT_TRUE(WriteProfileString(kHttpProfileSection, "ProxyServer",
                                 "http://127.0.0.1:" + std::to_string(second.Port())));
  EXPECT_EQ(HttpFetch(target).Text(), "via second");
  HttpOptions direct;
  direct.use_proxy = false;
  direct.timeout_ms = 2000;
  EXPECT_TRUE(HttpFetch("http://127.0.0.1:" + std::to_string(first.Port()) + "/none", direct).http_status == 404);
  ASSERT_TRUE(WriteProfileString(kHttpProfileSection, "ProxyServer", ""));
}

}  // namespace
}  // namespace velmora
