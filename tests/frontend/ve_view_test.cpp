// The web map page view in the main frame on Qt WebEngine (offscreen): the "网页地图" command
// switches to it, its page shows the tiles of a tile store made here with the tile manager
// stopped (no network), and camera and shape calls are checked inside the page (the camera
// clamp, the number text of the shapes, kinds, clearing, an empty list, a failing call that
// stops the rest). A missing page shows its message and leaves the program running. Tile
// addresses that are not tiles of a source are refused.
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTimer>
#include <cmath>
#include <optional>

#include "core/settings.h"
#include "earth/ui/ve_view.h"
#include "frontend/main_window.h"
#include "frontend_env.h"
#include "shapes/polygon_shape.h"
#include "shapes/polyline_shape.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "support/temp_dir.h"
#include "tiles/tile_key.h"
#include "tiles/map_view_state.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

constexpr int kSource = 60;  // the catalogue's first map source, the page's source here

// The colour of stored tile (x, y) of zoom 2.
QColor TileColor(int x, int y) { return QColor(30 + 60 * x, 40 + 60 * y, 200 - 40 * x); }

std::string TilePng(int x, int y) {
  QImage image(256, 256, QImage::Format_RGB32);
  image.fill(TileColor(x, y));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

// Every tile of zoom 2 of the source, written once per program into the isolated data folder.
void StoreTiles() {
  static bool stored = false;
  if (stored) return;
  CTileStore* store = TileManager().OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) {
      std::string png = TilePng(x, y);
      ASSERT_EQ(store->Write(MakeTileKey(x, y, TileKeyValue(kSource, 2)), png.data(), png.size(), false),
                TileWriteResult::kWritten);
    }
  stored = true;
}

// A 2D view stand-in for kind 0 (the start-up shows kind 0 first).
class CPlainMapView : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
};

// What the 2D view publishes of itself: a fixed camera on source 60.
class CFixedMapState : public IMapViewState {
 public:
  MapCamera GetCamera() const override { return MapCamera{10.5, 20.25, 5.6, 800, 600, 1}; }
  void GetViewBounds(float top_left[2], float bottom_right[2]) const override {
    top_left[0] = top_left[1] = bottom_right[0] = bottom_right[1] = 0;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {MapLayer{kSource, 1, true, 1.0f}}; }
};

// Runs `act` once a message box shows.
void WhenMessageBoxShown(std::function<void(QMessageBox*)> act) {
  QTimer::singleShot(0, [act] {
    QMessageBox* box = nullptr;
    PumpUntil([&box] {
      box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      return box && box->isVisible();
    }, 30000);
    if (box) act(box);
  });
}

class FrontendWebMapViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppCommands().Clear();
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(folder.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    app->Views().RegisterFactory(kViewMap2D, [] { return std::make_unique<CPlainMapView>(); });
    app->Views().RegisterFactory(kViewWebMap, [] { return std::make_unique<CVEView>(); });
    AppStep window;
    window.name = "main window";
    window.phase = AppPhase::kFrame;
    window.start = [](CKovraHomeExApp& a) {
      return test::FrontendEnvironment::Session().CreateMainWindow(*a.MainFrame()) != nullptr;
    };
    window.stop = [](CKovraHomeExApp&) { test::FrontendEnvironment::Session().DestroyMainWindow(); };
    app->RegisterStep(std::move(window));
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    AppCommands().Clear();
    Settle();
  }

  CQtMainWindow* Main() { return test::FrontendEnvironment::Session().MainWindow(); }

  // Starts the program's frame and chooses "视图/网页地图" (after `before`).
  CVEView* SwitchToWebMap(const std::function<void()>& before = {}) {
    if (!app->InitInstance()) return nullptr;
    CQtMainWindow* main = Main();
    if (!main || !QTest::qWaitForWindowExposed(main)) return nullptr;
    QAction* action = main->ActionFor(ID_VIEW_KIND_FIRST + kViewWebMap);
    if (!action || action->text() != QStringLiteral("网页地图")) return nullptr;
    if (before) before();
    action->trigger();
    Settle();
    return dynamic_cast<CVEView*>(app->GetCurrentView());
  }

  // The page's state (webMapState), read after every call sent before it.
  QJsonObject PageState(CVEView& view) {
    bool answered = false;
    std::optional<ScriptValue> reply;
    view.Engine().CallFunctionAsync("webMapState", {}, [&](std::optional<ScriptValue> r) {
      reply = std::move(r);
      answered = true;
    });
    if (!PumpUntil([&] { return answered; }, 30000) || !reply || !reply->IsString()) {
      ADD_FAILURE() << "the page gave no state";
      return {};
    }
    return QJsonDocument::fromJson(QByteArray::fromStdString(reply->text)).object();
  }

  // SetPoints and the result of its last call.
  std::optional<bool> SendShapes(CVEView& view, const std::vector<const CMapShape*>& shapes, bool* sent) {
    std::optional<bool> result;
    *sent = view.SetPoints(shapes, [&](bool ok) { result = ok; });
    if (!PumpUntil([&] { return result.has_value(); }, 30000)) ADD_FAILURE() << "setPoints never answered";
    return result;
  }

  test::TempDir folder;
  std::unique_ptr<CKovraHomeExApp> app;
};

