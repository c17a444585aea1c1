// The map publishing server under abuse, over real sockets: hundreds of connections that send
// nothing and hundreds that drip a header byte now and then fill the service, while a normal
// client opens new connections and asks on a kept-alive one; every one of its requests must be
// answered within a second, and the counters and peer list must show every client.
#include <chrono>
#include <set>

#include "platform/process.h"
#include "server/wmts_abuse.h"
#include "server/wmts_server.h"
#include "server/wmts_test_util.h"

namespace velmora {
namespace {

using test::AbuseDriver;
using test::HttpAnswer;
using test::RawClient;
using test::ServerEnvironment;
using test::TileUrl;

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

TEST(WmtsAbuse, NormalClientIsAnsweredWhileSilentAndSlowClientsFillTheService) {
  // Both ends of 1,100 connections live in this process.
  if (RaiseOpenFileLimit(8192) < 4096) GTEST_SKIP() << "fewer than 4096 descriptors may be opened";
  test::TempDir dir;
  const uint16_t port = test::FreePort();
  CWmtsServer server;
  WmtsServerOptions& o = server.Options();
  test::ConfigureTestServer(o, port, dir.File("wmts.dat"));
  // Short time-outs so that the test runs in seconds; the service cap stays the default.
  o.header_timeout_ms = 3000;
  o.pressed_header_timeout_ms = 1000;
  o.slow_request_grace_ms = 300;
  std::string tile = ServerEnvironment::Get()->StoreTile(35, 6, 10, 11, 0xFF336699u);
  ASSERT_TRUE(server.Start());
  CWmtsService& service = *server.Services().at(0);

  AbuseDriver::Config config;
  config.port = port;
  config.path = "/styles/site.css";
  config.silent = 600;
  config.slow = 500;
  config.slow_interval_ms = 400;
  config.reconnect_delay_ms = 50;  // closed ones come straight back
  config.addresses = 200;
  AbuseDriver abuse(config);
  abuse.Start();
  ASSERT_TRUE(test::WaitUntil(
      [&] { return static_cast<size_t>(service.LiveClients()) >= o.max_clients_per_service; }, 30000));

  // The normal client: new connections, and one kept alive, each answered within a second,
  // asking without pause for 2.5 s (the slow clients drip several bytes meanwhile, the pressed
  // header time-out passes twice) and at least 30 times.
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(2500);
  double slowest_ms = 0;
  int answered = 0, asked = 0;
  RawClient kept(port);
  while (asked < 30 || Clock::now() < until) {
    for (bool fresh : {true, false}) {
      ++asked;
      auto start = Clock::now();
      std::unique_ptr<RawClient> own;
      RawClient* c = &kept;
      if (fresh) {
        own = std::make_unique<RawClient>(port);
        c = own.get();
      }
      HttpAnswer a;
      if (c->Get(TileUrl(35, 6, 10, 11)) && c->Read(&a, 1000) && a.body == tile) ++answered;
      slowest_ms = std::max(slowest_ms, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  std::printf("normal client: %d of %d answered, slowest %.1f ms; abusive connections closed: %ld\n", answered, asked,
              slowest_ms, abuse.Read().closed_by_server);
  EXPECT_EQ(answered, asked);
  EXPECT_LT(slowest_ms, 1000.0);

  // The abuse kept the service full all along, and it never went past its cap.
  AbuseDriver::Numbers n = abuse.Read();
  EXPECT_GE(n.closed_by_server, config.silent + config.slow);
  EXPECT_GE(static_cast<size_t>(service.LiveClients()), o.max_clients_per_service * 9 / 10);
  EXPECT_LE(static_cast<size_t>(service.LiveClients()), o.max_clients_per_service);
  abuse.Stop();

  // Every client is on record: the normal one and the 200 addresses of the abuse.
  auto peers = service.Peers();
  EXPECT_TRUE(peers.count(LoopbackIPv4()));
  EXPECT_EQ(peers.size(), 201u);
  // The slow clients' bytes are counted.
  EXPECT_GT(service.ReceivedBytes(), 500u * 40);
  server.StopServices(0);
  EXPECT_EQ(service.ReapClients(), 0);
}

}  // namespace
}  // namespace velmora
