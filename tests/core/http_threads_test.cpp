// HttpFetch from several threads at once (each with its own kept-alive handle) and the proxy
// rotation under concurrent reports; built for ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/http.h"
#include "core/proxy_list.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpTestServer;

const test::TempDir& kFolders = test::IsolatedFolders();  // no proxy settings of the user

TEST(HttpThreads, ParallelFetchesGetTheirOwnBytes) {
  HttpTestServer server;
  server.RoutePrefix("/tile/", [](const test::HttpRequestRecord& request) {
    return HttpReply::Ok("body of " + request.path + std::string(5000, 'x'));
  });
  constexpr int kThreads = 8, kEach = 25;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string path = "/tile/" + std::to_string(t) + "/" + std::to_string(i);
        HttpResult r = HttpFetch(server.Url(path));
        if (!r.Ok() || r.Text() != "body of " + path + std::string(5000, 'x')) ++wrong;
        uint8_t* buffer = nullptr;
        int n = HttpGet(server.Url(path).c_str(), &buffer, 0, nullptr);
        if (n != static_cast<int>(path.size() + 8 + 5000)) ++wrong;
        HttpFreeBuffer(buffer);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(kThreads * kEach * 2));
  // Each thread keeps its connection: far fewer connections than requests.
  EXPECT_LE(server.ConnectionCount(), kThreads * 2);
}

TEST(HttpThreads, ProxyRotationUnderConcurrentReports) {
  CProxyList list;
  list.SetProxies({"a:1", "b:1", "c:1", "d:1"});
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        list.OnProxyFailure((i + t) % 3 == 0);
        ASSERT_EQ(list.Current().size(), 3u);  // never a torn or empty text
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_LE(list.CurrentFailures(), CProxyList::kMaxFailures);
}

}  // namespace
}  // namespace velmora
