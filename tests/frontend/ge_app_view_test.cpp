// The earth application view in the real main window on an X server of the program's own (Xvfb,
// Mesa's software rasteriser), with the real earth page fed by tiles made here: a start without
// the page (the message, the previous view stays), the globe inside the view, release (logo and
// text, a grabbed picture) and capture again; the camera handed over and kept in the history;
// the region boundary and the no-region mark; a flight to a box that leaves the user-interface
// loop running; the region tools over the page's own hit tests; the live satellites; the side
// panel. One page serves the whole program.
#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "earth/ge_mosaic_job.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/dlg_ge_features.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_page.h"
#include "earth/ui/ge_app_view.h"
#include "earth/ui/ge_mosaic_command.h"
#include "frontend/main_window.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "shapes/polygon_shape.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/screen_dem_extract.h"
#include "support/earth/earth_page_fixture.h"
#include "terrain/sat_orbit.h"
#include "view/dlg_area_setting.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// Tiles: light grey with a dark grid line every 64 pixels.
std::optional<PageResource> GridTile(const std::string&) {
  CBitmap tile;
  if (!tile.Create(256, 256, 0xFFE0E0E0u)) return std::nullopt;
  for (int i = 0; i < 256; i += 64)
    for (int j = 0; j < 256; ++j) {
      tile.SetPixel(i, j, 0xFF404040u);
      tile.SetPixel(j, i, 0xFF404040u);
    }
  std::vector<uint8_t> png;
  if (!EncodeImage(tile, ImageType::kPng, &png)) return std::nullopt;
  return PageResource{"image/png", std::string(png.begin(), png.end())};
}

// The program folder: the page's library from the build, the page's folder missing until a test
// puts it there.
const bool kProgramReady = (test::EarthProgram({.screen_width = kScreenWidth,
                                                .screen_height = kScreenHeight,
                                                .page = false,
                                                .images = true,
                                                .heights = false}),
                             true);

// A 2D view stand-in for kind 0 with a camera of its own.
class CPlainMapView : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  void GetCamera(double* lng, double* lat, double* level) const override {
    *lng = 100.5, *lat = 20.25, *level = 7;
  }
};

// Answers the next message box with `button` and keeps its text.
void AnswerMessageBox(QMessageBox::StandardButton button, std::string* text) {
  test::When([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
             [button, text] {
               auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
               if (text) *text = box->text().toStdString();
               if (QAbstractButton* b = box->button(button)) b->click();
               else box->reject();
             });
}

class GEAppViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetPageResourceSource("tile", GridTile);
    SetEarthWindowSize(800, 600);
  }
  static void TearDownTestSuite() {
    CloseEarthApplication();
    Settle();
  }
  void SetUp() override {
    ASSERT_EQ(test::EarthProgram().xvfb_error, "") << "no X server";
    AppCommands().Clear();
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(folder.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    app->Views().RegisterFactory(kViewMap2D, [] { return std::make_unique<CPlainMapView>(); });
    RegisterGEAppView(*app);
    app->RegisterStep(test::MainWindowStep());
    ASSERT_TRUE(app->InitInstance());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main()));
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    AppCommands().Clear();
    Settle();
  }
  CQtMainWindow* Main() { return test::FrontendEnvironment::Session().MainWindow(); }

  // Chooses "视图/谷歌地球" and waits for the globe inside the view.
  CGEAppView* ShowEarth() {
    test::EarthProgram().SetPage(true);
    QAction* action = Main()->ActionFor(ID_VIEW_KIND_FIRST + kViewEarthApp);
    if (!action) return nullptr;
    // A start that fails says so: the box is closed and the test fails instead of waiting.
    QTimer unexpected;
    QObject::connect(&unexpected, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
        ADD_FAILURE() << "message: " << box->text().toStdString();
        box->accept();
      }
    });
    unexpected.start(10);
    action->trigger();
    unexpected.stop();
    auto* view = dynamic_cast<CGEAppView*>(app->GetCurrentView());
    if (!view) return nullptr;
    if (!PumpUntil([view] { return view->IsCaptured(); }, 90000)) return nullptr;
    return view;
  }

  // Runs a page command on a worker (as the automation does) while this thread serves the loop.
  std::string PageCall(CGEAppView& view, const std::string& name, std::vector<ScriptValue> args = {}) {
    std::optional<std::string> answer;
    std::string error;
    std::atomic<bool> done{false};
    std::shared_ptr<CEarthLink> link = view.Link();
    std::thread worker([&] {
      answer = link->Call(name, std::move(args), nullptr, 30000, &error);
      done = true;
    });
    PumpUntil([&] { return done.load(); }, 40000);
    worker.join();
    EXPECT_TRUE(answer.has_value()) << name << ": " << error;
    return answer.value_or("");
  }
  // Waits until the page's picture is complete for every command sent so far.
  bool WaitPicture(CGEAppView& view) {
    std::atomic<bool> ok{false}, done{false};
    std::thread worker([&] {
      try {
        ok = view.App()->WaitPicture();
      } catch (const CEarthError&) {
      }
      done = true;
    });
    PumpUntil([&] { return done.load(); }, 90000);
    worker.join();
    return ok;
  }
  std::vector<double> Numbers(const std::string& text) {
    std::vector<double> out;
    std::istringstream in(text);
    double v;
    while (in >> v) out.push_back(v);
    return out;
  }

  test::TempDir folder;
  std::unique_ptr<CKovraHomeExApp> app;
};

