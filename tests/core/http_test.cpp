// HttpFetch / HttpGet against the test server on 127.0.0.1: bytes, buffers, cookies, failures,
// keep-alive, redirects and the proxy list.
#include "core/http.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "core/proxy_list.h"
#include "core/settings.h"
#include "platform/net.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpTestServer;

// Neither the user's proxy settings nor a proxy.txt of a real data folder play a role.
const test::TempDir& kFolders = test::IsolatedFolders();

std::string BinaryBytes(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

int Get(const std::string& url, uint8_t** buffer, int size = 0) { return HttpGet(url.c_str(), buffer, size, nullptr); }

TEST(Http, ExactBytesIntoCallersBufferOrANewOneNeverPastIt) {
  HttpTestServer server;
  const std::string tile = BinaryBytes(300000);
  server.Route("/tiles/1/2/3.png", HttpReply::Ok(tile, "image/png"));
  HttpResult r = HttpFetch(server.Url("/tiles/1/2/3.png"));
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_EQ(r.content_type, "image/png");
  EXPECT_EQ(r.Text(), tile);

  std::vector<uint8_t> storage(tile.size() + 10, 0xAA);
  uint8_t* buffer = storage.data();
  ASSERT_EQ(Get(server.Url("/tiles/1/2/3.png"), &buffer, static_cast<int>(storage.size())), static_cast<int>(tile.size()));
  EXPECT_EQ(buffer, storage.data());
  EXPECT_EQ(0, std::memcmp(storage.data(), tile.data(), tile.size()));
  EXPECT_EQ(storage[tile.size()], 0);  // a NUL after the bytes when there is room
  EXPECT_EQ(storage[tile.size() + 1], 0xAA);

  // A null buffer is allocated and grown past the size hint.
  buffer = nullptr;
  ASSERT_EQ(Get(server.Url("/tiles/1/2/3.png"), &buffer, 512), static_cast<int>(tile.size()));
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(0, std::memcmp(buffer, tile.data(), tile.size()));
  EXPECT_EQ(buffer[tile.size()], 0);
  HttpFreeBuffer(buffer);
  buffer = nullptr;
  EXPECT_EQ(Get(server.Url("/missing"), &buffer), 0);
  EXPECT_EQ(buffer, nullptr);  // a failure leaves nothing for the caller to free

  // A reply larger than the buffer is reported, not cut, and nothing is written past the buffer.
  const std::string reply = tile.substr(0, 5000);
  server.Route("/r", HttpReply::Ok(reply));
  server.Route("/exact", HttpReply::Ok(reply.substr(0, 1000)));
  storage.assign(1000 + 16, 0xAA);
  buffer = storage.data();
  EXPECT_EQ(Get(server.Url("/r"), &buffer, 1000), -kHttpErrorTooLarge);
  EXPECT_EQ(0, std::memcmp(storage.data(), reply.data(), 1000));  // the buffer holds the start
  for (size_t i = 1000; i < storage.size(); ++i) ASSERT_EQ(storage[i], 0xAA) << "written past the buffer at " << i;
  EXPECT_EQ(Get(server.Url("/exact"), &buffer, 1000), 1000);  // exactly the buffer's size fits
  EXPECT_EQ(storage[1000], 0xAA);

  HttpOptions options;
  options.max_bytes = 4999;
  HttpResult large = HttpFetch(server.Url("/r"), options);
  EXPECT_TRUE(large.TooLarge());
  EXPECT_FALSE(large.Ok());
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
  EXPECT_EQ(requests[0].query, "q=1");
  EXPECT_EQ(requests[0].Cookie("key"), "abc123");
  EXPECT_EQ(requests[0].Cookie("session"), "x%20y");
  EXPECT_NE(requests[0].Header("User-Agent").find("Velmora"), std::string::npos);
  // Cookies of one request do not stick to the next one on the same thread.
  EXPECT_EQ(requests[1].Cookie("key"), "");
  EXPECT_EQ(requests[1].Cookie("only"), "one");
  EXPECT_EQ(requests[1].Header("referer"), "http://example.invalid/map");
}

// The tile manager's tests cover what HttpFetch's failures become; here the old call's codes.
TEST(Http, FailuresGiveNegativeCodesOrZero) {
  HttpTestServer server;
  server.Route("/slow", HttpReply::Delayed(60000, HttpReply::Ok("late")));
  server.Route("/500", HttpReply::ServerError());
  HttpReply half = HttpReply::Ok(BinaryBytes(4000));
  half.drop_mid_body = true;
  server.Route("/half", half);
  uint8_t* buffer = nullptr;
  {
    ScopedAppOptions short_timeout([](CAppOptions& o) { o.http_timeout_ms = 200; });
    EXPECT_EQ(Get(server.Url("/slow"), &buffer), -kHttpErrorTimeout);
  }
  UniqueFd listener = ListenTcp(0, true);
  const std::string closed = "http://127.0.0.1:" + std::to_string(LocalPort(listener.Get())) + "/x";
  listener.Reset();
  EXPECT_EQ(Get(closed, &buffer), -7);               // could not connect
  EXPECT_LT(Get(server.Url("/half"), &buffer), 0);   // a cut body is no success
  EXPECT_EQ(Get(server.Url("/500"), &buffer), 0);    // an error status
  EXPECT_LT(Get("file:///etc/passwd", &buffer), 0);  // not an HTTP address
  EXPECT_EQ(HttpGet(nullptr, &buffer, 0, nullptr), 0);
  EXPECT_EQ(buffer, nullptr);

  // A page in place of a tile is told by its content, also behind a text type and a BOM.
  server.Route("/sniff", HttpReply::Ok("\xEF\xBB\xBF\r\n  <HTML><body>blocked</body></HTML>", "text/plain"));
  HttpResult page = HttpFetch(server.Url("/sniff"));
  EXPECT_TRUE(page.Ok() && page.IsHtml());
}

TEST(Http, ConnectionsAreKeptAliveAndRedirectsFollowed) {
  HttpTestServer server;
  server.Route("/t", HttpReply::Ok("tile"));
  HttpReply moved = HttpReply::Status(302);
  moved.headers = {{"Location", "/t"}};
  server.Route("/old", moved);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(HttpFetch(server.Url("/t")).Ok());
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(HttpFetch(server.Url("/old")).Text(), "tile");
}

TEST(ProxyList, ReadsTheFileAndPassesOverFailingProxies) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("proxy.txt"),
                      "# proxies\n 10.0.0.1:8080 \r\n\n10.0.0.2\t3128\n;off\nsocks5://10.0.0.3:1080\n");
  CProxyList file;
  ASSERT_TRUE(file.Load(dir.File("proxy.txt")));
  ASSERT_EQ(file.Count(), 3u);
  std::vector<std::string> seen{file.Current()};
  for (int i = 0; i < 3; ++i) {
    file.UseNextProxy();
    seen.push_back(file.Current());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"10.0.0.1:8080", "10.0.0.2:3128", "socks5://10.0.0.3:1080", "10.0.0.1:8080"}));
  CProxyList none;
  EXPECT_TRUE(none.Load(dir.File("missing.txt")));
  EXPECT_FALSE(none.InUse());
  none.OnProxyFailure(1);  // nothing to switch

  CProxyList list;
  list.SetProxies({"a", "b", "c"});
  std::string order;
  auto fail = [&] {
    list.OnProxyFailure(1);
    order += list.Current();
  };
  for (int i = 0; i < 7; ++i) fail();  // a reaches three failures on the seventh
  EXPECT_EQ(order, "bcabcab");
  list.OnProxyFailure(0);              // b worked: its count is cleared
  EXPECT_EQ(list.CurrentFailures(), 0);
  order.clear();
  fail();                              // b 1 -> c
  fail();                              // c 3 -> a is passed over -> b
  fail();                              // b 2 -> only b is still usable
  EXPECT_EQ(order, "cbb");
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
  HttpResult r = HttpFetch(target);
  EXPECT_EQ(r.Text(), "via first");
  EXPECT_EQ(r.proxy, "127.0.0.1:" + std::to_string(first.Port()));
  OnProxyFailure(1);
  EXPECT_EQ(HttpFetch(target).Text(), "via second");
  OnProxyFailure(0);
  EXPECT_EQ(HttpFetch(target).Text(), "via second");
  ASSERT_EQ(first.RequestCount(), 1u);
  EXPECT_EQ(first.Requests()[0].target, target);

  // Without a list the profile's proxy is used; a request may bypass it.
  std::remove((AppOptions().data_dir + "proxy.txt").c_str());
  ASSERT_TRUE(ReloadProxyList());
  EXPECT_FALSE(ProxyList().InUse());
  ASSERT_TRUE(WriteProfileString(kHttpProfileSection, "ProxyServer",
                                 "http://127.0.0.1:" + std::to_string(second.Port())));
  EXPECT_EQ(HttpFetch(target).Text(), "via second");
  HttpOptions direct;
  direct.use_proxy = false;
  direct.timeout_ms = 2000;
  EXPECT_EQ(HttpFetch("http://127.0.0.1:" + std::to_string(first.Port()) + "/none", direct).http_status, 404);
  ASSERT_TRUE(WriteProfileString(kHttpProfileSection, "ProxyServer", ""));
}

}  // namespace
}  // namespace velmora
