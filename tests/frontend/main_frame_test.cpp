// The main frame on Qt through the application's real start-up: menus and toolbar from the
// command table (a command nobody registered is absent), commands and their states through the
// frame, the address bar's control, the side bar's panels by name, the status bar's panes fed from
// a worker, the splash window's lines, the current view drawn in the centre (or the hint without
// one), the window's place kept between runs, and the close box ending the program.
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplashScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolBox>
#include <optional>
#include <thread>

#include "core/settings.h"
#include "frontend/splash_screen.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/ui/controls.h"
#include "shell/command_table.h"
#include "shell/dialog_ex.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/splash_wnd.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

constexpr UINT kIdMapService = 32881;
constexpr UINT kIdExportModel = 32716;

// A map view that paints itself green and records its size.
class CTestMapView : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  bool OnPaint(CBitmap& canvas) override {
    canvas.Clear(0xFF30A050);
    return true;
  }
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override {
    if (msg == WM_SIZE) size = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    return CWnd::WindowProc(msg, wparam, lparam);
  }
  std::pair<int, int> size{0, 0};
};

class CTestPanel : public ISideBarPanel {
 public:
  CTestPanel() : dialog(DialogTemplate{9501, "", 120, 160, {{ControlKind::kTreeView, 1, "", 0, 0, 120, 160, 0}}}) {}
  const char* GetPanelName() const override { return "行政地名"; }
  CWnd* GetPanelWnd() override { return &dialog; }
  CDialogEx dialog;
};

class FrontendMainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.emplace([this](CAppOptions& o) { o.data_dir = data.path(); });
    SplashWnd().Reset();
    MapStatusBar().Reset();
    AppCommands().Clear();
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    AppCommands().Clear();
    Settle();
  }

  // The application with the front end's step, as the program has it.
  void MakeApp(bool with_view) {
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(data.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    if (with_view) app->Views().RegisterFactory(kViewMap2D, [] { return std::make_unique<CTestMapView>(); });
    AppStep layers;
    layers.name = "layers";
    layers.phase = AppPhase::kCatalogue;
    layers.start_text = "加载地图源...";
    layers.start = [this](CKovraHomeExApp&) {
      splash_during_start = CSplashScreen::ShownText();
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("Splash") && w->isVisible()) splash_grab = w->grab().toImage();
      return true;
    };
    app->RegisterStep(std::move(layers));
    app->RegisterStep(test::MainWindowStep());
  }

  CQtMainWindow* Main() { return test::FrontendEnvironment::Session().MainWindow(); }

  QMenu* TopMenu(const QString& title) {
    for (QAction* a : Main()->menuBar()->actions())
      if (a->menu() && a->text() == title) return a->menu();
    return nullptr;
  }

  static QStringList Texts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  }

  test::TempDir data;
  std::optional<ScopedAppOptions> options;
  std::unique_ptr<CKovraHomeExApp> app;
  std::string splash_during_start;
  QImage splash_grab;
};

