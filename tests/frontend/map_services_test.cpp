// The map publishing dialogs on Qt, driven with the mouse and keyboard as a person would: a
// service added through the service list's menu and the editor (sources chosen from the source
// list's menu), renamed, stopped and started, its connections listed while a client holds one,
// and deleted; each step checked over a socket and in "wmts.dat". Both dialogs are grabbed as
// pictures with their Chinese texts drawn.
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <memory>

#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "server/ui/dlg_map_services.h"
#include "server/ui/dlg_new_map_service.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"
#include "server/wmts_test_util.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

using test::HttpAnswer;
using test::PumpUntil;
using test::RawClient;
using test::TileUrl;

using test::Choose;
using test::ModalTitled;
using test::Popup;
using test::When;

QTreeView* ListView(const CDialog& dialog, int id) { return test::ControlWidget<QTreeView>(dialog, id); }

// A mouse button on a row of a list (-1: below the rows).
void ClickRow(QTreeView* view, int row, Qt::MouseButton button, bool twice = false) {
  QPoint at = row >= 0 ? view->visualRect(view->model()->index(row, 0)).center()
                       : QPoint(10, view->viewport()->height() - 5);
  if (twice)
    QTest::mouseDClick(view->viewport(), button, {}, at);
  else
    QTest::mouseClick(view->viewport(), button, {}, at);
}

void TypeInto(const CDialog& dialog, int id, const QString& text) {
  auto* edit = test::ControlWidget<QLineEdit>(dialog, id);
  ASSERT_TRUE(edit);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  test::TypeText(edit, text);
}

std::string ServicesFile(uint16_t port1, uint16_t port2, const std::string& gbk_name) {
  std::string b;
  auto u32 = [&b](uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
  auto service = [&](uint16_t port, const std::string& name, std::vector<uint32_t> base, std::vector<uint32_t> over) {
    b.append(reinterpret_cast<const char*>(&port), 2);
    b.push_back(static_cast<char>(name.size()));
    b += name;
    for (const auto* ids : {&base, &over}) {
      u32(static_cast<uint32_t>(ids->size()));
      for (uint32_t id : *ids) u32(id);
    }
  };
  u32(1);
  u32(37);
  u32(port2 ? 2 : 1);
  service(port1, "google", {35, 0}, {7});
  if (port2) service(port2, gbk_name, {35}, {});
  return b;
}

class FrontendMapServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    TileManagerOptions options;
    options.data_dir = dir_.File("tiles/");
    options.download_threads = 0;
    options.offline = true;
    options.use_download_list = false;
    tiles_ = std::make_unique<CTileManager>(options);
    ASSERT_TRUE(tiles_->Start());
    tile_ = test::JpegTile(0xFF3366AAu);
    TileKey key = MakeTileKey(6, 5, TileKeyValue(35, 4));
    ASSERT_TRUE(tiles_->OpenStore(35));
    tiles_->OpenStore(35)->Write(key, tile_.data(), tile_.size(), false);
    port_ = test::FreePort();
    WmtsServerOptions& o = server_.Options();
    o.default_port = port_;
    o.services_path = path_;
    o.tiles = tiles_.get();
    o.ip_echo_host = "";
    o.resolve_own_host_name = false;
    server_.Start();
    ASSERT_EQ(server_.Services().size(), 1u);
  }
  void TearDown() override {
    server_.StopServices(0);
    server_.RemoveServices(0);
    tiles_->Stop();
  }

  std::string TileStatus(uint16_t port) {
    RawClient client(port);
    HttpAnswer a;
    if (!client.Connected() || !client.Get(TileUrl(35, 4, 5, 6)) || !client.Read(&a)) return "";
    return a.status_line + (a.body == tile_ ? " tile" : " other");
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("wmts.dat");
  std::unique_ptr<CTileManager> tiles_;
  std::string tile_;
  uint16_t port_ = 0;
  CWmtsServer server_;
};

