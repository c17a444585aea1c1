// The map publishing server over real sockets on 127.0.0.1: tiles from the store and after a
// download, the example page and script, the protocol's answers and refusals, bounded requests,
// pipelining, slow clients, the services file, peers and counters, the request log.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <curl/curl.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "core/archive.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "server/wmts_client.h"
#include "server/wmts_server.h"
#include "server/wmts_test_util.h"

namespace velmora {
namespace {

using test::HttpAnswer;
using test::RawClient;
using test::ServerEnvironment;
using test::TileUrl;

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

class WmtsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<test::TempDir>();
    port_ = test::FreePort();
    server_ = std::make_unique<CWmtsServer>();
    Configure(*server_, port_);
  }
  void TearDown() override { server_.reset(); }

  void Configure(CWmtsServer& server, uint16_t default_port) {
    test::ConfigureTestServer(server.Options(), default_port, dir_->File("wmts.dat"));
  }
  CWmtsService& Service() { return *server_->Services().at(0); }

  std::unique_ptr<test::TempDir> dir_;
  uint16_t port_ = 0;
  std::unique_ptr<CWmtsServer> server_;
};

// ---- tiles ----------------------------------------------------------------------------------------

TEST_F(WmtsServerTest, StoredTileIsSentByteForByteOnAKeptAliveConnection) {
  std::string stored = ServerEnvironment::Get()->StoreTile(35, 5, 10, 20, 0xFF336699u);
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  ASSERT_TRUE(client.Connected());
  HttpAnswer a;
  // The row and column are the numbers after the two '=' that follow TILEMATRIX's value,
  // whatever those keys are called.
  for (const std::string& path :
       {TileUrl(35, 5, 10, 20), std::string("/x/VMRAWMTS?LAYER=35&TILEMATRIX=5&A=10&B=20")}) {
    ASSERT_TRUE(client.Get(path));
    ASSERT_TRUE(client.Read(&a)) << path;
    EXPECT_EQ(a.status_line, "HTTP/1.0 200 OK");
    EXPECT_EQ(a.Header("Content-Type"), "image/jpeg");
    EXPECT_EQ(a.Header("Server"), "VMRA");
    EXPECT_EQ(a.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(a.Header("Accept-Ranges"), "bytes");
    EXPECT_EQ(a.Header("Content-Length"), std::to_string(stored.size()));
    EXPECT_TRUE(a.Header("Date").ends_with(" GMT"));
    EXPECT_EQ(a.body, stored);
  }
}

TEST_F(WmtsServerTest, MissingTileGetsThePlaceholderThenTheDownloadedTile) {
  ServerEnvironment& env = *ServerEnvironment::Get();
  std::string remote = test::JpegTile(0xFF00AA00u);
  env.Web().Route("/t/35/7/100/50", test::HttpReply::Ok(remote, "image/jpeg"));
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  HttpAnswer a;
  ASSERT_TRUE(client.Get(TileUrl(35, 7, 50, 100)));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.status_line, "HTTP/1.0 200 OK");
  EXPECT_EQ(a.Header("Content-Type"), "image/jpeg");  // whatever the bytes are
  CBitmap placeholder;
  ASSERT_TRUE(DecodeImage(reinterpret_cast<const uint8_t*>(a.body.data()), a.body.size(), &placeholder));
  EXPECT_EQ(DetectImageType(reinterpret_cast<const uint8_t*>(a.body.data()), a.body.size()), ImageType::kPng);
  EXPECT_EQ(placeholder.Width(), 256);
  EXPECT_EQ(placeholder.GetPixel(5, 5), 0xFFFFFFFFu);
  bool has_text = false;
  for (int y = 95; y < 125 && !has_text; ++y)
    for (int x = 100; x < 200 && !has_text; ++x) has_text = placeholder.GetPixel(x, y) != 0xFFFFFFFFu;
  EXPECT_TRUE(has_text);

  // The request queued the tile: once downloaded and stored the same request gets it.
  TileKey key = MakeTileKey(100, 50, TileKeyValue(35, 7));
  EXPECT_TRUE(IsLoadedState(env.Tiles().WaitForState(key, 10000)));
  ASSERT_TRUE(client.Get(TileUrl(35, 7, 50, 100)));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, remote);
}

TEST_F(WmtsServerTest, InvalidTileAddressesGetBadRequestAndKeepTheConnection) {
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  const std::string bad[] = {
      TileUrl(35, 23, 0, 0),                      // zoom 23
      TileUrl(35, 1, 0, 0),                       // below the source's range (2-20)
      TileUrl(35, 21, 0, 0),                      // above it
      TileUrl(35, 5, 32, 0),                      // row 2^zoom
      TileUrl(35, 5, 0, 32),                      // column 2^zoom
      TileUrl(35, 5, -1, 3),                      // negative
      TileUrl(8, 5, 1, 1),                        // a geocoder
      TileUrl(111, 5, 1, 1),                      // another one
      TileUrl(9999, 5, 1, 1),                     // no such source
      TileUrl(-1, 5, 1, 1),
      "/VMRAWMTS?LAYER=35&TILEROW=1&TILECOL=1",  // no TILEMATRIX
      "/VMRAWMTS?LAYER=35&TILEMATRIX=5&TILEROW=1",  // no column
      "/VMRAWMTS?LAYER=35&TILEMATRIX=5&TILEROW=4294967297&TILECOL=1",  // too long a number
  };
  for (const std::string& path : bad) {
    ASSERT_TRUE(client.Get(path));
    HttpAnswer a;
    ASSERT_TRUE(client.Read(&a)) << path;
    EXPECT_EQ(a.status_line, "HTTP/1.0 400 Bad Request") << path;
    EXPECT_EQ(a.Header("Content-Length"), "0") << path;
    EXPECT_EQ(a.Header("Connection"), "Keep-Alive");
  }
  // Nothing was queued for a download by the refused requests.
  EXPECT_EQ(ServerEnvironment::Get()->Tiles().FindTile(MakeTileKey(1, 1, TileKeyValue(8, 5))), nullptr);
}