TEST_F(GEAppViewTest, WithoutThePageTheMapStaysAndWithItTheGlobeFillsTheView) {
  // No page: the message, and the 2D view stays current.
  test::EarthProgram().SetPage(false);
  std::string said;
  AnswerMessageBox(QMessageBox::Ok, &said);
  Main()->ActionFor(ID_VIEW_KIND_FIRST + kViewEarthApp)->trigger();
  PumpUntil([&] { return !said.empty(); }, 10000);
  EXPECT_EQ(said, kGEAppStartError);
  ASSERT_NE(app->GetCurrentView(), nullptr);
  EXPECT_EQ(app->GetCurrentView()->GetViewKind(), kViewMap2D);
  EXPECT_EQ(EarthApplication(false), nullptr) << "the window started for the view went with it";
  // The side panel's handlers try the switch first and then say why they do nothing.
  auto* panel = dynamic_cast<CDlgGEFeatures*>(app->MainFrame()->FindSideBarPanel(kGEFeaturesPanelName));
  ASSERT_NE(panel, nullptr);
  std::vector<std::string> texts;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&texts] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
      texts.push_back(box->text().toStdString());
      box->accept();
    }
  });
  answer.start(10);
  panel->GetDlgItemAs<CButton>(CDlgGEFeatures::IDC_LOOK_RESET)->Click();
  answer.stop();
  EXPECT_EQ(texts, (std::vector<std::string>{kGEAppStartError, kGEFeaturesNeedView}));
  EXPECT_EQ(app->GetCurrentView()->GetViewKind(), kViewMap2D);

  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  CEarthPage* page = EarthApplicationPage();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->GetParent(), view);
  EXPECT_FALSE(EarthApplicationWindow()->IsWindowVisible()) << "the application window stays hidden";
  EXPECT_TRUE(PumpUntil([&] { return page->GetWindowRect().Width() == view->GetWindowRect().Width(); }, 5000));
  // The switch took the 2D view's camera.
  ASSERT_TRUE(WaitPicture(*view));
  std::vector<double> camera = Numbers(PageCall(*view, "camera"));
  ASSERT_EQ(camera.size(), 6u);
  EXPECT_NEAR(camera[0], 100.5, 1e-4);
  EXPECT_NEAR(camera[1], 20.25, 1e-4);
  QWidget* centre = Main()->ViewStack()->currentWidget();
  test::SaveArtefact(centre->grab().toImage(), "ge_app_view_captured");

  // Released: the application's window again, the view black with the logo and the text.
  ASSERT_TRUE(app->MainFrame()->RouteCommand(ID_GE_RELEASE));
  EXPECT_FALSE(view->IsCaptured());
  EXPECT_NE(page->GetParent(), view);
  EXPECT_TRUE(EarthApplicationWindow()->IsWindowVisible());
  Settle();
  QImage released = centre->grab().toImage();
  test::SaveArtefact(released, "ge_app_view_released");
  const int w = released.width();
  EXPECT_EQ(released.pixelColor(5, released.height() - 5), QColor(Qt::black));
  int yellow = 0, logo = 0;
  for (int y = 8; y < 30; ++y)
    for (int x = w / 2 - 45; x < std::min(w, w / 2 + 120); ++x) {
      const QColor c = released.pixelColor(x, y);
      if (c.red() > 150 && c.green() > 150 && c.blue() < 80) ++yellow;
    }
  for (int y = released.height() / 2 - 10; y < released.height() / 2 + 10; ++y)
    for (int x = w / 2 - 10; x < w / 2 + 10; ++x)
      if (released.pixelColor(x, y) != QColor(Qt::black)) ++logo;
  EXPECT_GT(yellow, 20) << "the text is written in yellow";
  EXPECT_GT(logo, 0) << "the logo stands in the middle";

  // Captured again.
  ASSERT_TRUE(app->MainFrame()->RouteCommand(ID_GE_CAPTURE));
  EXPECT_TRUE(view->IsCaptured());
  EXPECT_EQ(page->GetParent(), view);
  EXPECT_FALSE(EarthApplicationWindow()->IsWindowVisible());
}

