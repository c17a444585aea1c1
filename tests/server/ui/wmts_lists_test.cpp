// The services dialog's lists filled from a running server: one row per service with texts asked
// back through the display callback, and a service's connection and peer lists while a client is
// connected and after it left.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "platform/ui/list_ctrl.h"
#include "server/ui/wmts_lists.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"
#include "server/wmts_test_util.h"

namespace velmora {
namespace {

using test::HttpAnswer;
using test::RawClient;
using test::ServerEnvironment;

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

TEST(WmtsLists, ServiceConnectionAndPeerListsFollowTheClients) {
  test::TempDir dir;
  const uint16_t port = test::FreePort();
  CWmtsServer server;
  test::ConfigureTestServer(server.Options(), port, dir.File("wmts.dat"));
  ASSERT_TRUE(server.Start());
  CWmtsService& service = *server.Services().at(0);

  CListCtrl connections, peers;
  connections.InsertColumn(0, "addr");
  connections.InsertColumn(1, "port");
  peers.InsertColumn(0, "addr");
  peers.InsertColumn(1, "enter");
  peers.InsertColumn(2, "leave");
  const std::string request = "GET /styles/site.css HTTP/1.1\r\n\r\n";
  {
    RawClient c(port);
    HttpAnswer a;
    ASSERT_TRUE(c.Send(request));
    ASSERT_TRUE(c.Read(&a));
    FillPeerLists(service, connections, peers);
    ASSERT_EQ(connections.GetItemCount(), 1);
    EXPECT_EQ(connections.GetItemText(0, 0), "127.0.0.1");
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(c.Fd(), reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_EQ(connections.GetItemText(0, 1), std::to_string(ntohs(local.sin_port)));
    ASSERT_EQ(peers.GetItemCount(), 1);
    EXPECT_EQ(peers.GetItemText(0, 0), "127.0.0.1");
    EXPECT_EQ(peers.GetItemText(0, 1).size(), 12u) << peers.GetItemText(0, 1);  // "hh:mm:ss.mmm"
    EXPECT_EQ(peers.GetItemText(0, 2), "");  // still connected
  }
  service.StopClients();
  FillPeerLists(service, connections, peers);
  EXPECT_EQ(connections.GetItemCount(), 0);
  ASSERT_EQ(peers.GetItemCount(), 1);
  EXPECT_EQ(peers.GetItemText(0, 2).size(), 12u);

  CListCtrl list;
  for (int i = 0; i < 5; ++i) list.InsertColumn(i, "c");
  FillServiceList(server, list);
  ASSERT_EQ(list.GetItemCount(), 1);
  EXPECT_EQ(list.GetItemText(0, 0), "google");
  EXPECT_EQ(list.GetItemText(0, 1), std::to_string(port));
  EXPECT_EQ(list.GetItemText(0, 3), FormatByteSize(request.size()));
  EXPECT_EQ(list.GetItemImage(0), 0);
  service.ToggleRunning();
  FillServiceList(server, list);
  EXPECT_EQ(list.GetItemImage(0), 1);
  server.StopServices(0);
}

}  // namespace
}  // namespace velmora