// ---- pages and files ----------------------------------------------------------------------------------

TEST_F(WmtsServerTest, ExamplePageShowsTheServiceLayers) {
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  HttpAnswer a;
  ASSERT_TRUE(client.Get("/"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.status_line, "HTTP/1.0 200 OK");
  EXPECT_EQ(a.Header("Content-Type"), "text/html");
  // Default service: base layers 35 and 0, overlay 7.
  EXPECT_NE(a.body.find("var wmts_layer0 = new OpenLayers.Layer.WMTS({name: '寰宇地图-国内-卫星', url: wmtsUrl, "
                        "layer: '35', matrixSet: matrixSet,matrixIds: matrixIds, format: 'jpg', style: '1', "
                        "opacity: 1,isBaseLayer: true, resolutions :resolutions});var wmts_layer1"),
            std::string::npos)
      << a.body;
  EXPECT_NE(a.body.find("layer: '7', matrixSet: matrixSet,matrixIds: matrixIds, format: 'jpg', style: '1', "
                        "opacity: 1,isBaseLayer: false, resolutions :resolutions});\nmap.addLayers("
                        "[wmts_layer0,wmts_layer1,wmts_layer2]);"),
            std::string::npos);
  EXPECT_EQ(a.body.find("layer: \"0\""), std::string::npos);  // the template's own layer is gone

  // Only "/" is the built page: the template and the script under their own names are the
  // stored files as they are.
  ASSERT_TRUE(client.Get("/examples/index.htm"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, test::ReadSourceFile("data/web/examples/index.htm"));
  ASSERT_TRUE(client.Get("/Examples/WmtsInfo.js"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, test::ReadSourceFile("data/web/examples/wmtsinfo.js"));
  EXPECT_EQ(a.Header("Content-Type"), "application/x-javascript");
}

TEST_F(WmtsServerTest, ScriptCarriesTheAddressThePeerCanReach) {
  test::HttpTestServer echo;
  echo.Route("/", test::HttpReply::Ok(" 203.0.113.7\r\n"));
  server_->Options().ip_echo_host = "127.0.0.1:" + std::to_string(echo.Port());
  ASSERT_TRUE(server_->Start());
  server_->WaitPublicIpThread();
  EXPECT_EQ(server_->PublicAddress(), "203.0.113.7");
  ASSERT_EQ(echo.RequestCount(), 1u);
  EXPECT_EQ(echo.Requests()[0].Header("Host"), "127.0.0.1:" + std::to_string(echo.Port()));

  const std::string port = std::to_string(port_);
  RawClient local(port_);
  HttpAnswer a;
  ASSERT_TRUE(local.Get("/wmtsInfo.js"));
  ASSERT_TRUE(local.Read(&a));
  EXPECT_EQ(a.Header("Content-Type"), "application/x-javascript");
  EXPECT_NE(a.body.find("\"http://localhost:" + port + "/VMRAWMTS?\""), std::string::npos) << a.body;
  EXPECT_EQ(a.body.find("8888"), std::string::npos);

  RawClient remote(port_, "127.0.0.2");
  ASSERT_TRUE(remote.Connected());
  ASSERT_TRUE(remote.Get("/wmtsInfo.js"));
  ASSERT_TRUE(remote.Read(&a));
  EXPECT_NE(a.body.find("\"http://203.0.113.7:" + port + "/VMRAWMTS?\""), std::string::npos) << a.body;
}

TEST_F(WmtsServerTest, EchoAnswerThatIsNotAnAddressIsRefused) {
  test::HttpTestServer echo;
  echo.Route("/", test::HttpReply::Ok("203.0.113.7<script>alert(1)</script>"));
  server_->Options().ip_echo_host = "127.0.0.1:" + std::to_string(echo.Port());
  ASSERT_TRUE(server_->Start());
  server_->WaitPublicIpThread();
  EXPECT_EQ(server_->PublicAddress(), "");
  // Until an address is known a remote peer gets the host it asked for.
  RawClient remote(port_, "127.0.0.2");
  ASSERT_TRUE(remote.Send("GET /wmtsInfo.js HTTP/1.1\r\nHost: maps.lan:" + std::to_string(port_) + "\r\n\r\n"));
  HttpAnswer a;
  ASSERT_TRUE(remote.Read(&a));
  EXPECT_NE(a.body.find("\"http://maps.lan:" + std::to_string(port_) + "/VMRAWMTS?\""), std::string::npos);
}

TEST_F(WmtsServerTest, WebFilesAreFoundLowerCasedAndTypedByTheirExtensionAsWritten) {
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  HttpAnswer a;
  ASSERT_TRUE(client.Get("/Styles/Site.css"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, "body { color: black; }");
  EXPECT_EQ(a.Header("Content-Type"), "text/css");
  ASSERT_TRUE(client.Get("/STYLES/SITE.CSS"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.Header("Content-Type"), "text/html");  // "CSS" is not in the table
  ASSERT_TRUE(client.Get("/img/dot.png"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.Header("Content-Type"), "text/html");  // no entry for png
  EXPECT_EQ(server_->MimeTypeCount(), 69u);
  EXPECT_EQ(server_->MimeType("arj"), "application/x-compressed");
  EXPECT_EQ(server_->MimeType("rtf"), "text/richtext");
}

// ---- protocol -------------------------------------------------------------------------------------------

TEST_F(WmtsServerTest, OtherMethodsGetNotImplementedAndTheConnectionStays) {
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  // The POST's body is read past, not taken for the next request.
  ASSERT_TRUE(client.Send("POST /upload HTTP/1.1\r\nContent-Length: 11\r\n\r\nhello=world"));
  HttpAnswer a;
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.status_line, "HTTP/1.0 501 Not Implemented");
  EXPECT_EQ(a.Header("Content-Length"), "0");
  EXPECT_EQ(a.body, "");
  ASSERT_TRUE(client.Get("/styles/site.css"));
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.status_line, "HTTP/1.0 200 OK");
}

TEST_F(WmtsServerTest, UnknownPathClosesOnlyThatConnection) {
  ASSERT_TRUE(server_->Start());
  RawClient other(port_);
  RawClient client(port_);
  ASSERT_TRUE(client.Get("/no/such/file.html"));
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Pending(), "");
  RawClient spaceless(port_);
  ASSERT_TRUE(spaceless.Send("GARBAGE\r\n\r\n"));
  EXPECT_TRUE(spaceless.WaitClosed());
  HttpAnswer a;
  ASSERT_TRUE(other.Get("/styles/site.css"));
  ASSERT_TRUE(other.Read(&a));
  EXPECT_EQ(a.status_line, "HTTP/1.0 200 OK");
}

TEST_F(WmtsServerTest, RequestSplitOverManyWritesIsAnsweredOnce) {
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  std::string request = "GET /styles/site.css HTTP/1.1\r\nHost: x\r\n\r\n";
  for (size_t i = 0; i < request.size(); i += 3) ASSERT_TRUE(client.Send(request.substr(i, 3)));
  HttpAnswer a;
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, "body { color: black; }");
  // The connection is quiet afterwards: one request, one answer.
  client.Send("GET /img/dot.png HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, "\x89PNG-not-really");
}

TEST_F(WmtsServerTest, PipelinedRequestsAndNulBytesAreAllAnswered) {
  std::string stored = ServerEnvironment::Get()->StoreTile(35, 3, 1, 2, 0xFF884422u);
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  std::string batch = "GET /styles/site.css HTTP/1.1\r\nX-Note: ab\r\n\r\n"
                      "GET " + TileUrl(35, 3, 1, 2) + " HTTP/1.1\r\n\r\n"
                      "GET /img/dot.png HTTP/1.1\r\n\r\n";
  batch.insert(batch.find("X-Note: a") + 9, 1, '\0');  // a NUL inside the first request's header
  ASSERT_TRUE(client.Send(batch));
  HttpAnswer a;
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, "body { color: black; }");
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, stored);
  ASSERT_TRUE(client.Read(&a));
  EXPECT_EQ(a.body, "\x89PNG-not-really");
}

TEST_F(WmtsServerTest, OversizedHeaderEndsTheConnection) {
  ASSERT_TRUE(server_->Start());
  RawClient client(port_);
  std::string huge = "GET /styles/site.css HTTP/1.1\r\nX-Fill: " + std::string(17 * 1024, 'a');
  client.Send(huge);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Pending(), "");
  RawClient next(port_);
  HttpAnswer a;
  ASSERT_TRUE(next.Get("/styles/site.css"));
  ASSERT_TRUE(next.Read(&a));
}