TEST_F(GEAppViewTest, CameraWrapsAndEntersTheHistory) {
  // A view whose application never started reports the default camera.
  {
    CGEAppView closed;
    double lng = 0, lat = 0, level = 0;
    closed.GetCamera(&lng, &lat, &level);
    EXPECT_EQ(lng, 120.0);
    EXPECT_EQ(lat, 36.0);
    EXPECT_DOUBLE_EQ(level, AltitudeToZoom(100000.0));
  }
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  app->ViewHistory().Clear();
  view->SetCamera(190.0, 30.0, 8.0, true);
  ASSERT_TRUE(app->ViewHistory().Current().has_value());
  EXPECT_DOUBLE_EQ(app->ViewHistory().Current()->lng, -170.0);
  EXPECT_DOUBLE_EQ(app->ViewHistory().Current()->lat, 30.0);
  double lng = 0, lat = 0, level = 0;
  view->GetCamera(&lng, &lat, &level);
  EXPECT_DOUBLE_EQ(lng, -170.0);
  EXPECT_NEAR(level, 8.0, 1e-6);
  // The page takes the camera once it has its picture of the view's start; ask until it shows it.
  std::vector<double> camera;
  const double altitude = ZoomToAltitude(8.0f);
  EXPECT_TRUE(PumpUntil([&] {
    if (!WaitPicture(*view)) return false;
    camera = Numbers(PageCall(*view, "camera"));
    return camera.size() == 6u && std::fabs(camera[0] + 170.0) < 1e-4 && std::fabs(camera[3] - altitude) < altitude * 0.01;
  }, 60000));
  ASSERT_EQ(camera.size(), 6u);
  EXPECT_NEAR(camera[0], -170.0, 1e-4);
  EXPECT_NEAR(camera[3], altitude, altitude * 0.01);
  // Without the flag the history stays.
  view->SetCamera(10.0, 10.0, 6.0, false);
  EXPECT_DOUBLE_EQ(app->ViewHistory().Current()->lng, -170.0);
  // The reported camera follows the page (asked every half second).
  ASSERT_TRUE(WaitPicture(*view));
  EXPECT_TRUE(PumpUntil([&] {
    view->GetCamera(&lng, &lat, &level);
    return std::fabs(lng - 10.0) < 1e-3 && std::fabs(level - 6.0) < 0.05;
  }, 10000));
}

