// The place search box in the real main window: "青岛" typed into the address bar's box key by
// key, the half-second pause, the web's hits in the drop-down with their pictures (grabbed as a
// test artefact), a hit chosen with the mouse and the current view's camera afterwards; typing on
// while the list is open, Enter asking again, the wait pointer while a request is under way; the
// place-name panel in the side bar.
#include "velmora_build_paths.h"
#include <QComboBox>
#include <QDockWidget>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QToolBar>
#include <QToolBox>
#include <QTreeView>
#include <optional>

#include "core/settings.h"
#include "frontend_env.h"
#include "places/ui/cmb_address.h"
#include "places/ui/place_name_tree.h"
#include "places/ui/place_search_commands.h"
#include "platform/gfx/bitmap.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/splash_wnd.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"
#include "tiles/map_view_state.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;
using test::PumpUntil;
using test::Settle;

// The map view: paints itself and records the camera it is given.
class CCameraView : public CWnd, public IChildView, public IMapViewState {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  bool OnPaint(CBitmap& canvas) override {
    canvas.Clear(0xFFE8EEF2);
    return true;
  }
  void GetCamera(double* lng, double* lat, double* level) const override {
    if (lng) *lng = camera.lng;
    if (lat) *lat = camera.lat;
    if (level) *level = camera.zoom;
  }
  void SetCamera(double lng, double lat, double level, bool history) override {
    camera.lng = lng, camera.lat = lat, camera.zoom = level;
    ++moves;
    pushed = history;
  }
  MapCamera GetCamera() const override { return camera; }
  void GetViewBounds(float top_left[2], float bottom_right[2]) const override {
    top_left[0] = 120.0f, top_left[1] = 36.5f, bottom_right[0] = 120.5f, bottom_right[1] = 36.0f;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }

  MapCamera camera{120.0, 36.0, 12.0, 800, 600, 1};
  int moves = 0;
  bool pushed = false;
};

class FrontendAddressBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.emplace([this](CAppOptions& o) { o.data_dir = data.path(); });
    SplashWnd().Reset();
    MapStatusBar().Reset();
    AppCommands().Clear();
    WriteProfileString("place_search", "geocoder_host", server.BaseUrl());
    WriteProfileInt("recent", "addr_update", 0);
    server.RoutePrefix("/maps/api/geocode/json", [this](const HttpRequestRecord&) {
      HttpReply reply = HttpReply::Ok(test::ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/replies/geocoder_qingdao.json"),
                                      "application/json");
      return slow_ms > 0 ? HttpReply::Delayed(slow_ms, reply) : reply;
    });

    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(data.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    app->Views().RegisterFactory(kViewMap2D, [this] {
      auto v = std::make_unique<CCameraView>();
      view = v.get();
      SetCurrentMapView(v.get());
      return v;
    });
    // As the program has it: the place search's step, then the main window.
    RegisterPlaceSearch(*app);
    app->RegisterStep(test::MainWindowStep());
    ASSERT_TRUE(app->InitInstance());
    Settle();
    main = test::FrontendEnvironment::Session().MainWindow();
    ASSERT_NE(main, nullptr);
    box = FindPlaceSearchBox(app->MainFrame());
    ASSERT_NE(box, nullptr);
    combo = main->AddressSlot()->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    edit = combo->lineEdit();
    drop = combo->findChild<QListView*>(QStringLiteral("ComboDropDown"));
    ASSERT_NE(drop, nullptr);
  }
  void TearDown() override {
    SetCurrentMapView(nullptr);
    if (app) app->ExitInstance();
    app.reset();
    AppCommands().Clear();
    Settle();
  }

  // The address bar with the open drop-down below it, as one picture.
  QImage GrabBoxAndList() {
    const QRect bar(main->AddressBar()->mapTo(main, QPoint(0, 0)), main->AddressBar()->size());
    const QImage window = main->grab().toImage();
    const QImage list = drop->isVisible() ? drop->grab().toImage() : QImage();
    const QPoint list_at = combo->mapTo(main, QPoint(0, combo->height())) - bar.topLeft();
    QImage picture(bar.width(), bar.height() + list.height() + 4, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.drawImage(QPoint(0, 0), window.copy(bar));
    if (!list.isNull()) p.drawImage(list_at, list);
    return picture;
  }

  test::TempDir data;
  std::optional<ScopedAppOptions> options;
  test::HttpTestServer server;
  int slow_ms = 0;
  std::unique_ptr<CKovraHomeExApp> app;
  CCameraView* view = nullptr;
  CQtMainWindow* main = nullptr;
  CmbAddress* box = nullptr;
  QComboBox* combo = nullptr;
  QLineEdit* edit = nullptr;
  QListView* drop = nullptr;
};