TEST_F(WmtsServerTest, StalledAndIdleConnectionsAreClosedAfterTheirTimeOuts) {
  server_->Options().header_timeout_ms = 200;
  server_->Options().idle_timeout_ms = 300;
  ASSERT_TRUE(server_->Start());
  RawClient stalled(port_);
  ASSERT_TRUE(stalled.Send("GET /styles/site.css HTTP/1.1\r\n"));
  RawClient idle(port_);
  HttpAnswer a;
  ASSERT_TRUE(idle.Get("/styles/site.css"));
  ASSERT_TRUE(idle.Read(&a));
  RawClient silent(port_);
  EXPECT_TRUE(stalled.WaitClosed(5000));
  EXPECT_TRUE(idle.WaitClosed(5000));
  EXPECT_TRUE(silent.WaitClosed(5000));
}

TEST_F(WmtsServerTest, SlowClientsDoNotHoldUpOthers) {
  ASSERT_TRUE(server_->Start());
  // Clients that send half a header and wait, and clients that ask for 3 MB and do not read.
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 40; ++i) {
    slow.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(slow.back()->Send("GET /styles/site.css HTTP/1.1\r\nHost: sl"));
  }
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<RawClient>(port_));
    int small = 4096;
    ::setsockopt(slow.back()->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(slow.back()->Get("/big/blob.js"));
  }
  RawClient normal(port_);
  for (int i = 0; i < 20; ++i) {
    HttpAnswer a;
    ASSERT_TRUE(normal.Get("/styles/site.css"));
    ASSERT_TRUE(normal.Read(&a, 2000));
  }
  RawClient big(port_);
  HttpAnswer a;
  ASSERT_TRUE(big.Get("/big/blob.js"));
  ASSERT_TRUE(big.Read(&a, 10000));
  EXPECT_EQ(a.body.size(), 3u << 20);
}

// ---- a full service -------------------------------------------------------------------------------

TEST_F(WmtsServerTest, FullServiceMakesRoomFromSilentThenLongestIdleConnections) {
  WmtsServerOptions& o = server_->Options();
  o.max_clients_per_service = 3;
  o.slow_request_grace_ms = 0;          // every waiting connection is past its grace at once
  o.pressed_header_timeout_ms = 15000;  // no time-out during the test
  ASSERT_TRUE(server_->Start());
  HttpAnswer a;
  RawClient idle1(port_);
  ASSERT_TRUE(idle1.Get("/styles/site.css") && idle1.Read(&a));
  RawClient idle2(port_);
  ASSERT_TRUE(idle2.Get("/styles/site.css") && idle2.Read(&a));
  RawClient silent(port_, "127.0.0.7");
  ASSERT_TRUE(test::WaitUntil([&] { return Service().LiveClients() == 3; }));

  // Full: the connection that has sent nothing goes first, though the idle ones are older.
  RawClient first(port_);
  EXPECT_TRUE(silent.WaitClosed());
  ASSERT_TRUE(first.Get("/styles/site.css") && first.Read(&a));
  // Then the longest idle one.
  RawClient second(port_);
  EXPECT_TRUE(idle1.WaitClosed());
  ASSERT_TRUE(second.Get("/styles/site.css") && second.Read(&a));
  ASSERT_TRUE(idle2.Get("/img/dot.png") && idle2.Read(&a));
  EXPECT_EQ(a.body, "\x89PNG-not-really");
  // The closed ones stay in the peer list with their end.
  auto peers = Service().Peers();
  ASSERT_TRUE(peers.count(ParseIPv4("127.0.0.7").value()));
  EXPECT_NE(peers[ParseIPv4("127.0.0.7").value()].last_tick, 0u);
}

