// The 3D globe view on the headless device over synthetic height files: the terrain of the map's
// area drawn in its height colours with the caption; satellites placed at the orbit model's
// positions and moved by a pass of the orbit thread; no orbit thread with the satellite switch
// off; the terrain settings dialog storing and rebuilding (and refusing bad values); the model
// saved through the view's command with "Ok" only on success; and, in the application, the
// "视图" command "三维地球" with the library panel, whose hidden satellites leave the view at the
// next synchronisation and come back as new objects.
#include "terrain/ui/3d_view_wnd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/height_to_color.h"
#include "terrain/ui/dlg_terrain_settings.h"
#include "terrain/ui/satellite_tree.h"
#include "terrain/ui/terrain_views.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
const char kIss1[] = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const char kIss2[] = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
const char kHst1[] = "1 20580U 90037B   08264.21563194  .00000616  00000-0  33431-4 0  4443";
const char kHst2[] = "2 20580  28.4690 118.0413 0003747 277.5337 185.3506 15.00889497 51566";
constexpr double kClock = 2454734.0;

// Heights rising to the east: low green in the west, brown and grey in the east.
double Terrain(double lon, double) { return (lon - 116.0) * 2500.0; }

class GlobeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    options_.emplace([](CAppOptions& o) {
      o.dem_source_mode = kDemSourceSrtm;
      o.satellite_switch = 0;
    });
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
    ASSERT_NE(WriteHeightFile3s(kFolders.File("heights/"), 60, 5, Terrain), "");
    elevation_ = std::make_unique<CElevationStore>(nullptr, kFolders.File("heights/"));
  }
  void TearDown() override {
    elevation_.reset();
    options_.reset();
  }
  static CElevationStore& Elevation() { return *elevation_; }

 private:
  std::optional<ScopedAppOptions> options_;
  static inline std::unique_ptr<CElevationStore> elevation_;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new GlobeEnvironment);

// The 2D view's state as the terrain reads it: 400 x 300 pixels over 116.5..117.5 E.
class MapState : public IMapViewState {
 public:
  MapCamera GetCamera() const override { return camera; }
  void GetViewBounds(float tl[2], float br[2]) const override {
    tl[0] = 116.5f, tl[1] = 37.875f, br[0] = 117.5f, br[1] = 37.125f;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }
  MapCamera camera{117.0, 37.5, 10.0, 400, 300, 1};
};

SatElements Elements(const char* name, const char* l1, const char* l2) {
  CSatOrbit orbit;
  EXPECT_EQ(orbit.ParseTle(std::string(name) + "\n" + l1 + "\n" + l2 + "\n"), 1);
  return orbit.Elements();
}

D3DXVECTOR3 OrbitXyz(const SatElements& e, double jd) {
  CSatOrbit orbit(e);
  EXPECT_TRUE(orbit.ComputeAt(jd));
  D3DXVECTOR3 p;
  orbit.GetXYZ(&p.x, &p.y, &p.z);
  return p;
}

class GlobeViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiHost(&host);
    SetCurrentMapView(&map);
    view = std::make_unique<C3DViewWnd>();
    view->SetSources(&GlobeEnvironment::Elevation(), nullptr);
    view->SetClock([this] { return clock; });
    ASSERT_TRUE(view->CreateView(0, nullptr));
    view->SendMessage(WM_SIZE, 0, MAKELPARAM(200, 150));
  }
  void TearDown() override {
    view.reset();
    SetCurrentMapView(nullptr);
    SetUiHost(nullptr);
    for (const char* key : {kDemSampleKey, kDemFactorKey, kTerrainTextureKey}) ProgramSettings().Remove(key);
  }
  // Rebuilds and waits for the terrain to be committed through the view's own message.
  void RebuildAndWait() {
    view->Rebuild();
    ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return view->Terrain().HasGeometry(); }, 20000));
  }
  CBitmap Paint() {
    CBitmap canvas;
    EXPECT_TRUE(canvas.Create(200, 150));
    EXPECT_TRUE(view->OnPaint(canvas));
    EXPECT_EQ(view->LastRenderResult(), D3D_OK);
    return canvas;
  }

  CHeadlessUiHost host;
  MapState map;
  double clock = kClock;
  std::unique_ptr<C3DViewWnd> view;
};

