// The 2D map view on Qt, as the program shows it: the main window with the program's own view
// (kind 0) over a tile store in the test's data folder, tiles beyond the stored block answered by
// a test web server (never the internet). The view is dragged with the mouse, zoomed with the
// wheel and moved with the keys on its widget; the camera, the status bar's centre, level and
// cursor texts follow, and the grabbed window shows the tiles' own pixels where the camera says
// they lie.
#include <QLabel>
#include <QMouseEvent>
#include <QWheelEvent>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "core/geodesy.h"
#include "core/settings.h"
#include "frontend_env.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/map_view_sinks.h"
#include "shell/splash_wnd.h"
#include "support/http_test_server.h"
#include "support/map_test_util.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

constexpr int kSource = 60;  // the catalogue's first source: the default map
constexpr int kLevel = 10;   // the view's default zoom
constexpr int kBlock = 2;    // tiles stored on each side of the default centre's tile

// The column and row of the default centre's tile.
struct TileIndex {
  int x, y;
};
TileIndex CentreTile() {
  PixelPoint p = LngLatToPixel(CTileEngine::kDefaultLng, CTileEngine::kDefaultLat, 1, kLevel);
  return {int(p.x / 256), int(p.y / 256)};
}

bool InStoredBlock(int x, int y, int z) {
  TileIndex c = CentreTile();
  return z == kLevel && std::abs(x - c.x) <= kBlock && std::abs(y - c.y) <= kBlock;
}

// "<z>/<x>/<y>" after the route's prefix.
std::optional<std::array<int, 3>> ParseTilePath(const std::string& rest) {
  std::array<int, 3> v{};
  const char* p = rest.data();
  const char* end = p + rest.size();
  for (size_t k = 0; k < v.size(); ++k) {
    if (k > 0 && (p == end || *p++ != '/')) return std::nullopt;
    auto [next, ec] = std::from_chars(p, end, v[k]);
    if (ec != std::errc()) return std::nullopt;
    p = next;
  }
  return p == end ? std::optional(v) : std::nullopt;
}

class FrontendMapViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    ASSERT_NE(LayerManager().FindSourceStrict(kSource), nullptr);
    SplashWnd().Reset();
    MapStatusBar().Reset();
    // Tiles the store lacks come from the test web server: the same gradient tiles, so that the
    // whole window can be checked, and a count of what was asked.
    web.RoutePrefix("/t/60/", [this](const test::HttpRequestRecord& request) {
      std::optional<std::array<int, 3>> zxy = ParseTilePath(request.path.substr(6));
      if (!zxy) return test::HttpReply::NotFound();
      auto [z, x, y] = *zxy;
      if (InStoredBlock(x, y, z)) ++stored_tiles_asked;
      std::vector<uint8_t> bytes = test::EncodedTile(test::GradientTile(test::TileTag(x, y, z)));
      return test::HttpReply::Ok(std::string(bytes.begin(), bytes.end()), "image/bmp");
    });
    WriteProfileString("map_urls", std::to_string(kSource), web.BaseUrl() + "/t/60/{z}/{x}/{y}");
    TileIndex c = CentreTile();
    test::StoreGradientTiles(TileManager(), kSource, kLevel, c.x - kBlock, c.x + kBlock, c.y - kBlock, c.y + kBlock,
                             int64_t{1} << kLevel);
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    Settle();
  }

  // The application with the program's map view, the tile manager and the front end's window.
  void StartApp() {
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(AppOptions().data_dir + "velmora.lock");
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    CKovraHomeExApp* a = app.get();
    app->Views().RegisterFactory(kViewMap2D, [a] { return CreatePDView(ShellMapViewSinks(a)); });
    app->RegisterStep(test::MainWindowStep());
    AppStep tiles;
    tiles.name = "tiles";
    tiles.phase = AppPhase::kTileManager;
    tiles.start = [](CKovraHomeExApp&) { return TileManager().Start(); };
    tiles.stop = [](CKovraHomeExApp&) { TileManager().Stop(); };
    app->RegisterStep(std::move(tiles));
    ASSERT_TRUE(app->InitInstance());
  }

  CQtMainWindow* Main() { return test::FrontendEnvironment::Session().MainWindow(); }

  // The main window shown with its map view, sized and painted from the store.
  CPDView* ShownView(QWidget** widget) {
    StartApp();
    CQtMainWindow* main = Main();
    if (!main || !QTest::qWaitForWindowExposed(main)) return nullptr;
    auto* view = dynamic_cast<CPDView*>(app->GetCurrentView());
    if (!view) return nullptr;
    *widget = test::WidgetOf(view);
    if (!*widget || !PumpUntil([&] { return view->Engine().GetCamera().width == (*widget)->width(); }))
      return nullptr;
    return view;
  }

  // The view's centre in world pixels at its own zoom.
  static PixelPoint CentrePixel(CPDView& view) {
    double lng, lat, level;
    view.GetCamera(&lng, &lat, &level);
    return LngLatToPixel(lng, lat, 1, level);
  }
  QString Pane(int pane) { return Main()->StatusPane(pane)->text(); }

  // Every tile in view final and the map image up to the camera.
  bool WaitForMap(CPDView& view) {
    return PumpUntil([&] {
      TileCounts n = view.Engine().CountTiles();
      return n.pending == 0 && n.loaded > 0 && view.Engine().WaitForIdle(20);
    });
  }

  // Samples the view's part of the grabbed window on a grid; each sample away from a tile's
  // edge must show the gradient pixel of the level-10 tile under it (red = column, green = row
  // in the tile, blue = the tile's tag), never a placeholder, a cross or the background.
  // Returns the number of samples that do not, and counts those checked.
  static int WrongPixels(const QImage& grab, QWidget* view_widget, QWidget* main, const CTileEngine& engine,
                         int* checked) {
    int wrong = 0;
    *checked = 0;
    const double scale = std::exp2(engine.GetCamera().zoom - kLevel);
    for (int y = 40; y < view_widget->height() - 40; y += 23) {
      for (int x = 140; x < view_widget->width() - 140; x += 29) {
        LngLat at = engine.ScreenToLngLat(x + 0.5, y + 0.5);
        PixelPoint world = LngLatToPixel(at.lng, at.lat, 1, kLevel);
        const int tx = int(std::floor(world.x / 256)), ty = int(std::floor(world.y / 256));
        const double i = world.x - tx * 256.0, j = world.y - ty * 256.0;
        const double edge = 3 + 2 / scale;
        if (i < edge || i > 256 - edge || j < edge || j > 256 - edge) continue;
        QRgb p = grab.pixel(view_widget->mapTo(main, QPoint(x, y)));
        ++*checked;
        if (std::abs(qRed(p) - i) > 3 || std::abs(qGreen(p) - j) > 3 || qBlue(p) != test::TileTag(tx, ty, kLevel))
          ++wrong;
      }
    }
    return wrong;
  }

  test::HttpTestServer web;
  std::atomic<int> stored_tiles_asked{0};
  std::unique_ptr<CKovraHomeExApp> app;
};

