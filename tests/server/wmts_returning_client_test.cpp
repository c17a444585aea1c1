// A client whose earlier requests the map publishing server refused or cut (another method, an
// unknown path, a request split over many writes, pipelined requests, a 1 MiB header) comes back
// while 400 slow connections from 40 other addresses are open: it must be answered like any
// other while the service has room, also when the process runs short of descriptors and the
// server closes a connection to accept the next. Real sockets, all on 127.0.0.0/8.
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

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

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

constexpr char kClient[] = "127.0.0.1";
constexpr int kSlow = 400;

// The refused and cut requests of one client, each on a connection of its own, as the server
// answers them. The oversized header ends its connection before a whole request came, which the
// service remembers of the client.
void SendBadRequests(uint16_t port) {
  HttpAnswer a;
  RawClient post(port, kClient);
  ASSERT_TRUE(post.Send("POST /upload HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"));
  ASSERT_TRUE(post.Read(&a));
  EXPECT_EQ(a.status_line, "HTTP/1.0 501 Not Implemented");
  RawClient unknown(port, kClient);
  ASSERT_TRUE(unknown.Get("/no/such/file.html"));
  EXPECT_TRUE(unknown.WaitClosed());
  RawClient split(port, kClient);
  const std::string request = "GET /styles/site.css HTTP/1.1\r\nHost: x\r\n\r\n";
  for (size_t i = 0; i < request.size(); i += 5) ASSERT_TRUE(split.Send(request.substr(i, 5)));
  ASSERT_TRUE(split.Read(&a));
  RawClient pipelined(port, kClient);
  ASSERT_TRUE(pipelined.Send("GET /styles/site.css HTTP/1.1\r\n\r\nGET /img/dot.png HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(pipelined.Read(&a));
  ASSERT_TRUE(pipelined.Read(&a));
  RawClient huge(port, kClient);
  huge.Send("GET / HTTP/1.1\r\nX-Fill: " + std::string(1 << 20, 'a') + "\r\n\r\n");
  EXPECT_TRUE(huge.WaitClosed());
}

bool AnswersHome(RawClient& client) {
  HttpAnswer a;
  return client.Get("/") && client.Read(&a, 5000) && a.status_line == "HTTP/1.0 200 OK";
}

class WmtsReturningClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Both ends of every connection live in this process.
    if (RaiseOpenFileLimit(4096) < 2 * kSlow + 256) GTEST_SKIP() << "too few descriptors may be opened";
    port_ = test::FreePort();
    test::ConfigureTestServer(server_.Options(), port_, dir_.File("wmts.dat"));
    // Every connection here stays within its grace: none has dawdled long enough to go for
    // that alone, so only the order of choice decides.
    server_.Options().slow_request_grace_ms = 60000;
    ASSERT_TRUE(server_.Start());
    service_ = server_.Services().at(0);
    SendBadRequests(port_);
    AbuseDriver::Config config;
    config.port = port_;
    config.slow = kSlow;
    config.slow_interval_ms = 1000;
    config.addresses = 40;
    config.reconnect = false;
    slow_ = std::make_unique<AbuseDriver>(config);
    slow_->Start();
    ASSERT_TRUE(slow_->WaitHeld(0, kSlow, 0, 20000));
    ASSERT_TRUE(test::WaitUntil([&] { return service_->LiveClients() >= kSlow; }));
    ASSERT_LT(static_cast<size_t>(service_->LiveClients()), server_.Options().max_clients_per_service);
  }
  void TearDown() override {
    if (slow_) slow_->Stop();
    server_.StopServices(0);
  }

  test::TempDir dir_;
  uint16_t port_ = 0;
  CWmtsServer server_;
  CWmtsService* service_ = nullptr;
  std::unique_ptr<AbuseDriver> slow_;
};

TEST_F(WmtsReturningClientTest, AnsweredWhileOthersHoldSlowConnections) {
  for (int round = 0; round < 3; ++round) {
    RawClient client(port_, kClient);
    EXPECT_TRUE(AnswersHome(client)) << "round " << round;
  }
  EXPECT_EQ(slow_->Read().closed_by_server, 0);
}

// The descriptor limit allows exactly the client's connection (both ends) and one more client
// socket: the server cannot accept the next connection and closes one to make room. That must
// be the oldest connection without a request, not the returning client's new one.
TEST_F(WmtsReturningClientTest, ShortOfDescriptorsTheOldestGoesNotTheReturningClient) {
  // Holes below the highest descriptor are filled, so that the next three take the numbers
  // just below the limit.
  std::vector<int> fillers;
  int highest = 0;
  for (int fd = 0; fd < 65536; ++fd)
    if (::fcntl(fd, F_GETFD) >= 0) highest = fd;
  for (;;) {
    const int fd = ::dup(0);
    ASSERT_GE(fd, 0);
    if (fd > highest) {
      ::close(fd);
      break;
    }
    fillers.push_back(fd);
  }
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(highest) + 1 + 3;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

  RawClient returning(port_, kClient);  // accepted: the server takes the last descriptor
  ASSERT_TRUE(returning.Connected());
  ASSERT_TRUE(test::WaitUntil([&] { return service_->LiveClients() >= kSlow + 1; }));
  RawClient next(port_, "127.0.0.200");  // waits in the listen queue for a descriptor
  ASSERT_TRUE(next.Connected());
  // One slow connection goes for it; the returning client's is kept and answered.
  ASSERT_TRUE(test::WaitUntil([&] { return slow_->Read().closed_by_server >= 1; }));
  EXPECT_TRUE(AnswersHome(returning));
  EXPECT_TRUE(AnswersHome(next));
  // Usually exactly one goes; on a loaded machine the accept thread's wait for the freed
  // descriptor may run out once more, which costs another slow connection, never the client's.
  EXPECT_GE(slow_->Read().closed_by_server, 1);

  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
  for (int fd : fillers) ::close(fd);
}

}  // namespace
}  // namespace velmora