TEST_F(FrontendMainFrameTest, FrameShowsMenusToolbarBarsAndTheCurrentView) {
  int services_opened = 0;
  bool services_enabled = true;
  AppCommand services;
  services.id = kIdMapService;
  services.menu = "工具";
  services.text = "地图服务(&M)...";
  services.prompt = "打开地图发布服务\n地图服务";
  services.icon = "map_service.png";
  services.toolbar = true;
  services.handler = [&] { ++services_opened; };
  services.update = [&](CCmdUI& ui) { ui.Enable(services_enabled); };
  AppCommands().Register(services);
  // A view's command that no built view handles: listed, greyed.
  AppCommand export_model;
  export_model.id = kIdExportModel;
  export_model.menu = "工具";
  export_model.text = "导出模型";
  export_model.prompt = "导出三维模型\n导出模型";
  AppCommands().Register(export_model);

  MakeApp(true);
  ASSERT_TRUE(app->InitInstance());
  CQtMainWindow* main = Main();
  ASSERT_TRUE(main);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
  Settle();
  EXPECT_EQ(splash_during_start, "加载地图源...");
  EXPECT_FALSE(splash_grab.isNull());
  test::SaveArtefact(splash_grab, "splash");
  EXPECT_STREQ(CSplashScreen::ShownText(), "");  // hidden once the frame shows

  EXPECT_EQ(main->windowTitle(), QStringLiteral("Velmora"));
  EXPECT_TRUE(main->isMaximized());  // the first run: maximised, as the start-up asks
  QStringList tops;
  for (QAction* a : main->menuBar()->actions()) tops << a->text();
  EXPECT_EQ(tops, (QStringList{QStringLiteral("文件"), QStringLiteral("视图"), QStringLiteral("工具")}));
  EXPECT_EQ(Texts(TopMenu(QStringLiteral("文件"))), QStringList{QStringLiteral("退出(&X)")});
  // Only the view kinds that are built have a command.
  EXPECT_EQ(Texts(TopMenu(QStringLiteral("视图"))),
            (QStringList{QStringLiteral("工具栏(&T)"), QStringLiteral("状态栏(&S)"), QStringLiteral("-"),
                         QStringLiteral("二维地图"), QStringLiteral("地图源")}));
  QAction* service_action = main->ActionFor(kIdMapService);
  ASSERT_TRUE(service_action);
  EXPECT_EQ(service_action->toolTip(), QStringLiteral("地图服务"));
  EXPECT_EQ(service_action->statusTip(), QStringLiteral("打开地图发布服务"));
  EXPECT_TRUE(main->ToolBar()->actions().contains(service_action));
  EXPECT_TRUE(main->ToolBar()->isVisible());
  EXPECT_EQ(main->ActionFor(kIdExportModel + 1), nullptr);

  service_action->trigger();
  EXPECT_EQ(services_opened, 1);
  services_enabled = false;
  main->SyncIdle();
  EXPECT_FALSE(service_action->isEnabled());
  emit TopMenu(QStringLiteral("工具"))->aboutToShow();
  EXPECT_FALSE(main->ActionFor(kIdExportModel)->isEnabled());  // nobody handles it
  // Bars as commands, with their check marks.
  emit TopMenu(QStringLiteral("视图"))->aboutToShow();
  EXPECT_TRUE(main->ActionFor(ID_VIEW_STATUS_BAR)->isChecked());
  main->ActionFor(ID_VIEW_STATUS_BAR)->trigger();
  Settle();
  EXPECT_FALSE(main->statusBar()->isVisible());
  main->ActionFor(ID_VIEW_STATUS_BAR)->trigger();
  Settle();
  EXPECT_TRUE(main->statusBar()->isVisible());

  // The 2D view is current: drawn in the centre, told its size.
  QWidget* centre = main->ViewStack()->currentWidget();
  ASSERT_NE(centre, main->Hint());
  auto* view = dynamic_cast<CTestMapView*>(app->GetCurrentView());
  ASSERT_TRUE(view);
  EXPECT_EQ(view->size, std::make_pair(centre->width(), centre->height()));
  QImage grab = main->grab().toImage();
  EXPECT_EQ(grab.pixel(centre->mapTo(main, centre->rect().center())) & 0xFFFFFF, 0x30A050u);
  std::string path = test::SaveArtefact(grab, "main_frame_with_view");
  int checked = 0;
  std::vector<std::string> missing = test::TextsNotDrawn(main, grab, &checked);
  EXPECT_TRUE(missing.empty()) << path << ": " << (missing.empty() ? "" : missing.front());
  EXPECT_GE(checked, 3);  // the three menus
  EXPECT_TRUE(main->ActionFor(ID_VIEW_KIND_FIRST + kViewMap2D)->isEnabled());
}