TEST_F(GEAppViewTest, RegionBoundaryFollowsTheOptionAndTheNoRegionMarkHidesOnlyIt) {
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  const std::string bound = AppOptions().data_dir + kRegionBoundFile;
  std::filesystem::remove(bound);
  PageOptions options = GetPageOptions();
  options.earth.draw_region_frame = false;
  {
    ScopedPageOptions off(options);
    view->ShowRegion(100.0f, 21.0f, 101.0f, 20.0f);
    EXPECT_FALSE(std::filesystem::exists(bound));
  }
  options.earth.draw_region_frame = true;
  ScopedPageOptions on(options);
  // Another document, which the mark must leave alone.
  const std::string other = folder.File("other.kml");
  FILE* f = std::fopen(other.c_str(), "w");
  std::fputs("<?xml version=\"1.0\"?><kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><name>other</name>"
             "<Placemark><name>p</name><Point><coordinates>100.5,20.5,0</coordinates></Point></Placemark>"
             "</Document></kml>", f);
  std::fclose(f);
  view->ImportKml(other);
  view->ShowRegion(100.0f, 21.0f, 101.0f, 20.0f);
  ASSERT_TRUE(std::filesystem::exists(bound));
  std::string names;
  ASSERT_TRUE(PumpUntil([&] {
    names = PageCall(*view, "kmlNames");
    return names.find("1region_bound") != std::string::npos && names.find("1other") != std::string::npos;
  }, 30000)) << names;
  // Tilted and turned, then the mark: the region hidden, the other shown, the view straight down.
  PageCall(*view, "setCamera", {ScriptValue::Number(20.5), ScriptValue::Number(100.5), ScriptValue::Number(0),
                                ScriptValue::Number(2), ScriptValue::Number(300000), ScriptValue::Number(30),
                                ScriptValue::Number(40), ScriptValue::Number(5)});
  ASSERT_TRUE(WaitPicture(*view));
  view->ShowRegion(kNoRegion, 0, 0, 0);
  // The reset flies a quarter of a second: the camera straight down and north up afterwards.
  std::vector<double> camera;
  EXPECT_TRUE(PumpUntil([&] {
    camera = Numbers(PageCall(*view, "camera"));
    return camera.size() == 6 && std::fabs(camera[4]) < 1e-3 && std::fabs(std::remainder(camera[5], 360.0)) < 1e-3;
  }, 10000)) << "tilt " << (camera.size() == 6 ? camera[4] : -1) << ", heading " << (camera.size() == 6 ? camera[5] : -1);
  names = PageCall(*view, "kmlNames");
  EXPECT_NE(names.find("0region_bound"), std::string::npos) << names;
  EXPECT_EQ(names.find("1region_bound"), std::string::npos) << names;
  EXPECT_NE(names.find("1other"), std::string::npos) << names;
}

TEST_F(GEAppViewTest, LocateBoundFliesWithoutStoppingTheLoop) {
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(10);
  const float w = 110.0f, n = 31.0f, e = 111.0f, s = 30.0f;
  view->LocateBound(w, n, e, s);
  EXPECT_TRUE(view->Locating());
  EXPECT_FALSE(EarthApplicationPage()->IsWindowEnabled()) << "no input during the flight";
  ASSERT_TRUE(PumpUntil([&] { return !view->Locating(); }, 70000));
  EXPECT_GT(ticks, 3) << "the user-interface loop ran during the flight";
  EXPECT_TRUE(EarthApplicationPage()->IsWindowEnabled());
  // The box's corners are on the screen.
  int width = 0, height = 0;
  ASSERT_TRUE(view->App()->GetClientSize(&width, &height) || (width = view->Link()->State().width) > 0);
  width = view->Link()->State().width;
  height = view->Link()->State().height;
  for (auto [lng, lat] : {std::pair{w, n}, {e, n}, {e, s}, {w, s}}) {
    std::vector<double> px = Numbers(PageCall(*view, "toPixel", {ScriptValue::Number(lng), ScriptValue::Number(lat)}));
    ASSERT_EQ(px.size(), 2u);
    EXPECT_GE(px[0], 0);
    EXPECT_LE(px[0], width);
    EXPECT_GE(px[1], 0);
    EXPECT_LE(px[1], height);
  }
}

