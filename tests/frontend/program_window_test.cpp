// The whole program's main window (every module's services, views and commands, as the velmora
// program plugs them in) on an empty profile, offline: the 2D map comes back after the other
// views (picture, wheel, window state, side bar), a service started from the publishing dialogs
// with publishing off answers as a started server does, the map tools and the source menu reach
// the 2D view, and every menu item is walked: each opens its window or runs its command with no
// message beyond those listed here.
#include <QAction>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTreeView>
#include <QWheelEvent>
#include <QWindow>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "app/program_services.h"
#include "core/settings.h"
#include "frontend/main_window.h"
#include "frontend_env.h"
#include "platform/process.h"
#include "server/ui/dlg_map_services.h"
#include "server/ui/map_service_commands.h"
#include "server/wmts_server.h"
#include "server/wmts_test_util.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/map_view_commands.h"
#include "shell/splash_wnd.h"
#include "terrain/ui/3d_tile_view.h"
#include "tiles/layer_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

// ---- what each menu item is expected to do on an empty profile, offline ----------------------
//
// One row per item (its menu path as the menu shows it, '/' between levels); a path ending in
// "*" stands for every item whose path starts with what comes before it. An item the table does not name fails the walk: a new
// command gets its row here.
enum class Effect {
  kOpensDialog,  // a modal dialog titled `detail` opens (it is cancelled)
  kShowsView,    // the view of kind `view` becomes current and fills the centre
  kToggles,      // the item's check mark flips (run twice: the state comes back)
  kChecks,       // afterwards the item is checked (a tool or a choice of the current view)
  kSetsSource,   // the 2D view's base map becomes the item's source
  kDisabled,     // greyed while the 2D view is current on an empty profile
  kArmsTool,     // afterwards the map tool of command `view` is checked (a task waits for a box)
  kSays,         // a message box with the text `detail` comes up (and nothing else)
};
struct MenuExpectation {
  const char* path;
  Effect effect;
  const char* detail = "";
  int view = -1;
};
const MenuExpectation kMenuExpectations[] = {
    {"视图/工具栏(&T)", Effect::kToggles},
    {"视图/状态栏(&S)", Effect::kToggles},
    {"视图/侧栏(&L)", Effect::kToggles},
    {"视图/二维地图", Effect::kShowsView, "", kViewMap2D},
    {"视图/三维地球", Effect::kShowsView, "", kViewGlobe3D},
    {"视图/三维瓦片视图", Effect::kShowsView, "", kViewTiles3D},
    {"视图/网页地图", Effect::kShowsView, "", kViewWebMap},
    {"视图/谷歌地球插件", Effect::kShowsView, "", kViewEarthPlugin},
    {"视图/地图源/*", Effect::kSetsSource},
    {"视图/刷新三维瓦片", Effect::kDisabled},  // the 3D tile view's own
    {"视图/填充模式/*", Effect::kDisabled},    // the 3D views' own
    {"工具/移动浏览", Effect::kChecks},
    {"工具/框选拼图", Effect::kChecks},
    {"工具/任选区域", Effect::kChecks},
    {"工具/高程导出", Effect::kDisabled},  // the earth views' own
    {"工具/拼图", Effect::kDisabled},      // the earth views' own
    {"工具/地图服务(&M)...", Effect::kOpensDialog, "地图发布服务"},
    {"工具/选项(&O)...", Effect::kOpensDialog, "选项"},
    {"工具/坐标格式转换...", Effect::kOpensDialog, "坐标格式转换工具"},
    {"工具/坐标系转换...", Effect::kOpensDialog, "坐标系转换工具"},
    {"工具/坐标批量纠正...", Effect::kOpensDialog, "坐标批量纠正"},
    {"工具/地名查询/本地地址库(&L)...", Effect::kOpensDialog, "本地搜索地址库"},
    {"工具/地名查询/优先网络查询(&W)", Effect::kToggles},
    {"工具/地名查询/地址库: *", Effect::kChecks},
    {"工具/地名查询/行政地名(&A)", Effect::kChecks},
    {"工具/地名查询/网络提示(&S)", Effect::kChecks},
    {"工具/地址数据下载...", Effect::kArmsTool, "", 32716},
    {"工具/通讯录...", Effect::kOpensDialog, "通讯录"},
    {"工具/等高线(&C)...", Effect::kOpensDialog, "等高线"},
    {"工具/高程剖面(&P)...", Effect::kDisabled},  // no line selected on the map
    {"工具/天气", Effect::kOpensDialog, "天气"},          // tool windows (modeless)
    {"工具/公交线路", Effect::kOpensDialog, "公交线路"},
    {"工具/行政边界", Effect::kOpensDialog, "行政边界"},
    {"文件/区域导出...", Effect::kOpensDialog, "导出区域设定"},
    // The earth application view cannot start without WebGL (offscreen), which is said and leaves
    // the 2D view current; its tools share the plug-in view's entries above.
    {"视图/谷歌地球", Effect::kSays, "启动Google Earth出现错误"},
    {"文件/导入拼图工程...", Effect::kOpensDialog, "导入拼图工程"},
    {"工具/图层离线缓存信息...", Effect::kOpensDialog, "图层离线缓存信息"},
    {"工具/高程数据/高程数据下载...", Effect::kArmsTool, "", 32716},
    {"工具/高程数据/获取高程...", Effect::kOpensDialog, "获取高程"},
    {"工具/高程数据/沿线采样设置...", Effect::kOpensDialog, "沿线采样设置"},
    // No box and no free region on the map yet, and no earlier extraction.
    {"工具/高程提取(&E)...", Effect::kSays, "请先用框选工具或自由区域工具在地图上选定提取范围"},
};

