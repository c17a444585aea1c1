// The map publishing server under concurrent load (also run under ThreadSanitizer): clients keep
// requesting while the user-interface thread starts, stops, toggles, removes and re-adds the
// service; a shut-down with stalled readers, or with hundreds of abusive connections, ends every
// connection and thread.
#include <atomic>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "server/wmts_abuse.h"
#include "server/wmts_server.h"
#include "server/wmts_test_util.h"

namespace velmora {
namespace {

using test::HttpAnswer;
using test::RawClient;
using test::ServerEnvironment;
using test::TileUrl;

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

class WmtsServerThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = test::FreePort();
    test::ConfigureTestServer(server_.Options(), port_, dir_.File("wmts.dat"));
  }

  test::TempDir dir_;
  uint16_t port_ = 0;
  CWmtsServer server_;
};

// Keeps connecting and asking until `stop`; every answer counts in `answered`.
void ClientLoop(uint16_t port, int seed, const std::atomic<bool>& stop, std::atomic<int>& answered) {
  const std::string paths[] = {TileUrl(35, 4, 5, 6), "/", "/wmtsInfo.js", "/styles/site.css",
                               TileUrl(35, 9, seed, 7), TileUrl(8, 4, 1, 1)};
  int n = seed;
  while (!stop.load()) {
    RawClient client(port);
    if (!client.Connected()) continue;
    for (int i = 0; i < 15 && !stop.load(); ++i) {
      HttpAnswer a;
      if (!client.Get(paths[n++ % 6]) || !client.Read(&a, 5000)) break;
      answered.fetch_add(1);
      answered.notify_all();
    }
  }
}

// Waits (without a time limit of its own: the test's time-out guards it) for more answers.
void WaitForAnswers(std::atomic<int>& answered, int more) {
  int target = answered.load() + more;
  for (int seen = answered.load(); seen < target; seen = answered.load()) answered.wait(seen);
}

TEST_F(WmtsServerThreadsTest, ServiceChangesWhileClientsAreConnected) {
  ServerEnvironment::Get()->StoreTile(35, 4, 5, 6, 0xFF445566u);
  ASSERT_TRUE(server_.Start());
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 6; ++i) clients.emplace_back(ClientLoop, port_, i, std::cref(stop), std::ref(answered));

  for (int round = 0; round < 8; ++round) {
    WaitForAnswers(answered, 10);
    CWmtsService* service = server_.Services().at(0);
    switch (round % 4) {
      case 0:  // start/stop twice: stopping closes the connections too
        service->ToggleRunning();
        EXPECT_FALSE(service->IsRunning());
        service->ToggleRunning();
        EXPECT_TRUE(service->IsRunning());
        break;
      case 1:  // modify: stop accepting, keep the connections, start again
        service->Stop();
        service->SetName("renamed");
        service->SetLayers({0}, {7, 3});
        EXPECT_TRUE(service->StartAccept());
        break;
      case 2:  // delete and add again on the same port
        server_.RemoveServices(port_);
        EXPECT_TRUE(server_.Services().empty());
        EXPECT_TRUE(server_.AddService("again", port_)->StartAccept());
        break;
      case 3:  // shut-down's stop, then the services start again
        server_.StopServices(0);
        EXPECT_FALSE(server_.Services().at(0)->IsRunning());
        server_.LoadServices(true);
        EXPECT_TRUE(server_.Services().at(0)->IsRunning());
        break;
    }
    (void)server_.Services().at(0)->DisplayText(2);
  }
  WaitForAnswers(answered, 10);
  stop.store(true);
  server_.StopServices(0);  // wakes any client still waiting for an answer
  for (std::thread& t : clients) t.join();
  EXPECT_GT(answered.load(), 90);
}