TEST_F(GEAppViewTest, RegionToolsUseThePagesHitTests) {
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  view->SetCamera(100.5, 20.5, 8.0, false);
  ASSERT_TRUE(WaitPicture(*view));
  CMainFrame* frame = app->MainFrame();
  // Free region: the page takes no input; each click is the page's hit test of that pixel.
  ASSERT_TRUE(frame->RouteCommand(ID_GE_TOOL_REGION));
  EXPECT_EQ(view->Mode(), CGEAppView::kFreeRegion);
  EXPECT_FALSE(EarthApplicationPage()->IsWindowEnabled());
  const std::pair<int, int> clicks[] = {{200, 150}, {400, 160}, {300, 320}};
  for (auto [x, y] : clicks) view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  ASSERT_TRUE(PumpUntil([&] { return view->FreeRegion() && view->FreeRegion()->Points().size() == 3; }, 20000));
  for (size_t i = 0; i < 3; ++i) {
    std::vector<double> hit = Numbers(PageCall(*view, "pickPixel", {ScriptValue::Number(clicks[i].first),
                                                                    ScriptValue::Number(clicks[i].second)}));
    ASSERT_EQ(hit.size(), 3u);
    EXPECT_EQ(view->FreeRegion()->Points()[i].lng, float(hit[0]));
    EXPECT_EQ(view->FreeRegion()->Points()[i].lat, float(hit[1]));
    EXPECT_EQ(view->FreeRegion()->PixelPoints()[i].x, float(clicks[i].first));
  }
  EXPECT_EQ(PageCall(*view, "regionOverlay", {}), "0");  // the overlay answers the points it drew: none now
  view->SendMessage(WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(view->FreeRegion(), nullptr) << "a right click deletes the region";
  ASSERT_TRUE(frame->RouteCommand(ID_GE_TOOL_BROWSE));
  EXPECT_TRUE(EarthApplicationPage()->IsWindowEnabled());

  // The framed tool: a band under 11 pixels does nothing; the command again returns to browsing.
  ASSERT_TRUE(frame->RouteCommand(ID_GE_TOOL_MOSAIC));
  EXPECT_EQ(view->Mode(), CGEAppView::kFramedMosaic);
  view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
  view->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(105, 150));
  view->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(110, 150));
  Settle();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no area dialog for a narrow band";
  EXPECT_EQ(view->Mode(), CGEAppView::kFramedMosaic);
  ASSERT_TRUE(frame->RouteCommand(ID_GE_TOOL_MOSAIC));
  EXPECT_EQ(view->Mode(), CGEAppView::kBrowse);

  // The elevation export tool: the band's corners, hit-tested by the page, preset the area dialog;
  // on OK the corners are kept and the extraction gets the band's closed pixel ring of this view.
  std::vector<LngLatF> ring;
  IScreenTerrainSource* source = nullptr;
  SetScreenDemExtractHandler([&](std::span<const LngLatF> pixels, IScreenTerrainSource* s) {
    ring.assign(pixels.begin(), pixels.end());
    source = s;
    return true;
  });
  std::vector<double> tl = Numbers(PageCall(*view, "pickPixel", {ScriptValue::Number(150), ScriptValue::Number(120)}));
  std::vector<double> br = Numbers(PageCall(*view, "pickPixel", {ScriptValue::Number(450), ScriptValue::Number(330)}));
  ASSERT_EQ(tl.size(), 3u);
  ASSERT_EQ(br.size(), 3u);
  std::string preset_west, preset_south;
  test::When([] { return test::ModalTitled("区域设定") != nullptr; }, [&] {
    CDialog& area = *test::ModalTitled("区域设定")->Dialog();
    preset_west = area.GetDlgItemText(CDlgAreaSetting::IDC_LEFT_LNG);
    preset_south = area.GetDlgItemText(CDlgAreaSetting::IDC_BOTTOM_LAT);
    QTest::mouseClick(test::ControlWidget<QPushButton>(area, IDOK), Qt::LeftButton);
  });
  ASSERT_TRUE(frame->RouteCommand(ID_GE_TOOL_DEM));
  EXPECT_EQ(view->Mode(), CGEAppView::kDemExport);
  view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 120));
  view->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 200));
  view->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(450, 330));
  ASSERT_TRUE(PumpUntil([&] { return !ring.empty(); }, 20000));
  SetScreenDemExtractHandler({});
  EXPECT_EQ(preset_west, FormatFixed(float(tl[0]), 6));
  EXPECT_EQ(preset_south, FormatFixed(float(br[1]), 6));
  EXPECT_EQ(ProgramSettings().GetPointF("dem_explt", {}).x, float(tl[0]));
  EXPECT_EQ(source, view->GetScreenTerrainSource());
  ASSERT_EQ(ring.size(), 5u);
  const std::pair<float, float> corners[] = {{150, 120}, {450, 120}, {450, 330}, {150, 330}, {150, 120}};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(ring[i].lng, corners[i].first) << i;
    EXPECT_EQ(ring[i].lat, corners[i].second) << i;
  }
  EXPECT_EQ(view->Mode(), CGEAppView::kBrowse);

  // The mosaic command asks about a stopped job first; cancel ends it.
  GeMosaicJob old;
  old.output_path = folder.File("old.jpg");
  old.left = 1, old.top = 2, old.right = 3, old.bottom = 1;
  const std::string resume = AppOptions().data_dir + kGeResumeFile;
  ASSERT_TRUE(WriteGeResumeFile(resume, old));
  std::string said;
  AnswerMessageBox(QMessageBox::Cancel, &said);
  ASSERT_TRUE(frame->RouteCommand(ID_GE_MOSAIC));
  EXPECT_EQ(said, kGeResumeQuestion);
  EXPECT_TRUE(std::filesystem::exists(resume));
  std::filesystem::remove(resume);
}