// Messages a menu item may show in this state, as the program's own texts say them (item path,
// exact text); the walk closes each box as Escape does. None so far.
const std::vector<std::pair<std::string, std::string>> kAllowedMessages = {};

// Items the walk leaves alone.
const char* const kNotWalked[] = {"文件/退出(&X)"};

const MenuExpectation* ExpectationFor(const std::string& path) {
  for (const MenuExpectation& e : kMenuExpectations) {
    std::string pattern = e.path;
    if (pattern == path) return &e;
    if (pattern.ends_with("*") && path.starts_with(pattern.substr(0, pattern.size() - 1))) return &e;
  }
  return nullptr;
}

bool MessageAllowed(const std::string& path, const std::string& text) {
  if (const MenuExpectation* e = ExpectationFor(path); e && e->effect == Effect::kSays && text == e->detail) return true;
  for (const auto& [item, message] : kAllowedMessages)
    if (path == item && text == message) return true;
  return false;
}

// What a person saw while one item ran: modal windows (closed at once), message texts, and
// top windows left open.
struct Seen {
  std::vector<std::string> dialogs;
  std::vector<std::string> messages;
};

// Closes every modal window and pop-up menu that comes up while it lives, noting each.
class ModalCloser {
 public:
  explicit ModalCloser(Seen* seen) : seen_(seen) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(10);
  }

 private:
  void Tick() {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      popup->close();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || closing_.count(modal)) return;
    closing_.insert(modal);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen_->messages.push_back(box->text().toStdString());
      box->reject();
    } else {
      seen_->dialogs.push_back(modal->windowTitle().toStdString());
      modal->close();
    }
  }
  Seen* seen_;
  QTimer timer_;
  std::set<QWidget*> closing_;
};

class ProgramWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.emplace([this](CAppOptions& o) {
      o.data_dir = data.path();
      o.offline = true;  // no network: nothing is fetched
      o.map_publish = false;
    });
    SplashWnd().Reset();
    MapStatusBar().Reset();
    AppCommands().Clear();
    WmtsServerOptions& server = WmtsServer().Options();
    server.default_port = test::FreePort();
    server.services_path = data.File("wmts.dat");
    server.ip_echo_host = "";
    server.resolve_own_host_name = false;
    ASSERT_TRUE(LayerManager().IsLoaded());
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    AppCommands().Clear();
    Settle();
  }

  void Start() {
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(data.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    RegisterProgramServices(*app);
    app->RegisterStep(test::MainWindowStep());
    ASSERT_TRUE(app->InitInstance());
    main = test::FrontendEnvironment::Session().MainWindow();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    Settle();
  }

  CPDView* MapView() const { return dynamic_cast<CPDView*>(app->Views().Find(kViewMap2D)); }
  QWidget* ViewWidget(int kind) const {
    IChildView* view = app->Views().Find(kind);
    return view ? test::WidgetOf(view->GetWnd()) : nullptr;
  }
  void Choose(UINT id) {
    QAction* action = main->ActionFor(id);
    ASSERT_NE(action, nullptr) << id;
    action->trigger();
    Settle();
  }
  // The picture the centre shows now, as the main window draws it.
  QImage CentreOfMain() const {
    QWidget* stack = main->ViewStack();
    return main->grab(QRect(stack->mapTo(main, QPoint(0, 0)), stack->size())).toImage();
  }

  test::TempDir data;
  std::optional<ScopedAppOptions> options;
  std::unique_ptr<CKovraHomeExApp> app;
  CQtMainWindow* main = nullptr;
};

