// The services dialog changing a service while clients download from it (also run under
// ThreadSanitizer): renames, port changes, stops and starts, deletes and new services through the
// menus and the editor, with client threads loading tiles all the while; afterwards no thread of
// the server is left.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "server/ui/dlg_map_services.h"
#include "server/ui/dlg_new_map_service.h"
#include "server/ui/map_service_templates.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"
#include "server/wmts_test_util.h"

namespace velmora {
namespace {

using test::HttpAnswer;
using test::RawClient;
using test::ServerEnvironment;
using test::TileUrl;

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

int ThreadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
  }
  return count;
}

// Keeps downloading from whatever port the service has now, until `stop`.
void Downloader(const std::atomic<uint16_t>& port, const std::atomic<bool>& stop, std::atomic<int>& answered) {
  while (!stop.load()) {
    RawClient client(port.load());
    if (!client.Connected()) {
      std::this_thread::yield();
      continue;
    }
    for (int i = 0; i < 20 && !stop.load(); ++i) {
      HttpAnswer a;
      if (!client.Get(TileUrl(35, 4, 5, 6)) || !client.Read(&a, 5000)) break;
      answered.fetch_add(1);
    }
  }
}

TEST(MapServiceDialogsThreads, EditingAndRemovingWhileClientsDownload) {
  ServerEnvironment::Get()->StoreTile(35, 4, 5, 6, 0xFF884422u);
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  test::TempDir dir;
  const int threads_before = ThreadCount();
  std::atomic<uint16_t> port{test::FreePort()};
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  {
    CWmtsServer server;
    test::ConfigureTestServer(server.Options(), port.load(), dir.File("wmts.dat"));
    ASSERT_TRUE(server.Start());
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) clients.emplace_back(Downloader, std::cref(port), std::cref(stop), std::ref(answered));

    auto menu_on = [&host](CListCtrl& list, int row, UINT command) {
      host.AnswerMenu(command);
      list.RightClickItem(row);
    };
    // The editor's answer: a name and, when given, a port; one base layer when it has none.
    auto edit = [&host](std::string name, uint16_t new_port) {
      host.AnswerDialog(kNewMapServiceTemplateId, [name, new_port](CDialog& d) {
        auto& e = static_cast<CDlgNewMapService&>(d);
        d.GetDlgItemAs<CEdit>(CDlgNewMapService::kIdName)->Type(name);
        if (new_port) d.GetDlgItemAs<CEdit>(CDlgNewMapService::kIdPort)->Type(std::to_string(new_port));
        if (e.BaseLayerList().GetItemCount() == 0) {
          e.SourceList().ClickItem(0);
          e.SendMessage(WM_COMMAND, MAKEWPARAM(CDlgNewMapService::kCmdAddBaseLayer, 0), 0);
        }
        d.GetDlgItemAs<CButton>(IDOK)->Click();
      });
    };

    CDlgMapServices dlg(nullptr, &server);
    host.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
      CListCtrl& list = static_cast<CDlgMapServices&>(d).ServiceList();
      for (int round = 0; round < 8; ++round) {
        const int target = answered.load() + 10;
        ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return answered.load() >= target; }, 60000)) << round;
        list.ClickItem(0);
        list.DoubleClickItem(0);  // its connections and peers are listed (and refreshed) meanwhile
        switch (round % 4) {
          case 0:  // rename: the connections stay
            edit("renamed" + std::to_string(round), 0);
            menu_on(list, 0, CDlgMapServices::kCmdModify);
            break;
          case 1: {  // move to another port
            uint16_t next = test::FreePort();
            edit("moved", next);
            menu_on(list, 0, CDlgMapServices::kCmdModify);
            port.store(next);
            break;
          }
          case 2:  // stop (closing the connections) and start again
            menu_on(list, 0, CDlgMapServices::kCmdStartStop);
            menu_on(list, 0, CDlgMapServices::kCmdStartStop);
            break;
          case 3: {  // delete, then a new service on another port
            menu_on(list, 0, CDlgMapServices::kCmdDelete);
            ASSERT_EQ(list.GetItemCount(), 0);
            uint16_t next = test::FreePort();
            edit("again", next);
            menu_on(list, -1, CDlgMapServices::kCmdNew);
            port.store(next);
            break;
          }
        }
        ASSERT_EQ(list.GetItemCount(), 1) << host.LastMessage();
        EXPECT_TRUE(server.Services().at(0)->IsRunning()) << round;
      }
    });
    dlg.DoModal();
    const int target = answered.load() + 10;
    EXPECT_TRUE(UiDispatcher().PumpUntil([&] { return answered.load() >= target; }, 60000));
    stop.store(true);
    server.StopServices(0);  // wakes any client still waiting for an answer
    for (std::thread& t : clients) t.join();
  }
  // Every accept and connection thread of the server ended with it.
  EXPECT_EQ(ThreadCount(), threads_before);
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