TEST_F(GEAppViewTest, TheFramedToolEndsInAOneShotMosaic) {
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  view->SetCamera(100.5, 20.5, 8.0, false);
  ASSERT_TRUE(WaitPicture(*view));
  std::filesystem::remove(AppOptions().data_dir + kGeResumeFile);
  // The export altitude the view has now, so that the band fits one shot.
  WriteProfileDouble("region", "export_alt", ZoomToAltitude(8.0f) / 1000.0);
  const std::string out = folder.File("mosaic.png");
  bool frame_hidden = false;
  std::vector<std::string> texts;
  test::When([] { return test::ModalTitled("区域设定") != nullptr; }, [&] {
    CDialog& area = *test::ModalTitled("区域设定")->Dialog();
    test::When([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; }, [&] {
      auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_TRUE(name);
      name->setText(QString::fromStdString(out));
      // The mosaic runs with the main window hidden and tells when it is done.
      test::When([&] {
        frame_hidden = frame_hidden || !app->MainFrame()->IsWindowVisible();
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        return box && box->isVisible();
      }, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        texts.push_back(box->text().toStdString());
        box->accept();
      });
      static_cast<QDialog*>(chooser)->accept();
    });
    QTest::mouseClick(test::ControlWidget<QPushButton>(area, IDOK), Qt::LeftButton);
  });
  ASSERT_TRUE(app->MainFrame()->RouteCommand(ID_GE_TOOL_MOSAIC));
  view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 200));
  view->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(400, 250));
  view->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(500, 300));
  ASSERT_TRUE(PumpUntil([&] { return !texts.empty(); }, 120000));
  EXPECT_EQ(texts, std::vector<std::string>{kGeMosaicDone});
  EXPECT_TRUE(frame_hidden);
  EXPECT_TRUE(PumpUntil([&] { return app->MainFrame()->IsWindowVisible() && view->IsCaptured(); }, 5000));
  EXPECT_EQ(view->Mode(), CGEAppView::kBrowse);
  GeMosaicList list;
  ASSERT_TRUE(ReadGeListFile(AppOptions().data_dir + kGeListFile, &list));
  EXPECT_EQ(list.columns, 1u);
  EXPECT_EQ(list.rows, 1u);
  CBitmap picture;
  ASSERT_TRUE(LoadImageFile(out, &picture));
  EXPECT_GT(picture.Width(), 50);
  EXPECT_GT(picture.Height(), 30);
  test::SaveArtefact(QImage(QString::fromStdString(out)), "ge_app_view_mosaic");
  // The page fills the view again.
  EXPECT_EQ(EarthApplicationPage()->GetWindowRect().Width(), view->GetWindowRect().Width());
}