// ---- the 2D map after the other views ---------------------------------------------------------

TEST_F(ProgramWindowTest, TheMapComesBackAfterTheOtherViewsWithItsPictureWheelStateAndSideBar) {
  Start();
  main->showMaximized();
  Settle();
  ASSERT_TRUE(main->windowHandle()->windowStates() & Qt::WindowMaximized);
  CPDView* map = MapView();
  ASSERT_NE(map, nullptr);
  QWidget* map_widget = ViewWidget(kViewMap2D);
  ASSERT_NE(map_widget, nullptr);
  ASSERT_TRUE(main->SideDock()->isVisible());
  const int side_width = main->SideDock()->width();

  auto check_map_is_back = [&](const char* after) {
    SCOPED_TRACE(after);
    ASSERT_EQ(app->GetCurrentView(), map);
    EXPECT_EQ(main->ViewStack()->currentWidget(), map_widget);
    // The centre shows the map's own picture, without a resize.
    const QImage centre = CentreOfMain();
    const QImage own = map_widget->grab().toImage();
    const std::string path = test::SaveArtefact(
        centre, std::string("map_after_") + after + "_" + QGuiApplication::platformName().toStdString());
    ASSERT_EQ(centre.size(), own.size()) << path;
    int differ = 0;
    for (int y = 0; y < own.height(); y += 7)
      for (int x = 0; x < own.width(); x += 7) differ += (centre.pixel(x, y) != own.pixel(x, y)) ? 1 : 0;
    EXPECT_EQ(differ, 0) << path;
    // The wheel over the centre zooms the map.
    const QPoint middle = main->ViewStack()->mapTo(main, main->ViewStack()->rect().center());
    QWidget* under = main->childAt(middle);
    ASSERT_NE(under, nullptr);
    EXPECT_TRUE(under == map_widget || map_widget->isAncestorOf(under)) << under->metaObject()->className();
    const double zoom = map->GetZoom();
    const QPoint local = under->mapFrom(main, middle);
    QWheelEvent wheel(local, under->mapToGlobal(local), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(under, &wheel);
    Settle();
    EXPECT_DOUBLE_EQ(map->GetZoom(), zoom + CPDView::kWheelStep);
    EXPECT_TRUE(main->ActionFor(ID_VIEW_KIND_FIRST + kViewMap2D)->isChecked());
    EXPECT_EQ(main->SideDock()->width(), side_width);
    EXPECT_TRUE(main->windowHandle()->windowStates() & Qt::WindowMaximized);
  };

  const std::string platform = QGuiApplication::platformName().toStdString();
  Choose(ID_VIEW_KIND_FIRST + kViewTiles3D);
  ASSERT_EQ(app->GetCurrentView()->GetViewKind(), kViewTiles3D);
  test::SaveArtefact(main->grab().toImage(), "main_in_tiles3d_" + platform);
  EXPECT_EQ(main->ViewStack()->currentWidget(), ViewWidget(kViewTiles3D));
  EXPECT_EQ(main->SideDock()->width(), side_width);
  Choose(ID_VIEW_KIND_FIRST + kViewMap2D);
  check_map_is_back("tiles3d");

  Choose(ID_VIEW_KIND_FIRST + kViewWebMap);
  ASSERT_EQ(app->GetCurrentView()->GetViewKind(), kViewWebMap);
  test::SaveArtefact(main->grab().toImage(), "main_in_web_" + platform);
  EXPECT_EQ(main->ViewStack()->currentWidget(), ViewWidget(kViewWebMap));
  EXPECT_TRUE(main->windowHandle()->windowStates() & Qt::WindowMaximized);
  EXPECT_EQ(main->SideDock()->width(), side_width);
  Choose(ID_VIEW_KIND_FIRST + kViewMap2D);
  check_map_is_back("web");
}

// The same run on an X server (our own Xvfb): there the web view's first show makes Qt create
// the top window anew, which the offscreen platform does not do.
TEST(ProgramWindowOnX, TheMapComesBackOnAnXServerToo) {
  std::error_code ec;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  ASSERT_FALSE(ec);
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  SpawnOptions xvfb_options;
  xvfb_options.stdout_fd = pipe_fds[1];
  std::string error;
  const pid_t xvfb = SpawnProgram({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                                  xvfb_options, &error);
  close(pipe_fds[1]);
  ASSERT_GT(xvfb, 0) << error;
  // The server writes its display number as a line of digits once it accepts clients.
  std::string out, display;
  char buffer[256];
  pollfd p{pipe_fds[0], POLLIN, 0};
  while (display.empty() && poll(&p, 1, 20000) > 0) {
    ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    out.append(buffer, static_cast<size_t>(got));
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = out.substr(start, end - start);
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) display = ":" + line;
    }
  }
  close(pipe_fds[0]);
  int status = -1;
  if (!display.empty()) {
    const pid_t run = SpawnProgram({"env", "QT_QPA_PLATFORM=xcb", "DISPLAY=" + display, self,
                                    "--gtest_filter=ProgramWindowTest.TheMapComesBack*"},
                                   SpawnOptions{-1, false}, &error);
    if (run > 0) status = WaitProgram(run);
  }
  kill(xvfb, SIGTERM);
  WaitProgram(xvfb);
  ASSERT_FALSE(display.empty()) << "Xvfb gave no display: " << out;
  EXPECT_EQ(status, 0) << error;
}