TEST_F(WmtsServerTest, ClientsWhoseConnectionsEndedWithoutARequestLoseTheirsFirst) {
  WmtsServerOptions& o = server_->Options();
  o.max_clients_per_service = 2;
  o.slow_request_grace_ms = 60000;  // every connection here is young
  o.pressed_header_timeout_ms = 15000;
  ASSERT_TRUE(server_->Start());
  const uint32_t abuser = ParseIPv4("127.0.0.20").value();
  {
    RawClient gone(port_, "127.0.0.20");  // connects and leaves without a request
  }
  ASSERT_TRUE(test::WaitUntil([&] { return Service().Peers()[abuser].last_tick != 0; }));
  RawClient waiting(port_, "127.0.0.21");  // a new client, its request not sent yet
  RawClient again(port_, "127.0.0.20");    // younger, but of the client that left before
  ASSERT_TRUE(test::WaitUntil([&] { return Service().LiveClients() == 2; }));
  RawClient newcomer(port_, "127.0.0.22");
  EXPECT_TRUE(again.WaitClosed());
  HttpAnswer a;
  ASSERT_TRUE(waiting.Get("/styles/site.css") && waiting.Read(&a));
  ASSERT_TRUE(newcomer.Get("/styles/site.css") && newcomer.Read(&a));
}

TEST_F(WmtsServerTest, ConnectionsBeingAnsweredAreNeverCutForANewOne) {
  WmtsServerOptions& o = server_->Options();
  o.max_clients_per_service = 2;
  o.slow_request_grace_ms = 60000;  // a stalled reader is not yet given up
  ASSERT_TRUE(server_->Start());
  constexpr int kBlobs = 4;
  std::vector<std::unique_ptr<RawClient>> readers;
  for (int i = 0; i < 2; ++i) {
    readers.push_back(std::make_unique<RawClient>(port_));
    int small = 4096;
    ::setsockopt(readers.back()->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    // More than the kernel's buffers take, so that the answers stall.
    for (int k = 0; k < kBlobs; ++k) ASSERT_TRUE(readers.back()->Get("/big/blob.js"));
  }
  // Both answers are under way (and stall: nobody reads them).
  ASSERT_TRUE(test::WaitUntil([&] { return readers[0]->Unread() > 0 && readers[1]->Unread() > 0; }));
  // Refused at once, without an answer, but on record as a peer.
  RawClient refused(port_, "127.0.0.9");
  EXPECT_TRUE(refused.WaitClosed());
  EXPECT_EQ(refused.Pending(), "");
  auto peers = Service().Peers();
  const uint32_t address = ParseIPv4("127.0.0.9").value();
  ASSERT_TRUE(peers.count(address));
  EXPECT_NE(peers[address].first_tick, 0u);
  EXPECT_NE(peers[address].last_tick, 0u);
  // The answers were not cut: both connections are still there.
  EXPECT_EQ(Service().ReapClients(), 2);
  EXPECT_EQ(Service().LiveClients(), 2);
}

TEST_F(WmtsServerTest, StalledReaderGivesItsPlaceAfterTheGrace) {
  WmtsServerOptions& o = server_->Options();
  o.max_clients_per_service = 1;
  o.slow_request_grace_ms = 200;
  ASSERT_TRUE(server_->Start());
  RawClient stalled(port_);
  int small = 4096;
  ::setsockopt(stalled.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  for (int k = 0; k < 4; ++k) ASSERT_TRUE(stalled.Get("/big/blob.js"));  // more than the buffers take
  ASSERT_TRUE(test::WaitUntil([&] { return stalled.Unread() > 0; }));
  // Refused while the answer may still move; answered once it has stalled past the grace.
  bool answered = test::WaitUntil([&] {
    RawClient next(port_, "127.0.0.8");
    HttpAnswer a;
    return next.Get("/styles/site.css") && next.Read(&a, 2000);
  });
  EXPECT_TRUE(answered);
  // The stalled one is gone (reset: its unsent answer is dropped).
  EXPECT_TRUE(test::WaitUntil([&] { return Service().ReapClients() == 0; }));
  std::vector<char> drain(1 << 16);
  bool reset = false;
  EXPECT_TRUE(test::WaitUntil([&] {
    ssize_t n;
    while ((n = ::recv(stalled.Fd(), drain.data(), drain.size(), MSG_DONTWAIT)) > 0) {
    }
    reset = n < 0 && errno == ECONNRESET;
    return n == 0 || (n < 0 && errno != EAGAIN);
  }));
  EXPECT_TRUE(reset);
}

TEST_F(WmtsServerTest, OneAddressHoldsOnlySoManyConnections) {
  WmtsServerOptions& o = server_->Options();
  o.max_clients_per_address = 4;
  o.max_incomplete_per_address = 2;
  o.slow_request_grace_ms = 0;
  ASSERT_TRUE(server_->Start());
  const char* kFrom = "127.0.0.5";
  RawClient a1(port_, kFrom), a2(port_, kFrom);
  ASSERT_TRUE(test::WaitUntil([&] { return Service().LiveClients() == 2; }));
  // A third connection without a request: the address's oldest such one makes room.
  RawClient a3(port_, kFrom);
  EXPECT_TRUE(a1.WaitClosed());
  HttpAnswer a;
  ASSERT_TRUE(a2.Get("/styles/site.css") && a2.Read(&a));
  ASSERT_TRUE(a3.Get("/styles/site.css") && a3.Read(&a));
  // Kept-alive connections count only against the address's whole cap.
  RawClient a4(port_, kFrom), a5(port_, kFrom);
  ASSERT_TRUE(test::WaitUntil([&] { return Service().LiveClients() == 4; }));
  RawClient a6(port_, kFrom);
  EXPECT_TRUE(a6.WaitClosed());
  EXPECT_EQ(a6.Pending(), "");
  ASSERT_TRUE(a4.Get("/styles/site.css") && a4.Read(&a));
  // Other addresses are not held back.
  RawClient other(port_, "127.0.0.6");
  ASSERT_TRUE(other.Get("/styles/site.css") && other.Read(&a));
  EXPECT_EQ(Service().Peers().size(), 2u);
}

TEST_F(WmtsServerTest, HeaderTimeOutShortensWhenTheServiceFills) {
  WmtsServerOptions& o = server_->Options();
  o.max_clients_per_service = 10;
  o.header_timeout_ms = 60000;
  o.pressed_header_timeout_ms = 300;
  o.slow_request_grace_ms = 60000;  // nobody is cut for room: the time-out alone ends them
  ASSERT_TRUE(server_->Start());
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 10; ++i) {
    slow.push_back(std::make_unique<RawClient>(port_, ("127.0.1." + std::to_string(i + 1)).c_str()));
    ASSERT_TRUE(slow.back()->Send("GET /styles/site.css HTTP/1.1\r\nX-Slow: a"));
  }
  for (auto& c : slow) EXPECT_TRUE(c->WaitClosed(10000));
  EXPECT_TRUE(test::WaitUntil([&] { return Service().ReapClients() == 0; }));
}

TEST_F(WmtsServerTest, CurlReusesTheKeptAliveConnection) {
  ServerEnvironment::Get()->StoreTile(35, 4, 3, 3, 0xFF101010u);
  ASSERT_TRUE(server_->Start());
  CURL* curl = curl_easy_init();
  ASSERT_NE(curl, nullptr);
  std::string body;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* p, size_t s, size_t n, void* u) {
    static_cast<std::string*>(u)->append(p, s * n);
    return s * n;
  });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  std::string base = "http://127.0.0.1:" + std::to_string(port_);
  long connects[3] = {};
  const std::string paths[] = {TileUrl(35, 4, 3, 3), "/styles/site.css", "/"};
  for (int i = 0; i < 3; ++i) {
    std::string url = base + paths[i];
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects[i]);
  }
  curl_easy_cleanup(curl);
  EXPECT_EQ(connects[0], 1);
  EXPECT_EQ(connects[1], 0);
  EXPECT_EQ(connects[2], 0);
}