TEST_F(FrontendMapViewTest, DragAndWheelMoveTheMapAndTheStatusBarFollows) {
  QWidget* widget = nullptr;
  CPDView* view = ShownView(&widget);
  ASSERT_TRUE(view);
  CQtMainWindow* main = Main();
  ASSERT_GT(widget->width(), 400);
  ASSERT_GT(widget->height(), 300);

  // The default camera, shown from the store alone.
  double lng, lat, level;
  view->GetCamera(&lng, &lat, &level);
  EXPECT_EQ(lng, 120.0);
  EXPECT_EQ(lat, 36.0);
  EXPECT_EQ(level, 10.0);
  ASSERT_TRUE(WaitForMap(*view));
  EXPECT_TRUE(PumpUntil([&] { return Pane(CMapStatusBar::kPaneLevel) == QStringLiteral("10.0"); }));
  EXPECT_EQ(Pane(CMapStatusBar::kPaneCenter), QStringLiteral("120.00*,36.00*"));
  EXPECT_EQ(view->Engine().CountTiles().failed, 0);
  EXPECT_EQ(stored_tiles_asked.load(), 0);

  // Drag up and to the left with the left button: the grabbed point follows the mouse.
  const QPoint from(widget->width() / 2 + 60, widget->height() / 2 + 40);
  const QPoint to = from - QPoint(360, 260);  // far enough to need tiles beyond the store
  const LngLat grabbed = view->Engine().ScreenToLngLat(from.x(), from.y());
  const PixelPoint centre_before = CentrePixel(*view);
  QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
  for (int step = 1; step <= 10; ++step) QTest::mouseMove(widget, from + (to - from) * step / 10);
  QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
  Settle();
  PixelPoint now = view->Engine().LngLatToScreen(grabbed.lng, grabbed.lat);
  EXPECT_NEAR(now.x, to.x(), 1e-6);
  EXPECT_NEAR(now.y, to.y(), 1e-6);
  // The centre moved by the dragged pixels at the view's zoom, the other way.
  const PixelPoint centre_after = CentrePixel(*view);
  EXPECT_NEAR(centre_after.x - centre_before.x, from.x() - to.x(), 1e-6);
  EXPECT_NEAR(centre_after.y - centre_before.y, from.y() - to.y(), 1e-6);
  view->GetCamera(&lng, &lat, &level);
  EXPECT_GT(lng, 120.0);  // the map moved west: the centre lies east of where it was
  EXPECT_LT(lat, 36.0);
  EXPECT_EQ(level, 10.0);
  // The status bar: the new centre and level, the cursor over the grabbed point.
  EXPECT_TRUE(PumpUntil([&] {
    return Pane(CMapStatusBar::kPaneCenter) ==
           QStringLiteral("%1*,%2*").arg(float(lng), 0, 'f', 2).arg(float(lat), 0, 'f', 2);
  })) << Pane(CMapStatusBar::kPaneCenter).toStdString();
  EXPECT_EQ(Pane(CMapStatusBar::kPaneLevel), QStringLiteral("10.0"));
  EXPECT_EQ(Pane(CMapStatusBar::kPaneCursor),
            QStringLiteral("%1*, %2*").arg(float(grabbed.lng), 0, 'f', 2).arg(float(grabbed.lat), 0, 'f', 2));
  // The drag's end is a place in the application's history.
  std::optional<ViewPosition> place = app->ViewHistory().Current();
  ASSERT_TRUE(place);
  EXPECT_EQ(*place, (ViewPosition{lng, lat, level}));
  // The view now reaches beyond the stored block: those tiles came from the web server.
  ASSERT_TRUE(WaitForMap(*view));
  EXPECT_EQ(view->Engine().CountTiles().failed, 0);
  EXPECT_GT(web.RequestCount(), 0u);

  // One wheel notch forward at a point: half a level in, that point stays where it is.
  const QPoint at(widget->width() / 3, widget->height() / 3);
  const LngLat under = view->Engine().ScreenToLngLat(at.x(), at.y());
  QWheelEvent wheel(QPointF(at), QPointF(widget->mapToGlobal(at)), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &wheel);
  Settle();
  view->GetCamera(&lng, &lat, &level);
  EXPECT_DOUBLE_EQ(level, 10.5);
  now = view->Engine().LngLatToScreen(under.lng, under.lat);
  EXPECT_NEAR(now.x, at.x(), 1e-6);
  EXPECT_NEAR(now.y, at.y(), 1e-6);
  EXPECT_TRUE(PumpUntil([&] { return Pane(CMapStatusBar::kPaneLevel) == QStringLiteral("10.5"); }))
      << Pane(CMapStatusBar::kPaneLevel).toStdString();
  EXPECT_EQ(Pane(CMapStatusBar::kPaneCenter),
            QStringLiteral("%1*,%2*").arg(float(lng), 0, 'f', 2).arg(float(lat), 0, 'f', 2));

  // The window shows tiles: the stored ones and those the web server answered, each pixel the
  // one the camera puts there.
  ASSERT_TRUE(WaitForMap(*view));
  EXPECT_EQ(view->Engine().CountTiles().failed, 0);
  EXPECT_EQ(stored_tiles_asked.load(), 0);
  QImage grab = main->grab().toImage();
  std::string path = test::SaveArtefact(grab, "main_window_map_view");
  int checked = 0;
  EXPECT_EQ(WrongPixels(grab, widget, main, view->Engine(), &checked), 0) << path;
  EXPECT_GT(checked, 100);
}