// ---- a service started from the dialogs while publishing is off ------------------------------

TEST_F(ProgramWindowTest, AServiceStartedFromTheDialogsAnswersAsAStartedServerDoes) {
  ASSERT_FALSE(AppOptions().map_publish);
  Start();
  const uint16_t port = WmtsServer().Options().default_port;
  std::map<std::string, test::HttpAnswer> answers;
  bool done = false;
  test::When([] { return test::ModalTitled("地图发布服务") != nullptr; }, [&] {
    CDialog& dialog = *test::ModalTitled("地图发布服务")->Dialog();
    auto* services = test::ControlWidget<QTreeView>(dialog, CDlgMapServices::kIdServices);
    ASSERT_TRUE(services);
    // The default service, listed stopped: started through the row's menu.
    ASSERT_TRUE(PumpUntil([&] { return services->model()->rowCount() == 1; }));
    test::When([] { return test::Popup() != nullptr; }, [] { test::Choose(test::Popup(), "开始/停止"); });
    QTest::mouseClick(services->viewport(), Qt::RightButton, {},
                      services->visualRect(services->model()->index(0, 0)).center());
    for (const std::string& path : std::vector<std::string>{"/", "/wmtsInfo.js", test::TileUrl(35, 4, 5, 6)}) {
      test::RawClient client(port);
      test::HttpAnswer answer;
      if (client.Connected() && client.Get(path) && client.Read(&answer)) answers[path] = answer;
    }
    done = true;
    CDialogWindow::Of(dialog)->close();
  });
  Choose(ID_MAP_SERVICE);
  ASSERT_TRUE(done);
  ASSERT_EQ(answers.count("/"), 1u);
  EXPECT_EQ(answers["/"].status_line, "HTTP/1.0 200 OK");
  EXPECT_NE(answers["/"].body.find("OpenLayers"), std::string::npos);
  ASSERT_EQ(answers.count("/wmtsInfo.js"), 1u);
  EXPECT_NE(answers["/wmtsInfo.js"].body.find("localhost:" + std::to_string(port)), std::string::npos);
  const std::string tile = test::TileUrl(35, 4, 5, 6);
  ASSERT_EQ(answers.count(tile), 1u);
  EXPECT_EQ(answers[tile].Header("Content-Type"), "image/jpeg");
  EXPECT_GT(WmtsServer().MimeTypeCount(), 0u);
}

// ---- the map tools and the map sources --------------------------------------------------------