// ---- services, peers and counters ------------------------------------------------------------------------

std::vector<uint8_t> HandMadeServicesFile(uint16_t port1, uint16_t port2) {
  std::vector<uint8_t> b;
  auto u32 = [&b](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto u16 = [&b](uint16_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); };
  u32(1);
  u32(37);
  u32(2);
  u16(port1);
  std::string name = Utf8ToAnsi(std::string_view("卫星服务"));
  b.push_back(static_cast<uint8_t>(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  u32(2); u32(35); u32(0);
  u32(1); u32(7);
  u16(port2);
  b.push_back(3);
  b.insert(b.end(), {'m', 'a', 'p'});
  u32(1); u32(1);
  u32(0);
  return b;
}

TEST_F(WmtsServerTest, ServicesFileIsWrittenAndReadByteForByte) {
  uint16_t p1 = test::FreePort(), p2 = test::FreePort();
  std::vector<uint8_t> expected = HandMadeServicesFile(p1, p2);
  ASSERT_TRUE(server_->Start());
  server_->RemoveServices(0);
  CWmtsService* a = server_->AddService("卫星服务", p1);
  a->SetLayers({35, 0}, {7});
  CWmtsService* b = server_->AddService("map", p2);
  b->SetLayers({1}, {});
  ASSERT_TRUE(server_->SaveServices());
  auto written = ReadFileBytes(dir_->File("wmts.dat"));
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, expected);

  // A new run restores both, in order, each listening on its port.
  server_.reset();
  server_ = std::make_unique<CWmtsServer>();
  Configure(*server_, port_);
  ASSERT_TRUE(server_->Start());
  auto services = server_->Services();
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0]->Name(), "卫星服务");
  EXPECT_EQ(services[0]->Port(), p1);
  EXPECT_EQ(services[0]->BaseLayers(), (std::vector<int32_t>{35, 0}));
  EXPECT_EQ(services[0]->Overlays(), (std::vector<int32_t>{7}));
  EXPECT_EQ(services[1]->Name(), "map");
  for (uint16_t port : {p1, p2}) {
    RawClient c(port);
    HttpAnswer answer;
    ASSERT_TRUE(c.Get("/styles/site.css"));
    EXPECT_TRUE(c.Read(&answer));
  }
}

TEST_F(WmtsServerTest, OtherSchemaOrMissingFileGivesTheDefaultServiceAndIsKeptOnSave) {
  std::vector<uint8_t> old = HandMadeServicesFile(1111, 2222);
  old[4] = 36;  // schema 36
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), old));
  ASSERT_TRUE(server_->Start());
  auto services = server_->Services();
  ASSERT_EQ(services.size(), 1u);
  EXPECT_EQ(services[0]->Name(), "google");
  EXPECT_EQ(services[0]->Port(), port_);
  EXPECT_EQ(services[0]->BaseLayers(), (std::vector<int32_t>{35, 0}));
  EXPECT_EQ(services[0]->Overlays(), (std::vector<int32_t>{7}));
  EXPECT_TRUE(services[0]->IsRunning());
  // The default service is not written by itself; the unreadable file is kept before a save.
  EXPECT_EQ(*ReadFileBytes(dir_->File("wmts.dat")), old);
  ASSERT_TRUE(server_->SaveServices());
  EXPECT_EQ(*ReadFileBytes(dir_->File("wmts.dat.damaged")), old);
}