TEST_F(FrontendAddressBoxTest, TypingQingdaoChoosingAHitMovesTheView) {
  EXPECT_EQ(edit->placeholderText(), QStringLiteral("地名查询,定位更迅速..."));
  edit->setFocus();
  test::TypeText(edit, QStringLiteral("青岛"));
  EXPECT_EQ(box->GetEditText(), "青岛");
  // Half a second later the library knows nothing, the web answers, the list drops down.
  ASSERT_TRUE(PumpUntil([&] { return drop->isVisible(); }));
  EXPECT_EQ(server.RequestCount(), 1u);
  ASSERT_EQ(drop->model()->rowCount(), 2);
  EXPECT_EQ(drop->model()->index(0, 0).data().toString(), QStringLiteral("崂山区"));
  EXPECT_EQ(drop->model()->index(1, 0).data().toString(), QStringLiteral("12号"));
  // Each hit with the picture of its kind.
  for (int row = 0; row < 2; ++row) EXPECT_FALSE(drop->model()->index(row, 0).data(Qt::DecorationRole).isNull()) << row;
  Settle();
  const QImage picture = GrabBoxAndList();
  test::SaveArtefact(picture, "address_box_drop_down");

  // Choosing the second hit with the mouse moves the current view there.
  const AddressHit chosen = box->Hits().at(1);
  const QRect row = drop->visualRect(drop->model()->index(1, 0));
  QTest::mouseClick(drop->viewport(), Qt::LeftButton, {}, row.center());
  ASSERT_TRUE(PumpUntil([&] { return view->moves > 0; }));
  EXPECT_DOUBLE_EQ(view->camera.lng, chosen.lng);
  EXPECT_DOUBLE_EQ(view->camera.lat, chosen.lat);
  EXPECT_DOUBLE_EQ(view->camera.zoom, chosen.zoom > 0 ? chosen.zoom : 12.0);
  EXPECT_TRUE(view->pushed);
  EXPECT_FALSE(drop->isVisible());
  // The box shows the chosen hit's name.
  EXPECT_TRUE(PumpUntil([&] { return edit->text() == QStringLiteral("12号"); }));

  // Choosing the first hit (no zoom of its own) keeps the view's zoom.
  test::TypeText(edit, QStringLiteral("市"));
  ASSERT_TRUE(PumpUntil([&] { return drop->isVisible() && server.RequestCount() == 2u; }));
  const AddressHit first = box->Hits().at(0);
  QTest::mouseClick(drop->viewport(), Qt::LeftButton, {}, drop->visualRect(drop->model()->index(0, 0)).center());
  ASSERT_TRUE(PumpUntil([&] { return view->moves > 1; }));
  EXPECT_DOUBLE_EQ(view->camera.lng, first.lng);
  if (first.zoom == 0) {
    EXPECT_DOUBLE_EQ(view->camera.zoom, chosen.zoom > 0 ? chosen.zoom : 12.0);
  }
}