TEST_F(GlobeViewTest, TheTerrainOfTheMapsAreaIsDrawnInItsHeightColours) {
  ProgramSettings().SetInt(kDemSampleKey, 60);
  RebuildAndWait();
  EXPECT_EQ(view->Terrain().Rows(), 60);
  EXPECT_EQ(view->Terrain().Columns(), 80);
  EXPECT_FALSE(view->OrbitThreadRunning());  // the switch is off in this program
  const CBitmap frame = Paint();
  test::SaveTestArtefact(frame, "globe_view", "terrain");
  // The middle of the window is the middle of the area, 117 E: 2500 m.
  auto near = [](Argb p, RgbColor c) {
    return std::abs(int((p >> 16) & 0xFF) - c.r) < 24 && std::abs(int((p >> 8) & 0xFF) - c.g) < 24 &&
           std::abs(int(p & 0xFF) - c.b) < 24;
  };
  EXPECT_TRUE(near(frame.GetPixel(100, 75), HeightToColor(2500))) << std::hex << frame.GetPixel(100, 75);
  // West is lower than east: each side shows the colour of a height of its own half.
  auto of_heights = [&](Argb p, double lon1, double lon2) {
    for (double lon = lon1; lon <= lon2; lon += 0.005)
      if (near(p, HeightToColor(float(Terrain(lon, 0))))) return true;
    return false;
  };
  const Argb west = frame.GetPixel(45, 75), east = frame.GetPixel(155, 75);
  EXPECT_NE(west, east);
  EXPECT_TRUE(of_heights(west, 116.5, 117.0)) << std::hex << west;
  EXPECT_FALSE(of_heights(west, 117.1, 117.5)) << std::hex << west;
  EXPECT_TRUE(of_heights(east, 117.0, 117.5)) << std::hex << east;
  EXPECT_FALSE(of_heights(east, 116.5, 116.9)) << std::hex << east;
  int magenta = 0;  // "Velmora" at the top left
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 70; ++x) {
      const Argb p = frame.GetPixel(x, y);
      magenta += ((p >> 16) & 0xFF) > 0xC0 && (p & 0xFF) > 0xC0 && ((p >> 8) & 0xFF) < 0x40 ? 1 : 0;
    }
  EXPECT_GT(magenta, 10);
}

TEST_F(GlobeViewTest, SatellitesStandAtTheOrbitModelsPositionsAndMoveWithAPass) {
  const SatElements iss = Elements("ISS", kIss1, kIss2), hst = Elements("HST", kHst1, kHst2);
  view->ShowSatellites(iss, true);
  view->ShowSatellites(hst, true);
  view->ShowSatellites(iss, true);  // shown again: still one object, record renewed
  auto positions = view->SatellitePositions();
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0].first, 25544u);
  const D3DXVECTOR3 at = OrbitXyz(iss, kClock);
  EXPECT_NEAR(positions[0].second.x, at.x, 1e-3);
  EXPECT_NEAR(positions[0].second.y, at.y, 1e-3);
  EXPECT_NEAR(positions[0].second.z, at.z, 1e-3);
  // No orbit thread runs (switch off): the satellites stay until a pass moves them.
  clock = kClock + 10.0 / 1440;
  EXPECT_EQ(view->SatellitePositions()[0].second.x, positions[0].second.x);
  view->MoveSatellites();
  const D3DXVECTOR3 later = OrbitXyz(iss, clock);
  EXPECT_NEAR(view->SatellitePositions()[0].second.x, later.x, 1e-3);
  EXPECT_NEAR(view->SatellitePositions()[1].second.z, OrbitXyz(hst, clock).z, 1e-3);
  EXPECT_GT(std::fabs(later.x - at.x), 100.0f);  // ten minutes move it thousands of kilometres
  // Over the whole earth (the map zoomed out) the frame shows their tracks in their colours.
  map.camera.zoom = 2.5;
  RebuildAndWait();
  EXPECT_EQ(view->Terrain().Columns(), 87);
  const CBitmap frame = Paint();
  test::SaveTestArtefact(frame, "globe_view", "satellites");
  int track = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) track += (frame.GetPixel(x, y) & 0xFFFFFFu) == (iss.color & 0xFFFFFFu) ? 1 : 0;
  EXPECT_GT(track, 20);
  view->ShowSatellites(iss, false);
  ASSERT_EQ(view->SatelliteCount(), 1u);
  EXPECT_EQ(view->SatellitePositions()[0].first, 20580u);
}