TEST_F(WmtsServerTest, FileCutShortKeepsTheServicesReadSoFar) {
  uint16_t p1 = test::FreePort();
  std::vector<uint8_t> bytes = HandMadeServicesFile(p1, 2222);
  bytes.erase(bytes.end() - 6, bytes.end());  // inside the second service
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), bytes));
  ASSERT_TRUE(server_->Start());
  auto services = server_->Services();
  ASSERT_EQ(services.size(), 1u);
  EXPECT_EQ(services[0]->Port(), p1);
  EXPECT_TRUE(services[0]->IsRunning());

  // A count larger than the file holds is a file cut short too: the whole records stay.
  std::vector<uint8_t> lying = HandMadeServicesFile(p1, 2222);
  lying[8] = 0xFF; lying[9] = 0xFF; lying[10] = 0xFF; lying[11] = 0x7F;
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), lying));
  CWmtsServer second;
  Configure(second, test::FreePort());
  second.LoadServices(false);
  ASSERT_EQ(second.Services().size(), 2u);
  EXPECT_EQ(second.Services()[0]->Port(), p1);
  EXPECT_EQ(second.Services()[1]->Name(), "map");
}

TEST_F(WmtsServerTest, ServicesAreLoadedAndKeptWhenTheWebFilesAreMissing) {
  uint16_t p1 = test::FreePort(), p2 = test::FreePort();
  std::vector<uint8_t> file = HandMadeServicesFile(p1, p2);
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), file));
  bool started;
  {
    ScopedAppOptions no_web_files([this](CAppOptions& o) { o.program_dir = dir_->path(); });
    started = server_->Start();
  }
  EXPECT_FALSE(started);
  EXPECT_EQ(server_->MimeTypeCount(), 0u);
  auto services = server_->Services();
  ASSERT_EQ(services.size(), 2u);
  EXPECT_FALSE(services[0]->IsRunning());
  EXPECT_TRUE(server_->IsPortFree(test::FreePort()));
  EXPECT_FALSE(server_->IsPortFree(p1));  // a service of the list has it
  // A service added then still answers tiles, typed text/html with the empty table.
  std::string stored = ServerEnvironment::Get()->StoreTile(35, 6, 6, 6, 0xFF999999u);
  uint16_t p3 = test::FreePort();
  ASSERT_TRUE(server_->AddService("added", p3)->StartAccept());
  ASSERT_TRUE(server_->SaveServices());
  RawClient c(p3);
  HttpAnswer a;
  ASSERT_TRUE(c.Get(TileUrl(35, 6, 6, 6)));
  ASSERT_TRUE(c.Read(&a));
  EXPECT_EQ(a.Header("Content-Type"), "text/html");
  EXPECT_EQ(a.body, stored);
  server_.reset();
  CWmtsServer again;
  Configure(again, port_);
  again.LoadServices(false);
  ASSERT_EQ(again.Services().size(), 3u);  // the two of the file were not lost
  EXPECT_EQ(again.Services()[2]->Name(), "added");
}

TEST_F(WmtsServerTest, PortsInUseAreNotFree) {
  ASSERT_TRUE(server_->Start());
  EXPECT_FALSE(server_->IsPortFree(port_));  // the default service's
  UniqueFd other = ListenTcp(0, false);
  ASSERT_TRUE(other.Valid());
  EXPECT_FALSE(server_->IsPortFree(LocalPort(other.Get())));  // another program listens there
  EXPECT_TRUE(server_->IsPortFree(test::FreePort()));
  // A service whose port is taken stays stopped.
  CWmtsService* clash = server_->AddService("clash", LocalPort(other.Get()));
  EXPECT_FALSE(clash->StartAccept());
  EXPECT_FALSE(clash->IsRunning());
  EXPECT_EQ(clash->DisplayImage(), 1);
}

// ---- listening, the services file's bounds ----------------------------------------------------------------

// Turns the right to bind privileged ports on or off for the calling thread only (capabilities
// are per thread), so that a test running as root sees what a normal user sees.
bool SetBindCapability(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  const uint32_t bit = 1u << CAP_NET_BIND_SERVICE;
  if (on) data[0].effective |= data[0].permitted & bit;
  else data[0].effective &= ~bit;
  return ::syscall(SYS_capset, &header, data) == 0;
}

int UnprivilegedPortStart() {
  std::string text = test::ReadTestFile("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  return std::atoi(text.c_str());
}

TEST_F(WmtsServerTest, DefaultServiceUsesAPortANormalUserMayListenOn) {
  CWmtsServer fresh;
  EXPECT_EQ(fresh.Options().default_port, 8888);
  EXPECT_GE(fresh.Options().default_port, UnprivilegedPortStart());
}

TEST_F(WmtsServerTest, ServiceThatCannotListenIsReportedAndShownStopped) {
  std::vector<ServiceListenFailure> failures;
  server_->Options().listen_failure_sink = [&](const ServiceListenFailure& f) { failures.push_back(f); };
  UniqueFd other = ListenTcp(0, false);
  ASSERT_TRUE(other.Valid());
  const uint16_t taken = LocalPort(other.Get());
  // A stored service whose port another program has: the start-up reports it.
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), HandMadeServicesFile(taken, test::FreePort())));
  ASSERT_TRUE(server_->Start());
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].reason, ListenFailure::kPortInUse);
  EXPECT_EQ(failures[0].port, taken);
  EXPECT_EQ(failures[0].name, "卫星服务");
  EXPECT_NE(failures[0].message.find(std::to_string(taken)), std::string::npos);
  EXPECT_NE(failures[0].message.find("占用"), std::string::npos) << failures[0].message;
  CWmtsService& clash = *server_->Services().at(0);
  EXPECT_FALSE(clash.IsRunning());
  EXPECT_EQ(clash.DisplayImage(), 1);
  EXPECT_TRUE(server_->Services().at(1)->IsRunning());
  // Toggling it on again tells the user again.
  clash.ToggleRunning();
  EXPECT_EQ(failures.size(), 2u);

  // A privileged port without the right to it.
  const uint16_t privileged = 1000;
  if (privileged >= UnprivilegedPortStart()) GTEST_SKIP() << "every port is unprivileged here";
  failures.clear();
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_TRUE(SetBindCapability(false));
  }
  CWmtsService* low = server_->AddService("低端口", privileged);
  bool started = low->StartAccept();
  if (root) SetBindCapability(true);
  EXPECT_FALSE(started);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].reason, ListenFailure::kNoPermission);
  EXPECT_NE(failures[0].message.find("权限"), std::string::npos) << failures[0].message;
  EXPECT_EQ(low->DisplayImage(), 1);
}