TEST_F(WmtsServerThreadsTest, StopEndsConnectionsThatDoNotRead) {
  ASSERT_TRUE(server_.Start());
  std::vector<std::unique_ptr<RawClient>> stalled;
  for (int i = 0; i < 6; ++i) {
    stalled.push_back(std::make_unique<RawClient>(port_));
    int small = 4096;
    ::setsockopt(stalled.back()->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(stalled.back()->Get("/big/blob.js"));
  }
  RawClient half(port_);
  ASSERT_TRUE(half.Send("GET /styles/site.css HTTP/1.1\r\n"));
  RawClient idle(port_);
  HttpAnswer a;
  ASSERT_TRUE(idle.Get("/styles/site.css"));
  ASSERT_TRUE(idle.Read(&a));
  CWmtsService* service = server_.Services().at(0);
  EXPECT_EQ(service->ReapClients(), 8);

  server_.StopServices(0);
  EXPECT_FALSE(service->IsRunning());
  EXPECT_EQ(service->ReapClients(), 0);
  EXPECT_TRUE(half.WaitClosed(5000));
  EXPECT_TRUE(idle.WaitClosed(5000));
  // No new connection is taken after the stop.
  RawClient late(port_);
  EXPECT_FALSE(late.Connected());
}

TEST_F(WmtsServerThreadsTest, ConcurrentPeersAndCountersAddUp) {
  ASSERT_TRUE(server_.Start());
  const std::string request = "GET /styles/site.css HTTP/1.1\r\n\r\n";
  constexpr int kThreads = 8, kRequests = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string from = "127.0.0." + std::to_string(10 + t);
      RawClient client(port_, from.c_str());
      for (int i = 0; i < kRequests; ++i) {
        HttpAnswer a;
        ASSERT_TRUE(client.Send(request));
        ASSERT_TRUE(client.Read(&a));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  CWmtsService* service = server_.Services().at(0);
  service->StopClients();
  EXPECT_EQ(service->ReceivedBytes(), uint64_t{kThreads} * kRequests * request.size());
  auto peers = service->Peers();
  EXPECT_EQ(peers.size(), static_cast<size_t>(kThreads));
  for (const auto& [address, record] : peers) {
    EXPECT_NE(record.first_tick, 0u);
    EXPECT_GE(record.last_tick, record.first_tick);
  }
}

TEST_F(WmtsServerThreadsTest, ShutDownWithHundredsOfAbusiveConnections) {
  ASSERT_TRUE(WriteProfileInt("option", "wmtslog", 1));
  bool started = server_.Start();
  WriteProfileInt("option", "wmtslog", 0);
  ASSERT_TRUE(started);
  CWmtsService* service = server_.Services().at(0);
  test::AbuseDriver::Config config;
  config.port = port_;
  config.path = "/styles/site.css";
  config.silent = 300;
  config.slow = 200;
  config.idle = 50;
  config.slow_interval_ms = 200;
  config.reconnect = false;
  test::AbuseDriver abuse(config);
  abuse.Start();
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) clients.emplace_back(ClientLoop, port_, i, std::cref(stop), std::ref(answered));
  ASSERT_TRUE(test::WaitUntil([&] { return service->LiveClients() >= 500; }, 30000));
  WaitForAnswers(answered, 40);

  server_.StopServices(0);
  EXPECT_FALSE(service->IsRunning());
  EXPECT_EQ(service->ReapClients(), 0);
  EXPECT_EQ(service->LiveClients(), 0);
  // Every abusive connection was closed by the server.
  EXPECT_TRUE(abuse.WaitHeld(0, 0, 0, 1));
  EXPECT_TRUE(test::WaitUntil([&] {
    test::AbuseDriver::Numbers n = abuse.Read();
    return n.held_silent + n.held_slow + n.held_idle == 0;
  }));
  stop.store(true);
  for (std::thread& t : clients) t.join();
  abuse.Stop();
  // The request log kept up: the normal clients' requests are in it.
  server_.RequestLog().Close();
  std::string log = test::ReadTestFile(AppOptions().data_dir + "wmts.log");
  EXPECT_NE(log.find("GET /styles/site.css HTTP/1.1"), std::string::npos);
  std::remove((AppOptions().data_dir + "wmts.log").c_str());
}

}  // namespace
}  // namespace velmora