TEST_F(FrontendWebMapViewTest, TheWebMapShowsStoredTilesWithoutTheNetwork) {
  StoreTiles();
  ASSERT_FALSE(TileManager().IsRunning());  // nothing can be fetched
  CFixedMapState map_view;
  SetCurrentMapView(&map_view);
  CVEView* view = SwitchToWebMap();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->GetWnd()->GetDlgCtrlID(), kViewWebMap);
  ASSERT_TRUE(PumpUntil([&] { return view->IsPageReady(); }, 60000));
  EXPECT_TRUE(view->HasSetCenter());
  EXPECT_TRUE(view->HasSetPoints());
  // The page opens where the 2D map is.
  QJsonObject first = PageState(*view);
  SetCurrentMapView(nullptr);
  EXPECT_EQ(first.value("lng").toDouble(), 10.5);
  EXPECT_EQ(first.value("lat").toDouble(), 20.25);
  EXPECT_EQ(first.value("zoom").toInt(), 5);
  QWidget* centre = Main()->ViewStack()->currentWidget();
  ASSERT_NE(centre, Main()->Hint());

  view->SetCamera(190, 10, 1.7, true);
  QJsonObject state;
  ASSERT_TRUE(PumpUntil([&] {
    state = PageState(*view);
    return state.value("tilesLoaded").toInt() >= 4;
  }, 60000)) << "tiles loaded: " << state.value("tilesLoaded").toInt();
  EXPECT_EQ(state.value("source").toInt(), kSource);
  EXPECT_EQ(state.value("tilesFailed").toInt(), 0);
  EXPECT_EQ(TileManager().PendingCount(), 0u);

  // The centre (-170°, 10°) lies in tile (0, 1) of zoom 2.
  // West of the centre, beyond the antimeridian, the map goes on with tile (3, 1). Both tiles fade
  // in, so the picture is taken again until both are drawn in full.
  QImage grab;
  const QColor want = TileColor(0, 1);
  const QColor east = TileColor(3, 1);
  auto near = [](const QColor& c, const QColor& w, int tolerance) {
    return std::abs(c.red() - w.red()) < tolerance && std::abs(c.green() - w.green()) < tolerance &&
           std::abs(c.blue() - w.blue()) < tolerance;
  };
  bool drawn = PumpUntil([&] {
    grab = centre->grab().toImage();
    return near(grab.pixelColor(grab.width() / 2, grab.height() / 2), want, 8) &&
           near(grab.pixelColor(grab.width() / 2 - 60, grab.height() / 2), east, 8);
  }, 30000);
  test::SaveArtefact(grab, "web_map_view_tiles");
  EXPECT_TRUE(drawn) << "centre pixel " << grab.pixelColor(grab.width() / 2, grab.height() / 2).name().toStdString()
                     << ", west pixel " << grab.pixelColor(grab.width() / 2 - 60, grab.height() / 2).name().toStdString();
}

