// The 3D globe view in the desktop front end on the offscreen platform: chosen from the "视图"
// menu as "三维地球" it builds the terrain of the 2D map's area on its worker, and the frame the
// main window shows carries the terrain's height colours; the side bar holds the library panel.
#include <QAction>
#include <QStackedWidget>

#include <cmath>

#include "core/settings.h"
#include "frontend/main_window.h"
#include "frontend_env.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "support/temp_dir.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/height_to_color.h"
#include "terrain/ui/3d_view_wnd.h"
#include "terrain/ui/terrain_views.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

// The 2D view as the child-view interface and the map state see it.
class CameraView : public CWnd, public IChildView, public IMapViewState {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  bool OnPaint(CBitmap& canvas) override {
    canvas.Clear(0xFF808080u);
    return true;
  }
  void GetCamera(double* lng, double* lat, double* level) const override { *lng = 117.0, *lat = 37.5, *level = 10.0; }
  MapCamera GetCamera() const override { return MapCamera{117.0, 37.5, 10.0, 400, 300, 1}; }
  void GetViewBounds(float tl[2], float br[2]) const override {
    tl[0] = 116.5f, tl[1] = 37.875f, br[0] = 117.5f, br[1] = 37.125f;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }
};

TEST(FrontendGlobeView, ChosenFromTheMenuItShowsTheTerrainInItsHeightColours) {
  test::TempDir data;
  ScopedAppOptions options([&](CAppOptions& o) {
    o.data_dir = data.path();
    o.dem_source_mode = kDemSourceSrtm;
    o.satellite_switch = 0;
  });
  AppCommands().Clear();
  ASSERT_NE(WriteHeightFile3s(data.File("heights/"), 60, 5, [](double, double) { return 1200.0; }), "");
  CElevationStore elevation(nullptr, data.File("heights/"));
  ProgramSettings().SetInt(kDemSampleKey, 50);

  auto app = std::make_unique<CKovraHomeExApp>();
  app->SetInstanceLockPath(data.File("velmora.lock"));
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  CameraView* map = nullptr;
  app->Views().RegisterFactory(kViewMap2D, [&] {
    auto v = std::make_unique<CameraView>();
    map = v.get();
    SetCurrentMapView(map);
    return v;
  });
  RegisterTerrainViews(*app);
  C3DViewWnd* globe = nullptr;
  app->Views().RegisterFactory(kViewGlobe3D, [&] {
    auto v = std::make_unique<C3DViewWnd>();
    v->SetSources(&elevation, nullptr);
    globe = v.get();
    return v;
  });
  app->RegisterStep(test::MainWindowStep());
  ASSERT_TRUE(app->InitInstance());
  CQtMainWindow* main = test::FrontendEnvironment::Session().MainWindow();
  ASSERT_NE(main, nullptr);
  EXPECT_NE(GetMainFrame()->FindSideBarPanel("卫星库"), nullptr);
  Settle();

  QAction* action = main->ActionFor(ID_VIEW_KIND_FIRST + kViewGlobe3D);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->text(), QStringLiteral("三维地球"));
  action->trigger();
  Settle();
  ASSERT_NE(globe, nullptr);
  ASSERT_EQ(app->GetCurrentView(), globe);
  ASSERT_TRUE(PumpUntil([&] { return globe->Terrain().HasGeometry(); }, 30000));
  Settle();
  const QImage grab = main->grab().toImage();
  const std::string path = test::SaveArtefact(grab, "globe_view_in_main_window");
  QWidget* centre = main->ViewStack()->currentWidget();
  const QPoint middle = centre->mapTo(main, centre->rect().center());
  const QRgb p = grab.pixel(middle);
  const RgbColor expected = HeightToColor(1200.0f);
  EXPECT_NEAR(qRed(p), expected.r, 24) << path;
  EXPECT_NEAR(qGreen(p), expected.g, 24) << path;
  EXPECT_NEAR(qBlue(p), expected.b, 24) << path;

  app->ExitInstance();
  app.reset();
  SetCurrentMapView(nullptr);
  ProgramSettings().Remove(kDemSampleKey);
  AppCommands().Clear();
  Settle();
}

}  // namespace
}  // namespace velmora