TEST_F(FrontendMapViewTest, KeysPanByAnEighthOfTheViewAndZoomAboutTheCursor) {
  QWidget* widget = nullptr;
  CPDView* view = ShownView(&widget);
  ASSERT_TRUE(view);
  view->SetCamera(120, 36, 10, false);  // the program reopens where the last run left the map
  widget->setFocus();
  ASSERT_TRUE(PumpUntil([&] { return widget->hasFocus(); }));
  const double step_x = widget->width() / 8, step_y = widget->height() / 8;

  // Each arrow shows more of its side: the centre moves that way by an eighth of the view.
  struct Arrow {
    Qt::Key key;
    double dx, dy;
  };
  for (Arrow a : {Arrow{Qt::Key_Left, -step_x, 0}, Arrow{Qt::Key_Right, step_x, 0}, Arrow{Qt::Key_Up, 0, -step_y},
                  Arrow{Qt::Key_Down, 0, step_y}}) {
    const PixelPoint before = CentrePixel(*view);
    QTest::keyClick(widget, a.key);
    const PixelPoint after = CentrePixel(*view);
    EXPECT_NEAR(after.x - before.x, a.dx, 1e-6) << a.key;
    EXPECT_NEAR(after.y - before.y, a.dy, 1e-6) << a.key;
  }
  double lng, lat, level;
  view->GetCamera(&lng, &lat, &level);
  EXPECT_NEAR(lng, 120.0, 1e-9);  // four arrows, back where it started
  EXPECT_NEAR(lat, 36.0, 1e-9);
  EXPECT_TRUE(PumpUntil([&] { return Pane(CMapStatusBar::kPaneCenter) == QStringLiteral("120.00*,36.00*"); }));

  // The '=' and '-' keys of the main block and the keypad's '+' and '-' zoom a whole level
  // about the cursor; Insert is no zoom key.
  const QPoint at(widget->width() / 4, widget->height() * 2 / 3);
  QTest::mouseMove(widget, at);
  const LngLat under = view->Engine().ScreenToLngLat(at.x(), at.y());
  struct Zoom {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    double level;
  };
  for (Zoom z : {Zoom{Qt::Key_Equal, Qt::NoModifier, 11}, Zoom{Qt::Key_Minus, Qt::NoModifier, 10},
                 Zoom{Qt::Key_Plus, Qt::KeypadModifier, 11}, Zoom{Qt::Key_Minus, Qt::KeypadModifier, 10},
                 Zoom{Qt::Key_Insert, Qt::NoModifier, 10}}) {
    QTest::keyClick(widget, z.key, z.modifiers);
    view->GetCamera(&lng, &lat, &level);
    EXPECT_EQ(level, z.level) << z.key;
    PixelPoint now = view->Engine().LngLatToScreen(under.lng, under.lat);
    EXPECT_NEAR(now.x, at.x(), 1e-6) << z.key;
    EXPECT_NEAR(now.y, at.y(), 1e-6) << z.key;
  }
}

}  // namespace
}  // namespace velmora