TEST_F(GlobeViewTest, TheSettingsDialogStoresRebuildsAndRefusesBadValues) {
  ProgramSettings().SetInt(kDemSampleKey, 40);
  RebuildAndWait();
  ASSERT_EQ(view->Terrain().Rows(), 40);
  host.AnswerDialog(CDlgTerrainSettings::kTemplateId, [&](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "地形设置");
    EXPECT_EQ(d.GetDlgItemText(CDlgTerrainSettings::kIdSamples), "40");
    EXPECT_EQ(d.GetDlgItemText(CDlgTerrainSettings::kIdFactorA), "1");
    EXPECT_EQ(d.GetDlgItemText(CDlgTerrainSettings::kIdFactorB), "0");
    for (const char* bad : {"1", "0", "4097", "-3", "abc", ""}) {
      d.GetDlgItemAs<CEdit>(CDlgTerrainSettings::kIdSamples)->Type(bad);
      d.GetDlgItemAs<CButton>(IDOK)->Click();
      EXPECT_FALSE(d.HasEnded()) << bad;
      EXPECT_EQ(host.LastMessage(), CDlgTerrainSettings::kBadSamples) << bad;
    }
    EXPECT_EQ(ProgramSettings().GetInt(kDemSampleKey, 0), 40);  // nothing stored
    d.GetDlgItemAs<CEdit>(CDlgTerrainSettings::kIdSamples)->Type("20");
    d.GetDlgItemAs<CEdit>(CDlgTerrainSettings::kIdFactorA)->Type("x");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
    EXPECT_EQ(host.LastMessage(), CDlgTerrainSettings::kBadFactor);
    d.GetDlgItemAs<CEdit>(CDlgTerrainSettings::kIdFactorA)->Type("3");
    d.GetDlgItemAs<CEdit>(CDlgTerrainSettings::kIdFactorB)->Type("-7");
    // "地形重置" applies and stays open.
    d.GetDlgItemAs<CButton>(CDlgTerrainSettings::kIdReset)->Click();
    EXPECT_FALSE(d.HasEnded());
    EXPECT_EQ(ProgramSettings().GetInt(kDemSampleKey, 0), 20);
    EXPECT_EQ(ProgramSettings().GetIntPair(kDemFactorKey, IntPair{}), (IntPair{3, -7}));
    ASSERT_TRUE(view->Terrain().WaitBuild(kInfinite));
    d.GetDlgItemAs<CEdit>(CDlgTerrainSettings::kIdSamples)->Type("30");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
    EXPECT_TRUE(d.HasEnded());
  });
  view->SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(ProgramSettings().GetInt(kDemSampleKey, 0), 30);
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return view->Terrain().HasGeometry(); }, 20000));
  EXPECT_EQ(view->Terrain().Rows(), 30);
}

TEST_F(GlobeViewTest, TheSaveCommandSaysOkOnlyWhenTheModelIsWritten) {
  // No terrain yet: a failure, not "Ok".
  host.AnswerFile({kFolders.File("models/none.x")});
  view->SendMessage(WM_COMMAND, MAKEWPARAM(ID_3D_SAVE_X, 0), 0);
  EXPECT_NE(host.LastMessage(), "Ok");
  EXPECT_FALSE(std::filesystem::exists(kFolders.File("models/none.x")));
  ProgramSettings().SetInt(kDemSampleKey, 20);
  RebuildAndWait();
  host.AnswerFile({kFolders.File("models/terrain.x")});
  view->SendMessage(WM_COMMAND, MAKEWPARAM(ID_3D_SAVE_X, 0), 0);
  EXPECT_EQ(host.LastMessage(), "Ok");
  EXPECT_TRUE(std::filesystem::exists(kFolders.File("models/terrain.x")));
}