TEST_F(FrontendWebMapViewTest, CameraAndShapesAreCheckedInsideThePage) {
  CVEView* view = SwitchToWebMap();
  ASSERT_TRUE(view);
  // A camera set while the page loads is shown once it is ready.
  view->SetCamera(190, 10, 1.7, true);
  ASSERT_TRUE(PumpUntil([&] { return view->IsPageReady(); }, 60000));
  QJsonObject state = PageState(*view);
  EXPECT_EQ(state.value("lng").toDouble(), -170);
  EXPECT_EQ(state.value("lat").toDouble(), 10);
  EXPECT_EQ(state.value("zoom").toInt(), 2);
  EXPECT_NEAR(state.value("mapLng").toDouble(), -170, 1e-6);
  EXPECT_NEAR(state.value("mapLat").toDouble(), 10, 1e-6);
  EXPECT_EQ(state.value("mapZoom").toInt(), 2);

  // Latitude past the pole wraps, the zoom is cut to 22.9 and truncated.
  view->SetCamera(-200, 95, 30, false);
  state = PageState(*view);
  EXPECT_EQ(state.value("lng").toDouble(), 160);
  EXPECT_EQ(state.value("lat").toDouble(), -85);
  EXPECT_EQ(state.value("zoom").toInt(), 22);
  double lng = 0, lat = 0, level = 0;
  view->GetCamera(&lng, &lat, &level);
  EXPECT_EQ(lng, 120.0);
  EXPECT_EQ(lat, 36.0);
  EXPECT_EQ(level, 10.0);
  view->SetCamera(116.4, 39.9, 10, false);

  // Two points as one text, floats widened before "%f": 116.4f is 116.40000152...
  CPolylineShape line;
  ASSERT_TRUE(line.AddPoint(116.4f, 39.0f));
  ASSERT_TRUE(line.AddPoint(-0.5f, 0.1f));
  bool sent = false;
  EXPECT_EQ(SendShapes(*view, {&line}, &sent), true);
  EXPECT_TRUE(sent);
  state = PageState(*view);
  QJsonArray shapes = state.value("shapes").toArray();
  ASSERT_EQ(shapes.size(), 1);
  EXPECT_EQ(shapes[0].toObject().value("text").toString(), QStringLiteral("116.400002,39 -0.5,0.1 "));
  EXPECT_EQ(shapes[0].toObject().value("kind").toInt(), 1);
  EXPECT_EQ(state.value("features").toInt(), 1);

  // A polygon goes as kind 2; a shape without points is skipped.
  CPolygonShape polygon;
  for (auto [x, y] : {std::pair{116.0f, 39.5f}, {117.25f, 39.5f}, {117.25f, 40.125f}}) polygon.AddPoint(x, y);
  CPolylineShape empty;
  EXPECT_EQ(SendShapes(*view, {&empty, &polygon}, &sent), true);
  state = PageState(*view);
  shapes = state.value("shapes").toArray();
  ASSERT_EQ(shapes.size(), 2);
  EXPECT_EQ(shapes[1].toObject().value("text").toString(), QStringLiteral("116,39.5 117.25,39.5 117.25,40.125 "));
  EXPECT_EQ(shapes[1].toObject().value("kind").toInt(), 2);
  EXPECT_EQ(state.value("features").toInt(), 2);
  // Both are drawn over the map (red lines and a filled polygon around 116.6°, 39.8°).
  view->SetCamera(116.6, 39.8, 7, false);
  QWidget* centre = Main()->ViewStack()->currentWidget();
  QImage grab;
  auto red_pixels = [&] {
    int n = 0;
    for (int y = 0; y < grab.height(); y += 2)
      for (int x = 0; x < grab.width(); x += 2) {
        QColor c = grab.pixelColor(x, y);
        n += c.red() > 180 && c.green() < 120 && c.blue() < 120;
      }
    return n;
  };
  bool drawn = PumpUntil([&] {
    grab = centre->grab().toImage();
    return red_pixels() > 50;
  }, 30000);
  test::SaveArtefact(grab, "web_map_view_shapes");
  EXPECT_TRUE(drawn) << red_pixels();

  // An empty list, or one of shapes without points, sends nothing and answers false.
  EXPECT_EQ(SendShapes(*view, {}, &sent), false);
  EXPECT_FALSE(sent);
  EXPECT_EQ(SendShapes(*view, {&empty}, &sent), false);
  EXPECT_FALSE(sent);
  EXPECT_EQ(PageState(*view).value("shapes").toArray().size(), 2);

  // Clearing sends "null" with kind 0.
  std::optional<bool> cleared;
  EXPECT_TRUE(view->ClearPoints([&](bool ok) { cleared = ok; }));
  ASSERT_TRUE(PumpUntil([&] { return cleared.has_value(); }));
  EXPECT_TRUE(*cleared);
  state = PageState(*view);
  EXPECT_EQ(state.value("shapes").toArray().size(), 0);
  EXPECT_EQ(state.value("features").toInt(), 0);

  // The interface's shape loading: sent shapes are the view's to delete.
  std::vector<CMapShape*> owned{new CPolylineShape()};
  owned[0]->AddPoint(1.5f, 2.5f);
  owned[0]->AddPoint(3.0f, 4.0f);
  EXPECT_EQ(view->LoadShapes(owned, false), 1);
  EXPECT_TRUE(owned.empty());
  std::vector<CMapShape*> nothing;
  EXPECT_EQ(view->LoadShapes(nothing, false), 0);
  EXPECT_EQ(PageState(*view).value("shapes").toArray().size(), 1);
  view->ClearObjects();

  // The first failing call stops the rest: the page's second setPoints call throws.
  bool patched = false;
  view->Engine().CallFunctionAsync(
      "eval",
      {ScriptValue::String("var calls = 0, plainSetPoints = setPoints;"
                           "setPoints = function (t, k) { if (++calls === 2) throw new Error('refused');"
                           " return plainSetPoints(t, k); }; 'patched'")},
      [&](std::optional<ScriptValue> r) { patched = r && r->text == "patched"; });
  ASSERT_TRUE(PumpUntil([&] { return patched; }));
  CPolylineShape a, b, c;
  for (CPolylineShape* s : {&a, &b, &c}) s->AddPoint(10, 20), s->AddPoint(11, 21);
  EXPECT_EQ(SendShapes(*view, {&a, &b, &c}, &sent), false);
  EXPECT_TRUE(sent);
  state = PageState(*view);
  EXPECT_EQ(state.value("shapes").toArray().size(), 1);
  EXPECT_EQ(state.value("features").toInt(), 1);
}