TEST_F(FrontendMapServicesTest, ServicesManagedThroughTheDialogsOnScreen) {
  const uint16_t added = test::FreePort();
  CDlgMapServices dlg(nullptr, &server_);
  std::unique_ptr<RawClient> held;
  bool finished = false;
  // Whatever happens, the dialogs close in the end.
  QTimer::singleShot(120000, [] {
    for (int i = 0; i < 4; ++i)
      if (QWidget* w = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                          : QApplication::activeModalWidget())
        w->close();
  });

  auto services = [&dlg] { return ListView(dlg, CDlgMapServices::kIdServices); };
  auto step_delete = [&] {
    // ---- delete, while a client holds a connection: it is closed ----
    held = std::make_unique<RawClient>(added);
    HttpAnswer a;
    ASSERT_TRUE(held->Get(TileUrl(35, 4, 5, 6)) && held->Read(&a));
    When([] { return Popup() != nullptr; }, [] { Choose(Popup(), "删除服务"); });
    ClickRow(services(), 1, Qt::RightButton);
    EXPECT_TRUE(held->WaitClosed());
    EXPECT_EQ(TileStatus(added), "");
    EXPECT_EQ(test::ReadTestFile(path_), ServicesFile(port_, 0, ""));
    EXPECT_TRUE(PumpUntil([&] { return services()->model()->rowCount() == 1; }));
    finished = true;
    CDialogWindow::Of(dlg)->close();
  };
  auto step_connections = [&] {
    // ---- the connection list while a client holds a connection ----
    held = std::make_unique<RawClient>(added);
    HttpAnswer a;
    ASSERT_TRUE(held->Get(TileUrl(35, 4, 5, 6)) && held->Read(&a));
    ClickRow(services(), 1, Qt::LeftButton, true);
    QTreeView* connections = ListView(dlg, CDlgMapServices::kIdConnections);
    EXPECT_TRUE(PumpUntil([&] { return connections->model()->rowCount() == 1; }));
    EXPECT_EQ(connections->model()->index(0, 0).data().toString(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(connections->model()->index(0, 1).data().toString().toStdString(),
              std::to_string(LocalPort(held->Fd())));
    EXPECT_TRUE(PumpUntil([&] { return services()->model()->index(1, 2).data().toString() == QStringLiteral("1"); }));
    QImage grab = CDialogWindow::Of(dlg)->grab().toImage();
    std::string picture = test::SaveArtefact(grab, "map_services_dialog");
    EXPECT_TRUE(test::TextsNotDrawn(CDialogWindow::Of(dlg), grab).empty()) << picture;
    // The client leaves; the next refresh lists no connection.
    held.reset();
    EXPECT_TRUE(PumpUntil([&] { return connections->model()->rowCount() == 0; }));
    step_delete();
  };
  auto step_start_stop = [&] {
    // ---- stop, then start again ----
    When([] { return Popup() != nullptr; }, [] { Choose(Popup(), "开始/停止"); });
    ClickRow(services(), 1, Qt::RightButton);
    EXPECT_EQ(TileStatus(added), "");
    When([] { return Popup() != nullptr; }, [] { Choose(Popup(), "开始/停止"); });
    ClickRow(services(), 1, Qt::RightButton);
    EXPECT_EQ(TileStatus(added), "HTTP/1.0 200 OK tile");
    step_connections();
  };
  auto step_modify = [&] {
    // ---- rename through the editor ----
    When([] { return ModalTitled("新建地图发布服务") != nullptr; }, [&] {
      CDialog& editor = *ModalTitled("新建地图发布服务")->Dialog();
      TypeInto(editor, CDlgNewMapService::kIdName, QStringLiteral("影像服务"));
      QTest::mouseClick(test::ControlWidget<QPushButton>(editor, IDOK), Qt::LeftButton);
    });
    When([] { return Popup() != nullptr; }, [] { Choose(Popup(), "修改服务"); });
    ClickRow(services(), 1, Qt::RightButton);
    EXPECT_TRUE(PumpUntil([&] { return services()->model()->index(1, 0).data().toString() == QStringLiteral("影像服务"); }));
    EXPECT_EQ(test::ReadTestFile(path_), ServicesFile(port_, added, "\xd3\xb0\xcf\xf1\xb7\xfe\xce\xf1"));
    EXPECT_EQ(TileStatus(added), "HTTP/1.0 200 OK tile");
    step_start_stop();
  };

  When([] { return ModalTitled("地图发布服务") != nullptr; }, [&] {
    ASSERT_TRUE(PumpUntil([&] { return services()->model()->rowCount() == 1; }));
    EXPECT_EQ(services()->model()->index(0, 0).data().toString(), QStringLiteral("google"));
    EXPECT_EQ(services()->model()->index(0, 1).data().toString().toStdString(), std::to_string(port_));
    // ---- new: the menu of a click below the rows, then the editor ----
    When([] { return ModalTitled("新建地图发布服务") != nullptr; }, [&] {
      CDialogWindow* window = ModalTitled("新建地图发布服务");
      CDialog& editor = *window->Dialog();
      TypeInto(editor, CDlgNewMapService::kIdPort, QString::number(added));
      TypeInto(editor, CDlgNewMapService::kIdName, QStringLiteral("dem"));
      QTreeView* sources = ListView(editor, CDlgNewMapService::kIdSources);
      int row = static_cast<CDlgNewMapService&>(editor).SourceList().FindItemByData(35);
      sources->scrollTo(sources->model()->index(row, 0));
      ClickRow(sources, row, Qt::LeftButton);
      When([] { return Popup() != nullptr; }, [] { Choose(Popup(), "加入到基本图层"); });
      ClickRow(sources, row, Qt::RightButton);
      QTreeView* base = ListView(editor, CDlgNewMapService::kIdBaseLayers);
      EXPECT_TRUE(PumpUntil([&] { return base->model()->rowCount() == 1; }));
      EXPECT_EQ(base->model()->index(0, 0).data().toString(), QStringLiteral("国内-卫星"));
      QImage grab = window->grab().toImage();
      std::string picture = test::SaveArtefact(grab, "new_map_service_dialog");
      EXPECT_TRUE(test::TextsNotDrawn(window, grab).empty()) << picture;
      QTest::mouseClick(test::ControlWidget<QPushButton>(editor, IDOK), Qt::LeftButton);
    });
    When([] { return Popup() != nullptr; }, [] {
      QMenu* menu = Popup();
      for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("删除服务")) {
          EXPECT_FALSE(a->isEnabled());  // no row under the click
        }
      Choose(menu, "新建服务");
    });
    ClickRow(services(), -1, Qt::RightButton);
    EXPECT_TRUE(PumpUntil([&] { return services()->model()->rowCount() == 2; }));
    EXPECT_EQ(TileStatus(added), "HTTP/1.0 200 OK tile");
    EXPECT_EQ(test::ReadTestFile(path_), ServicesFile(port_, added, "dem"));
    step_modify();
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace velmora