TEST_F(ProgramWindowTest, MapToolsAndSourcesReachTheMapView) {
  Start();
  CPDView* map = MapView();
  ASSERT_NE(map, nullptr);
  QWidget* widget = ViewWidget(kViewMap2D);
  ASSERT_NE(widget, nullptr);

  // The free region: clicks add corners, a right click clears them.
  Choose(CPDView::ID_TOOL_REGION);
  EXPECT_EQ(map->GetTool(), CPDView::Tool::kRegion);
  const QPoint c = widget->rect().center();
  for (QPoint at : {c + QPoint(-60, -40), c + QPoint(70, -30), c + QPoint(10, 60)}) QTest::mouseClick(widget, Qt::LeftButton, {}, at);
  Settle();
  ASSERT_NE(map->FreeRegion(), nullptr);
  EXPECT_EQ(map->FreeRegion()->PixelPoints().size(), 3u);
  QTest::mouseClick(widget, Qt::RightButton, {}, QPoint(80, 80));
  Settle();
  EXPECT_EQ(map->FreeRegion(), nullptr);

  // The box tool: a band opens the area dialog (cancelled here); browsing pans again.
  Choose(CPDView::ID_TOOL_BOX);
  EXPECT_EQ(map->GetTool(), CPDView::Tool::kBox);
  Seen seen;
  {
    ModalCloser closer(&seen);
    QTest::mousePress(widget, Qt::LeftButton, {}, c + QPoint(-60, -50));
    QTest::mouseMove(widget, c + QPoint(20, 10));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, c + QPoint(60, 50));
    Settle();
  }
  EXPECT_EQ(seen.dialogs.size(), 1u);
  EXPECT_TRUE(seen.messages.empty());
  Choose(CPDView::ID_TOOL_BROWSE);
  EXPECT_EQ(map->GetTool(), CPDView::Tool::kPan);

  // In the 3D tile view the same box command is its model export; the tools it lacks are greyed.
  Choose(ID_VIEW_KIND_FIRST + kViewTiles3D);
  CCmdUI region_ui(CPDView::ID_TOOL_REGION);
  app->MainFrame()->QueryCommandUI(region_ui);
  EXPECT_FALSE(region_ui.IsEnabled());
  CCmdUI refresh_ui(ID_3D_REFRESH);
  app->MainFrame()->QueryCommandUI(refresh_ui);
  EXPECT_TRUE(refresh_ui.IsEnabled());
  auto* tiles3d = dynamic_cast<C3DTileView*>(app->GetCurrentView());
  ASSERT_NE(tiles3d, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return tiles3d->Pool().GetStats().built > 0; }));
  Seen exported;
  {
    ModalCloser closer(&exported);
    Choose(ID_3D_EXPORT_MODEL);  // the file chooser of the model export, cancelled
  }
  EXPECT_EQ(exported.dialogs.size(), 1u);
  EXPECT_TRUE(exported.messages.empty());
  EXPECT_EQ(map->GetTool(), CPDView::Tool::kPan);  // the 2D view's box tool was not taken
  Choose(ID_VIEW_KIND_FIRST + kViewMap2D);

  // A source of another provider from the source menu: the map's base, kept in the profile.
  const auto& sources = LayerManager().Sources();
  const int before = map->Engine().BaseSourceId();
  size_t index = 0;
  while (index < sources.size() && sources[index].id == before) ++index;
  ASSERT_LT(index, sources.size());
  Choose(kSourceCommandFirst + static_cast<UINT>(index));
  EXPECT_EQ(map->Engine().BaseSourceId(), sources[index].id);
  EXPECT_EQ(GetProfileInt(CPDView::kProfileSection, "Source", -1), sources[index].id);
  CCmdUI checked(kSourceCommandFirst + static_cast<UINT>(index));
  app->MainFrame()->QueryCommandUI(checked);
  EXPECT_TRUE(checked.Checked());
}

// ---- every menu item --------------------------------------------------------------------------

struct MenuItem {
  std::string path;
  UINT id;
};

std::vector<MenuItem> MenuItems(QMenuBar* bar) {
  std::vector<MenuItem> items;
  std::function<void(QMenu*, const std::string&)> collect = [&](QMenu* menu, const std::string& prefix) {
    for (QAction* a : menu->actions()) {
      if (a->isSeparator()) continue;
      const std::string path = prefix + a->text().toStdString();
      if (a->menu())
        collect(a->menu(), path + "/");
      else
        items.push_back({path, a->data().toUInt()});
    }
  };
  for (QAction* top : bar->actions())
    if (top->menu()) collect(top->menu(), top->text().toStdString() + "/");
  return items;
}