TEST_F(WmtsServerTest, DamagedFileIsNotOverwrittenWhenItCannotBeCopiedAside) {
  std::vector<std::string> notices;
  server_->Options().notice_sink = [&](const std::string& m) { notices.push_back(m); };
  std::vector<uint8_t> damaged = HandMadeServicesFile(1111, 2222);
  damaged.resize(damaged.size() - 3);  // cut short
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), damaged));
  test::WriteTestFile(dir_->File("wmts.dat.damaged/in-the-way"), "x");  // a folder of that name
  server_->LoadServices(false);
  server_->AddService("new", 3333);
  EXPECT_FALSE(server_->SaveServices());
  EXPECT_EQ(*ReadFileBytes(dir_->File("wmts.dat")), damaged);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("wmts.dat.damaged"), std::string::npos);
  // Once the copy can be made, the list is saved.
  std::filesystem::remove_all(dir_->File("wmts.dat.damaged"));
  EXPECT_TRUE(server_->SaveServices());
  EXPECT_EQ(*ReadFileBytes(dir_->File("wmts.dat.damaged")), damaged);
  EXPECT_NE(*ReadFileBytes(dir_->File("wmts.dat")), damaged);
}

TEST_F(WmtsServerTest, ThousandsOfStoredServicesNeitherLoadWholeNorTakeDescriptors) {
  std::vector<std::string> notices;
  WmtsServerOptions& o = server_->Options();
  o.notice_sink = [&](const std::string& m) { notices.push_back(m); };
  o.event_threads = 2;
  constexpr uint32_t kRecords = 5000;
  const uint16_t first_port = test::FreePort();
  std::vector<uint8_t> file;
  auto u32 = [&file](uint32_t v) { for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  u32(1);
  u32(37);
  u32(kRecords);
  for (uint32_t i = 0; i < kRecords; ++i) {
    uint16_t port = i == 0 ? first_port : static_cast<uint16_t>(40000 + i % 20000);
    file.push_back(static_cast<uint8_t>(port));
    file.push_back(static_cast<uint8_t>(port >> 8));
    std::string name = std::string("s").append(std::to_string(i));
    file.push_back(static_cast<uint8_t>(name.size()));
    file.insert(file.end(), name.begin(), name.end());
    u32(1);
    u32(35);
    u32(0);
  }
  ASSERT_TRUE(WriteFileAtomic(dir_->File("wmts.dat"), file));

  std::string tile = ServerEnvironment::Get()->StoreTile(35, 5, 3, 4, 0xFF405060u);
  // Few descriptors left: loading the list must not need any, starting one service only its own.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int open_before = test::OpenDescriptorCount();
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(open_before + 24);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  server_->LoadServices(false);
  const int open_loaded = test::OpenDescriptorCount();
  auto services = server_->Services();
  bool started = !services.empty() && services[0]->StartAccept();
  HttpAnswer a;
  bool answered = false;
  if (started) {
    RawClient c(first_port);
    answered = c.Get(TileUrl(35, 5, 3, 4)) && c.Read(&a) && a.body == tile;
  }
  server_->StopServices(0);
  ::setrlimit(RLIMIT_NOFILE, &saved);

  EXPECT_EQ(open_loaded, open_before);
  ASSERT_EQ(services.size(), kMaxServices);
  EXPECT_EQ(services.back()->Name(), std::string("s").append(std::to_string(kMaxServices - 1)));
  EXPECT_TRUE(started);
  EXPECT_TRUE(answered);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(std::to_string(kRecords - kMaxServices)), std::string::npos) << notices[0];
  EXPECT_EQ(server_->AddService("one more", 1234), nullptr);
  // The records past the bound are not lost by a save: the whole file is kept aside first.
  ASSERT_TRUE(server_->SaveServices());
  EXPECT_EQ(*ReadFileBytes(dir_->File("wmts.dat.damaged")), file);
}

// ---- child processes ------------------------------------------------------------------------------------

std::set<int> OpenDescriptors() {
  std::set<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    fds.insert(std::atoi(entry.path().filename().c_str()));
  return fds;
}

TEST_F(WmtsServerTest, NoDescriptorLeaksIntoAStartedProgram) {
  // The server at work: listening, a kept-alive connection, the request log open, the tile
  // manager's stores.
  ServerEnvironment::Get()->StoreTile(35, 4, 2, 2, 0xFF202020u);
  const std::set<int> before = OpenDescriptors();
  ASSERT_TRUE(WriteProfileInt("option", "wmtslog", 1));
  bool started = server_->Start();
  WriteProfileInt("option", "wmtslog", 0);
  ASSERT_TRUE(started);
  ASSERT_TRUE(server_->RequestLog().IsOpen());
  RawClient client(port_);
  HttpAnswer a;
  ASSERT_TRUE(client.Get(TileUrl(35, 4, 2, 2)) && client.Read(&a));

  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  SpawnOptions spawn;
  spawn.stdout_fd = out[1];
  std::string error;
  pid_t child = SpawnProgram({"/bin/sh", "-c", "exec ls /proc/self/fd"}, spawn, &error);
  ::close(out[1]);
  ASSERT_GT(child, 0) << error;
  std::string listing;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) listing.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  EXPECT_EQ(WaitProgram(child), 0);
  // The standard three and the listing's own handle of the folder, nothing else.
  EXPECT_EQ(listing, "0\n1\n2\n3\n");

  // And every descriptor the server opened is close-on-exec.
  int opened = 0;
  for (int fd : OpenDescriptors()) {
    if (before.count(fd)) continue;
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0) continue;  // the listing's own handle, closed meanwhile
    ++opened;
    std::error_code ec;
    EXPECT_TRUE(flags & FD_CLOEXEC) << fd << " -> "
                                    << std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
  }
  EXPECT_GE(opened, 5);  // listener, wake-ups, loops, the connection, the log
  server_->StopServices(0);
  server_->RequestLog().Close();
  std::remove((AppOptions().data_dir + "wmts.log").c_str());
}