TEST_F(GEAppViewTest, SatellitesAndTheSidePanel) {
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->Satellites().IsRunning()) << "the satellite switch is on";
  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle("A&B<C>\n1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\n"
                           "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\n"),
            1);
  view->ShowSatellites(orbit.Elements(), true);
  EXPECT_TRUE(std::filesystem::exists(view->Satellites().OrbitPath()));
  std::string names;
  // The orbit line and the moving point of the network link, each named as the satellite.
  EXPECT_TRUE(PumpUntil([&] {
    names = "\n" + PageCall(*view, "placeNames") + "\n";
    size_t count = 0;
    for (size_t at = names.find("\nA&B<C>\n"); at != std::string::npos; at = names.find("\nA&B<C>\n", at + 1)) ++count;
    return count >= 2;
  }, 30000)) << names;

  // The panel: the version, the terrain choice, the layer tree.
  auto* panel = dynamic_cast<CDlgGEFeatures*>(app->MainFrame()->FindSideBarPanel(kGEFeaturesPanelName));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->GetDlgItemText(CDlgGEFeatures::IDC_VERSION), "谷歌地球: 1.120.0");
  EXPECT_EQ(TerrainEntryOf(1.0), 3);
  EXPECT_EQ(panel->Terrain().GetCurSel(), 3);
  panel->Terrain().Select(0);
  EXPECT_TRUE(PumpUntil([&] { return std::fabs(view->Link()->State().exaggeration - 0.01) < 1e-9; }, 10000));
  panel->Terrain().Select(10);
  EXPECT_TRUE(PumpUntil([&] { return std::fabs(view->Link()->State().exaggeration - 3.0) < 1e-9; }, 10000));
  ASSERT_TRUE(PumpUntil([&] { return panel->LayerCount() >= 3; }, 10000));
  HTREEITEM grid = panel->Tree().FindChildItem(TVI_ROOT, "网格线");
  ASSERT_NE(grid, HTREEITEM(0));
  int image = -1, selected = -1;
  panel->Tree().GetItemImage(grid, &image, &selected);
  EXPECT_EQ(image, 0);
  panel->Tree().ClickItem(grid, TVHT_ONITEMLABEL);  // on the text: nothing
  Settle();
  panel->Tree().GetItemImage(grid, &image, &selected);
  EXPECT_EQ(image, 0);
  panel->Tree().ClickItem(grid, TVHT_ONITEMICON);
  EXPECT_TRUE(PumpUntil([&] {
    panel->Tree().GetItemImage(grid, &image, &selected);
    return image == 1 && selected == 1;
  }, 10000));
  EXPECT_NE(PageCall(*view, "layers").find("1\t网格线"), std::string::npos);
  // An item whose data names no layer of the panel's list changes nothing.
  panel->Tree().SetItemData(grid, 999);
  panel->Tree().ClickItem(grid, TVHT_ONITEMICON);
  Settle();
  panel->Tree().GetItemImage(grid, &image, &selected);
  EXPECT_EQ(image, 1);
  EXPECT_NE(PageCall(*view, "layers").find("1\t网格线"), std::string::npos);
  panel->Terrain().Select(3);

  // From another view the panel's handler switches to the earth view first.
  ASSERT_NE(app->SwitchView(kViewMap2D), nullptr);
  panel->GetDlgItemAs<CButton>(CDlgGEFeatures::IDC_RELEASE)->Click();
  Settle();
  EXPECT_EQ(app->GetCurrentView(), view);
  EXPECT_FALSE(view->IsCaptured());
  ASSERT_TRUE(app->MainFrame()->RouteCommand(ID_GE_CAPTURE));

  // The view goes with the frame and the window comes back (option off). (The orbit thread's
  // stop is the feed's own test.)
  app->ExitInstance();
  ASSERT_NE(EarthApplicationWindow(), nullptr);
  EXPECT_TRUE(EarthApplicationWindow()->IsWindowVisible());
  EXPECT_EQ(EarthApplicationPage()->GetParent(), EarthApplicationWindow());
}

TEST_F(GEAppViewTest, ClosingTheViewClosesTheApplicationWhenAsked) {
  CGEAppView* view = ShowEarth();
  ASSERT_NE(view, nullptr);
  PageOptions options = GetPageOptions();
  options.earth.close_earth_on_exit = true;
  ScopedPageOptions close(options);
  app->ExitInstance();
  EXPECT_EQ(EarthApplication(false), nullptr);
  EXPECT_EQ(EarthApplicationWindow(), nullptr);
}

}  // namespace
}  // namespace velmora