TEST_F(FrontendMainFrameTest, AddressBarSideBarAndStatusBar) {
  MakeApp(false);
  auto panel_step = AppStep{};
  panel_step.name = "panels";
  panel_step.phase = AppPhase::kFrame;
  CTestPanel* panel = nullptr;
  panel_step.start = [&panel](CKovraHomeExApp& a) {
    auto own = std::make_unique<CTestPanel>();
    panel = own.get();
    own->dialog.Create(a.MainFrame());
    a.MainFrame()->AddSideBarPanel(std::move(own));
    return true;
  };
  app->RegisterStep(std::move(panel_step));
  ASSERT_TRUE(app->InitInstance());
  CQtMainWindow* main = Main();
  ASSERT_TRUE(main && QTest::qWaitForWindowExposed(main));
  Settle();

  // No view is built: the centre shows the hint, the view menu has no view.
  EXPECT_EQ(main->ViewStack()->currentWidget(), main->Hint());
  EXPECT_EQ(main->Hint()->text(), QStringLiteral("没有可显示的地图视图"));

  // The side bar's page is the panel, by its name.
  CMainFrame* frame = app->MainFrame();
  EXPECT_EQ(frame->FindSideBarPanel("行政地名"), panel);
  EXPECT_EQ(frame->FindSideBarPanel("卫星库"), nullptr);
  EXPECT_TRUE(main->SideDock()->isVisible());
  ASSERT_EQ(main->SideBox()->count(), 1);
  EXPECT_EQ(main->SideBox()->itemText(0), QStringLiteral("行政地名"));
  EXPECT_TRUE(main->SideBox()->widget(0)->isAncestorOf(test::ControlWidget(panel->dialog, 1)));
  EXPECT_NE(main->ActionFor(ID_VIEW_SIDEBAR), nullptr);

  // The address bar takes a control of the frame; Enter in it is the frame's IDOK.
  CEdit search;
  ASSERT_TRUE(search.Create(frame, 0xE900, "", WS_CHILD | WS_VISIBLE));
  int searches = 0;
  frame->MapCommand(IDOK, [&] { ++searches; });
  frame->SetAddressBarControl(&search);
  Settle();
  auto* edit = test::WidgetOf<QLineEdit>(&search);
  ASSERT_TRUE(edit);
  EXPECT_TRUE(main->AddressSlot()->isAncestorOf(edit));
  test::TypeText(edit, QStringLiteral("天安门"));
  EXPECT_EQ(search.GetWindowText(), "天安门");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(searches, 1);

  // Status panes, the network state set by a worker.
  MapStatusBar().SetViewCenter(116.391f, 39.907f, 10.0f);
  MapStatusBar().SetCursorPos(121.47f, 31.23f, 0);
  MapStatusBar().SetMessageText("就绪");
  std::thread worker([] { MapStatusBar().SetNetState(CMapStatusBar::kNetFailed); });
  worker.join();
  EXPECT_TRUE(PumpUntil([&] { return main->NetStatePane()->toolTip() == QStringLiteral("网络连接失败"); }));
  EXPECT_EQ(main->StatusPane(CMapStatusBar::kPaneCenter)->text(), QStringLiteral("116.39*,39.91*"));
  EXPECT_EQ(main->StatusPane(CMapStatusBar::kPaneLevel)->text(), QStringLiteral("10.0"));
  EXPECT_EQ(main->StatusPane(CMapStatusBar::kPaneCursor)->text(), QStringLiteral("121.47*, 31.23*"));
  EXPECT_EQ(main->StatusPane(CMapStatusBar::kPaneMessage)->text(), QStringLiteral("就绪"));

  QImage grab = main->grab().toImage();
  std::string path = test::SaveArtefact(grab, "main_frame");
  int checked = 0;
  std::vector<std::string> missing = test::TextsNotDrawn(main, grab, &checked);
  EXPECT_TRUE(missing.empty()) << path << ": " << (missing.empty() ? "" : missing.front());
  EXPECT_GE(checked, 3);
  frame->SetAddressBarControl(nullptr);
  search.DestroyWindow();
}

TEST_F(FrontendMainFrameTest, WindowPlaceIsKeptBetweenRunsAndTheCloseBoxEndsTheProgram) {
  MakeApp(false);
  ASSERT_TRUE(app->InitInstance());
  ASSERT_TRUE(Main() && QTest::qWaitForWindowExposed(Main()));
  Main()->showNormal();
  Main()->setGeometry(120, 90, 900, 640);
  Settle();
  // The close box: the frame's WM_CLOSE ends the loop; the shut-down keeps the place.
  QTimer::singleShot(0, [this] { Main()->close(); });
  EXPECT_EQ(test::FrontendEnvironment::Session().Bridge().Exec(), 0);
  EXPECT_NE(Main(), nullptr);  // closed by the shut-down, not by the close box itself
  app->ExitInstance();
  EXPECT_EQ(Main(), nullptr);
  EXPECT_EQ(GetProfileInt("MainFrame", "width", 0), 900);
  EXPECT_EQ(GetProfileInt("MainFrame", "maximized", 1), 0);
  app.reset();

  MakeApp(false);
  ASSERT_TRUE(app->InitInstance());
  ASSERT_TRUE(Main() && QTest::qWaitForWindowExposed(Main()));
  Settle();
  EXPECT_FALSE(Main()->isMaximized());
  EXPECT_EQ(Main()->geometry().size(), QSize(900, 640));
  EXPECT_EQ(Main()->geometry().topLeft(), QPoint(120, 90));
}

}  // namespace
}  // namespace velmora