TEST_F(FrontendWebMapViewTest, AMissingPageShowsTheMessageAndTheProgramGoesOn) {
  test::TempDir program;  // a program folder without "msve.kmp"
  ScopedAppOptions options([&](CAppOptions& o) { o.program_dir = program.path(); });
  std::string shown;
  CVEView* view = SwitchToWebMap([&] {
    WhenMessageBoxShown([&](QMessageBox* box) {
      shown = box->text().toStdString();
      QTest::keyClick(box, Qt::Key_Return);
    });
  });
  ASSERT_TRUE(view);
  EXPECT_EQ(shown, kWebMapPageMissing);
  EXPECT_TRUE(view->IsPageMissing());
  EXPECT_TRUE(view->IsWindow());
  // The empty view takes calls and sends nothing.
  view->SetCamera(10, 20, 5, true);
  CPolylineShape line;
  line.AddPoint(1, 2);
  EXPECT_FALSE(view->SetPoints({&line}));
  EXPECT_FALSE(view->ClearPoints());
  Settle();
  EXPECT_FALSE(view->IsPageReady());
  // The program goes on: back to the map and again to the empty view, without a second box.
  Main()->ActionFor(ID_VIEW_KIND_FIRST + kViewMap2D)->trigger();
  EXPECT_EQ(app->GetCurrentView()->GetViewKind(), kViewMap2D);
  shown.clear();
  Main()->ActionFor(ID_VIEW_KIND_FIRST + kViewWebMap)->trigger();
  Settle();
  EXPECT_EQ(app->GetCurrentView(), view);
  EXPECT_EQ(shown, "");
}

TEST(WebMapTileAddresses, OnlyTilesOfMapSourcesAreServed) {
  StoreTiles();
  std::optional<PageResource> tile = WebMapTileResource("/60/2/1/3");
  ASSERT_TRUE(tile);
  EXPECT_EQ(tile->mime, "image/png");
  EXPECT_EQ(tile->bytes, TilePng(1, 3));
  for (const char* path : {"/60/2/4/0", "/60/2/0/4", "/60/2/-1/0", "/60/2/1", "/60/2/1/3/", "/60/2/1/3x",
                           "/60/23/0/0", "/60/5/3/3" /* not stored */, "/8/2/1/1" /* a geocoder */,
                           "/99999/2/1/1", "60/2/1/3", "/60//1/3", "/60/2/99999999999/0", ""})
    EXPECT_FALSE(WebMapTileResource(path)) << path;
  EXPECT_EQ(TileManager().TileCount(), 0u);  // the stopped manager was asked for nothing
}

TEST(WebMapPointText, NumbersAsTheShapeTextWritesThem) {
  CPolylineShape line;
  line.AddPoint(-0.5f, 39.0f);
  line.AddPoint(100.0f, -0.0f);
  line.AddPoint(0.000001f, 89.999f);
  EXPECT_EQ(WebMapPointsText(line), "-0.5,39 100,-0 0.000001,89.999001 ");
  EXPECT_EQ(WebMapShapeKind(line), 1);
  CPolygonShape polygon;
  EXPECT_EQ(WebMapPointsText(polygon), "");
  EXPECT_EQ(WebMapShapeKind(polygon), 2);
}

}  // namespace
}  // namespace velmora