TEST_F(FrontendAddressBoxTest, TypingOnWhileTheListIsOpenAndEnterAsksAgain) {
  edit->setFocus();
  test::TypeText(edit, QStringLiteral("青岛"));
  ASSERT_TRUE(PumpUntil([&] { return drop->isVisible(); }));
  // The open list passes the typing on to the edit field, and the list closes.
  QTest::keyClick(drop, Qt::Key_A);
  EXPECT_EQ(edit->text(), QStringLiteral("青岛a"));
  EXPECT_EQ(box->GetEditText(), "青岛a");
  ASSERT_TRUE(PumpUntil([&] { return !drop->isVisible(); }));
  ASSERT_TRUE(PumpUntil([&] { return drop->isVisible() && server.RequestCount() == 2u; }));
  // Escape closes it; Enter in the box is the frame's Enter: the web is asked again at once.
  QTest::keyClick(drop, Qt::Key_Escape);
  EXPECT_FALSE(drop->isVisible());
  EXPECT_FALSE(box->GetDroppedState());
  slow_ms = 1500;
  QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return server.RequestCount() == 3u; }));
  // The window stays usable while the reply is on its way, with the wait pointer.
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ASSERT_TRUE(PumpUntil([&] { return drop->isVisible(); }));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // Arrow down and Enter in the list choose a hit.
  QTest::keyClick(drop, Qt::Key_Down);
  QTest::keyClick(drop, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return view->moves == 1; }));
  EXPECT_DOUBLE_EQ(view->camera.lng, box->Hits().at(0).lng);
}

TEST_F(FrontendAddressBoxTest, ThePlaceNamePanelIsInTheSideBar) {
  QToolBox* side = main->SideBox();
  ASSERT_NE(side, nullptr);
  bool found = false;
  for (int i = 0; i < side->count(); ++i) found = found || side->itemText(i) == QStringLiteral("行政地名");
  EXPECT_TRUE(found);
  EXPECT_TRUE(main->SideDock()->isVisible());
  QTreeView* tree_view = side->findChild<QTreeView*>();
  ASSERT_NE(tree_view, nullptr);
  // Our sample provinces imported through the progress dialog: the tree shows them, a click on a
  // city loads its counties.
  auto* tree = dynamic_cast<CPlaceNameTree*>(app->MainFrame()->FindSideBarPanel("行政地名"));
  ASSERT_NE(tree, nullptr);
  test::TempDir folder;
  for (const char* name : {"shandong.kml", "jiangsu.KML"})
    test::WriteTestFile(folder.File(name), test::ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/kml/" + name));
  EXPECT_EQ(tree->ImportPath(folder.path()).files, 2);
  ASSERT_TRUE(PumpUntil([&] { return tree_view->model()->rowCount() == 2; }));
  const QModelIndex shandong = tree_view->model()->index(1, 0);
  EXPECT_EQ(shandong.data().toString(), QStringLiteral("山东省"));
  tree_view->expand(shandong);
  Settle();
  const QModelIndex qingdao = tree_view->model()->index(2, 0, shandong);
  ASSERT_EQ(qingdao.data().toString(), QStringLiteral("青岛市"));
  QTest::mouseClick(tree_view->viewport(), Qt::LeftButton, {}, tree_view->visualRect(qingdao).center());
  ASSERT_TRUE(PumpUntil([&] {
    const QModelIndex q = tree_view->model()->index(2, 0, tree_view->model()->index(1, 0));
    return tree_view->model()->rowCount(q) == 4 && tree_view->isExpanded(q);
  }));
  Settle();
  test::SaveArtefact(main->grab().toImage(), "place_name_panel");
  // The box's commands are in the menu.
  EXPECT_NE(main->ActionFor(CmbAddress::ID_LOCAL_SEARCH), nullptr);
  EXPECT_NE(main->ActionFor(CmbAddress::ID_SOURCE_PLACE_NAMES), nullptr);
  EXPECT_NE(main->ActionFor(40001), nullptr);
}

}  // namespace
}  // namespace velmora
