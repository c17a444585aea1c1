// Sockets of platform/net on 127.0.0.1: strict address parsing, the wake-up of a waiting thread,
// sends to a peer that left (no SIGPIPE), accept without a pending connection, port probing.
#include <thread>

#include <gtest/gtest.h>

#include "platform/net.h"

namespace velmora {
namespace {

TEST(Net, ParsesOnlyPlainDottedAddresses) {
  EXPECT_EQ(FormatIPv4(*ParseIPv4("192.168.10.3")), "192.168.10.3");
  EXPECT_EQ(*ParseIPv4("127.0.0.1"), LoopbackIPv4());
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "1.2.3.4\n", "a.b.c.d",
                          "1.2.3.4<b>", "0x7f.0.0.1", "1234567890123456"}) {
    EXPECT_FALSE(ParseIPv4(bad)) << bad;
  }
}

TEST(Net, WakeEventEndsAWaitOnASocketFromAnotherThread) {
  UniqueFd listener = ListenTcp(0, true);
  ASSERT_TRUE(listener.Valid());
  WakeEvent wake;
  ASSERT_TRUE(wake.Valid());
  EXPECT_EQ(WaitSocket(listener.Get(), true, false, &wake, 0), WaitResult::kTimeout);
  std::thread setter([&wake] { wake.Set(); });
  EXPECT_EQ(WaitSocket(listener.Get(), true, false, &wake, -1), WaitResult::kWoken);
  setter.join();
  EXPECT_TRUE(wake.IsSet());
  EXPECT_EQ(WaitSocket(listener.Get(), true, false, &wake, -1), WaitResult::kWoken);  // stays set
  wake.Reset();
  EXPECT_FALSE(wake.IsSet());
  EXPECT_EQ(WaitSocket(listener.Get(), true, false, &wake, 10), WaitResult::kTimeout);
}

TEST(Net, AcceptSendAndReceiveWithoutBlockingOrSigpipe) {
  UniqueFd listener = ListenTcp(0, true);
  ASSERT_TRUE(listener.Valid());
  const uint16_t port = LocalPort(listener.Get());
  IoStatus status = IoStatus::kOk;
  EXPECT_FALSE(AcceptTcp(listener.Get(), nullptr, &status).Valid());
  EXPECT_EQ(status, IoStatus::kWouldBlock);

  UniqueFd client = ConnectTcp("127.0.0.1", port, 5000, nullptr);
  ASSERT_TRUE(client.Valid());
  ASSERT_EQ(WaitSocket(listener.Get(), true, false, nullptr, 5000), WaitResult::kReady);
  PeerAddress peer;
  UniqueFd server = AcceptTcp(listener.Get(), &peer, &status);
  ASSERT_TRUE(server.Valid());
  EXPECT_EQ(peer.address, LoopbackIPv4());
  EXPECT_EQ(peer.port, LocalPort(client.Get()));

  char buffer[16];
  size_t n = 0;
  EXPECT_EQ(ReceiveSome(server.Get(), buffer, sizeof buffer, &n), IoStatus::kWouldBlock);
  ASSERT_EQ(SendSome(client.Get(), "ping", 4, &n), IoStatus::kOk);
  EXPECT_EQ(n, 4u);
  ASSERT_EQ(WaitSocket(server.Get(), true, false, nullptr, 5000), WaitResult::kReady);
  ASSERT_EQ(ReceiveSome(server.Get(), buffer, sizeof buffer, &n), IoStatus::kOk);
  EXPECT_EQ(std::string(buffer, n), "ping");

  // The peer leaves: a receive sees the end, and sends fail without killing the process.
  client.Reset();
  ASSERT_EQ(WaitSocket(server.Get(), true, false, nullptr, 5000), WaitResult::kReady);
  EXPECT_EQ(ReceiveSome(server.Get(), buffer, sizeof buffer, &n), IoStatus::kClosed);
  std::string big(1 << 20, 'x');
  IoStatus last = IoStatus::kOk;
  for (int i = 0; i < 50 && last == IoStatus::kOk; ++i) last = SendSome(server.Get(), big.data(), big.size(), &n);
  EXPECT_EQ(last, IoStatus::kError);
}

TEST(Net, PortsThatAreListenedOnAreNotBindable) {
  UniqueFd listener = ListenTcp(0, false);
  ASSERT_TRUE(listener.Valid());
  const uint16_t port = LocalPort(listener.Get());
  EXPECT_FALSE(CanBindTcp(port));
  std::string error;
  EXPECT_FALSE(ListenTcp(port, false, &error).Valid());
  EXPECT_FALSE(error.empty());
  listener.Reset();
  EXPECT_TRUE(CanBindTcp(port));
  // Nothing listens there now: a connection is refused at once.
  EXPECT_FALSE(ConnectTcp("127.0.0.1", port, 5000, nullptr, &error).Valid());
}

TEST(Net, NameLookUpsEndOnTheWakeEvent) {
  // (Names from the hosts file only: no test asks a name server.)
  EXPECT_EQ(ResolveIPv4("localhost"), LoopbackIPv4());
  EXPECT_FALSE(ResolveIPv4("localhost", true));  // only loopback addresses
  // A set event ends the wait at once; a look-up left behind finishes on its own and frees its
  // record (checked by the sanitizer builds).
  WakeEvent stop;
  stop.Set();
  for (int i = 0; i < 20; ++i) {
    std::optional<uint32_t> got = ResolveIPv4("localhost", false, &stop, 60000);
    EXPECT_TRUE(!got || *got == LoopbackIPv4());
  }
}

}  // namespace
}  // namespace velmora