TEST_F(WmtsServerTest, PeersKeepTheirFirstAndLastTicks) {
  CWmtsService& s = *server_->AddService("peers", test::FreePort());
  uint32_t addr = ParseIPv4("10.1.2.3").value();
  s.RecordPeer(addr, 5000, 0);
  s.RecordPeer(addr, 9000, 0);
  s.RecordPeer(addr, 0, 7000);
  s.RecordPeer(addr, 0, 12000);
  auto peers = s.Peers();
  ASSERT_EQ(peers.size(), 1u);
  EXPECT_EQ(peers[addr].first_tick, 5000u);
  EXPECT_EQ(peers[addr].last_tick, 12000u);
  // Ticks past 2^32 (a run of 50 days) are kept whole.
  s.RecordPeer(addr, 0, (1ull << 32) + 5);
  EXPECT_EQ(s.Peers()[addr].last_tick, (1ull << 32) + 5);
}

TEST_F(WmtsServerTest, CountersAndPeerListsFollowTheTrafficAndSurviveRestarts) {
  ASSERT_TRUE(server_->Start());
  CWmtsService& s = Service();
  std::string request = "GET /styles/site.css HTTP/1.1\r\n\r\n";
  {
    RawClient c(port_);
    HttpAnswer a;
    ASSERT_TRUE(c.Send(request));
    ASSERT_TRUE(c.Read(&a));
    ASSERT_TRUE(c.Send(request));
    ASSERT_TRUE(c.Read(&a));
    std::vector<PeerAddress> connections = s.Connections();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(FormatIPv4(connections[0].address), "127.0.0.1");
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(c.Fd(), reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_EQ(connections[0].port, ntohs(local.sin_port));
    std::map<uint32_t, PeerRecord> peers = s.Peers();
    ASSERT_EQ(peers.size(), 1u);
    EXPECT_EQ(FormatIPv4(peers.begin()->first), "127.0.0.1");
    EXPECT_NE(peers.begin()->second.first_tick, 0u);
    EXPECT_EQ(peers.begin()->second.last_tick, 0u);  // still connected
    EXPECT_EQ(s.DisplayText(2), "1");
  }
  s.StopClients();  // the connection has ended; its thread is joined here
  const uint64_t received = 2 * request.size();
  EXPECT_EQ(s.ReceivedBytes(), received);
  const uint64_t sent = s.SentBytes();
  EXPECT_GT(sent, 2 * std::strlen("body { color: black; }"));
  EXPECT_EQ(s.DisplayText(2), "0");
  EXPECT_NE(s.Peers().begin()->second.last_tick, 0u);

  s.ToggleRunning();
  EXPECT_FALSE(s.IsRunning());
  s.ToggleRunning();
  EXPECT_TRUE(s.IsRunning());
  EXPECT_EQ(s.ReceivedBytes(), received);
  EXPECT_EQ(s.SentBytes(), sent);

  EXPECT_EQ(s.DisplayText(0), "google");
  EXPECT_EQ(s.DisplayText(1), std::to_string(port_));
  EXPECT_EQ(s.DisplayText(3), FormatByteSize(received));
  EXPECT_EQ(s.DisplayImage(), 0);
}

// ---- request log and browser ------------------------------------------------------------------------------

TEST_F(WmtsServerTest, RequestLogEscapesWhatClientsSend) {
  ASSERT_TRUE(WriteProfileInt("option", "wmtslog", 1));
  bool started = server_->Start();
  WriteProfileInt("option", "wmtslog", 0);
  ASSERT_TRUE(started);
  {
    RawClient c(port_);
    ASSERT_TRUE(c.Send(std::string("GET /styles/site.css HTTP/1.1\r\nX-Evil: \x1b[31m\x01\r\n\r\n")));
    HttpAnswer a;
    ASSERT_TRUE(c.Read(&a));
  }
  server_->StopServices(0);
  std::string log = test::ReadTestFile(AppOptions().data_dir + "wmts.log");
  EXPECT_NE(log.find("[127.0.0.1:"), std::string::npos);
  EXPECT_NE(log.find("GET /styles/site.css HTTP/1.1\nX-Evil: \\x1B[31m\\x01\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Response\nHTTP/1.0 200 OK\nDate: "), std::string::npos);
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
  server_->RequestLog().Close();
  std::remove((AppOptions().data_dir + "wmts.log").c_str());
}

TEST_F(WmtsServerTest, BrowserIsStartedWithTheServiceAddress) {
  std::string fifo = dir_->File("url.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string script = dir_->File("browser.sh");
  test::WriteTestFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" + fifo + "'\n");
  ::chmod(script.c_str(), 0700);
  server_->Options().browser_command = script;
  CWmtsService* s = server_->AddService("b", 8123);
  EXPECT_TRUE(server_->OpenServiceInBrowser(*s, true));
  pollfd p{reader, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1);
  char text[128] = {};
  ssize_t n = ::read(reader, text, sizeof text - 1);
  ::close(reader);
  ASSERT_GT(n, 0);
  EXPECT_STREQ(text, "http://localhost:8123\n");
  server_->Options().browser_command = dir_->File("no-such-browser");
  EXPECT_FALSE(server_->OpenServiceInBrowser(*s, false));
}

}  // namespace
}  // namespace velmora