// The 2D view of the application as the child-view interface sees it.
class CameraView : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  void GetCamera(double* lng, double* lat, double* level) const override { *lng = 117.0, *lat = 37.5, *level = 10.0; }
};

TEST(GlobeViewInTheApplication, ChosenFromTheMenuItFollowsTheLibraryPanel) {
  test::TempDir data;
  ScopedAppOptions options([&](CAppOptions& o) { o.data_dir = data.path(); });
  CHeadlessUiHost host;
  SetUiHost(&host);
  MapState map;
  SetCurrentMapView(&map);
  auto app = std::make_unique<CKovraHomeExApp>();
  app->SetInstanceLockPath(data.File("velmora.lock"));
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  app->Views().RegisterFactory(kViewMap2D, [] { return std::make_unique<CameraView>(); });
  RegisterTerrainViews(*app);
  app->Views().RegisterFactory(kViewGlobe3D, [] {
    auto v = std::make_unique<C3DViewWnd>();
    v->SetSources(&GlobeEnvironment::Elevation(), nullptr);
    return v;
  });
  ASSERT_TRUE(app->InitInstance());
  const std::optional<AppCommand> command = AppCommands().Find(ID_VIEW_KIND_FIRST + kViewGlobe3D);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->menu, "视图");
  EXPECT_EQ(command->text, "三维地球");
  auto* panel = dynamic_cast<CSatelliteTree*>(GetMainFrame()->FindSideBarPanel("卫星库"));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->LibraryPath(), data.File("obs.db"));
  ASSERT_EQ(panel->AddFromText("visual", std::string("ISS\n") + kIss1 + "\n" + kIss2 + "\nHST\n" + kHst1 + "\n" + kHst2 + "\n"), 2);

  GetMainFrame()->RouteCommand(ID_VIEW_KIND_FIRST + kViewGlobe3D);
  auto* globe = dynamic_cast<C3DViewWnd*>(app->GetCurrentView());
  ASSERT_NE(globe, nullptr);
  EXPECT_EQ(globe->GetName(), "3DView");
  double lng = 0, lat = 0, level = 0;
  globe->GetCamera(&lng, &lat, &level);  // the 2D view's
  EXPECT_EQ(level, 10.0);
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return globe->Terrain().HasGeometry(); }, 20000));
  EXPECT_EQ(globe->SatelliteCount(), 0u);

  // Ticked in the panel: shown in the current view.
  const HTREEITEM folder = panel->GetChildren(TVI_ROOT).at(0);
  panel->ClickItem(folder, TVHT_ONITEMICON);
  EXPECT_EQ(globe->SatelliteCount(), 2u);
  // Hidden in the library without the view being told: gone at the next synchronisation.
  CSatTreeItem* iss = panel->ItemOf(panel->GetChildren(folder).at(0));
  iss->SetShown(0);
  globe->RefreshSatelliteLayer();
  ASSERT_EQ(globe->SatelliteCount(), 1u);
  EXPECT_EQ(globe->SatellitePositions()[0].first, 20580u);
  // Shown again: a new object.
  iss->SetShown(1);
  globe->RefreshSatelliteLayer();
  EXPECT_EQ(globe->SatelliteCount(), 2u);
  // Deleting the folder hides both.
  panel->SelectItem(folder);
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(CSatelliteTree::ID_DELETE, 0), 0);
  EXPECT_EQ(globe->SatelliteCount(), 0u);

  app->ExitInstance();
  EXPECT_FALSE(AppCommands().Find(ID_VIEW_KIND_FIRST + kViewGlobe3D));
  app.reset();
  SetCurrentMapView(nullptr);
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