std::set<QWidget*> ShownTopWindows() {
  std::set<QWidget*> shown;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) shown.insert(w);
  return shown;
}

TEST_F(ProgramWindowTest, EveryMenuItemOpensItsWindowOrRunsItsCommand) {
  Start();
  ASSERT_NE(MapView(), nullptr);
  const std::vector<MenuItem> items = MenuItems(main->menuBar());
  ASSERT_GT(items.size(), 10u);
  std::vector<std::string> failures;
  auto state = [&](UINT id) {
    CCmdUI ui(id);
    app->MainFrame()->QueryCommandUI(ui);
    return std::make_pair(ui.IsEnabled(), ui.Checked() != 0);
  };
  for (const MenuItem& item : items) {
    if (std::find(std::begin(kNotWalked), std::end(kNotWalked), item.path) != std::end(kNotWalked)) continue;
    const MenuExpectation* expect = ExpectationFor(item.path);
    if (!expect) {
      failures.push_back(item.path + ": no row in kMenuExpectations");
      continue;
    }
    // Every item from the same state: the 2D view current.
    app->SwitchView(kViewMap2D);
    Settle();
    const auto [enabled, checked] = state(item.id);
    if (expect->effect == Effect::kDisabled) {
      if (enabled) failures.push_back(item.path + ": enabled, expected greyed");
      continue;
    }
    if (!enabled) {
      failures.push_back(item.path + ": greyed");
      continue;
    }
    Seen seen;
    auto run = [&] {
      const std::set<QWidget*> before = ShownTopWindows();
      ModalCloser closer(&seen);
      QAction* action = main->ActionFor(item.id);
      if (!action) return;
      action->trigger();
      Settle();
      // Windows left open (modeless ones) are noted and closed.
      for (QWidget* w : ShownTopWindows())
        if (!before.count(w) && w != main) {
          seen.dialogs.push_back(w->windowTitle().toStdString());
          w->close();
        }
      Settle();
    };
    run();
    const std::string dialogs = seen.dialogs.empty() ? "none" : seen.dialogs.front();
    switch (expect->effect) {
      case Effect::kOpensDialog:
        if (seen.dialogs.empty() || (std::string(expect->detail) != "*" && seen.dialogs.front() != expect->detail))
          failures.push_back(item.path + ": opened " + dialogs + ", expected " + expect->detail);
        break;
      case Effect::kShowsView: {
        IChildView* current = app->GetCurrentView();
        if (!current || current->GetViewKind() != expect->view || main->ViewStack()->currentWidget() != ViewWidget(expect->view))
          failures.push_back(item.path + ": the view is not shown");
        break;
      }
      case Effect::kToggles:
        if (state(item.id).second == checked) failures.push_back(item.path + ": no change of its check mark");
        run();
        if (state(item.id).second != checked) failures.push_back(item.path + ": does not come back");
        break;
      case Effect::kChecks:
        if (!state(item.id).second) failures.push_back(item.path + ": not checked afterwards");
        break;
      case Effect::kSetsSource: {
        const auto& sources = LayerManager().Sources();
        const size_t index = item.id - kSourceCommandFirst;
        if (index >= sources.size() || MapView()->Engine().BaseSourceId() != sources[index].id)
          failures.push_back(item.path + ": the map's base is not the item's source");
        break;
      }
      case Effect::kArmsTool:
        if (!state(static_cast<UINT>(expect->view)).second) failures.push_back(item.path + ": the map tool is not armed");
        break;
      case Effect::kSays:
        if (std::find(seen.messages.begin(), seen.messages.end(), expect->detail) == seen.messages.end())
          failures.push_back(item.path + ": did not say \"" + expect->detail + "\"");
        break;
      case Effect::kDisabled: break;
    }
    for (const std::string& message : seen.messages)
      if (!MessageAllowed(item.path, message)) failures.push_back(item.path + ": message \"" + message + "\"");
  }
  std::string all;
  for (const std::string& f : failures) all += "\n  " + f;
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << items.size() << " items:" << all;
}

}  // namespace
}  // namespace velmora
