// The application object: start-up and shut-down order with their texts, the single-instance and
// free-space refusals, the view switch and history, side-bar panels, tick times and the profile
// stores saved at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "core/settings.h"
#include "platform/sync.h"
#include "platform/ui/headless_host.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/splash_wnd.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class TestView : public CWnd, public IChildView {
 public:
  TestView(int kind, std::vector<std::string>* events) : kind_(kind), events_(events) {}
  ~TestView() override { events_->push_back("view gone " + std::to_string(kind_)); }
  int GetViewKind() const override { return kind_; }
  std::string GetName() const override { return "View" + std::to_string(kind_); }
  CWnd* GetWnd() override { return this; }

 private:
  int kind_;
  std::vector<std::string>* events_;
};

class TestPanel : public ISideBarPanel {
 public:
  explicit TestPanel(const char* name) : name_(name) {}
  const char* GetPanelName() const override { return name_.c_str(); }

 private:
  std::string name_;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.emplace([this](CAppOptions& o) {
      o.data_dir = data.path();
      o.map_publish = true;
    });
    SplashWnd().Reset();
    MapStatusBar().Reset();
    SetUiHost(&host);
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(data.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  }
  void TearDown() override {
    app.reset();
    SetUiHost(nullptr);
  }

  // A step that records its start with the splash line and its stop with the status line.
  void AddStep(const std::string& name, AppPhase phase, const std::string& start_text = "",
               std::function<bool()> enabled = {}, bool start_ok = true) {
    AppStep step;
    step.name = name;
    step.phase = phase;
    step.start_text = start_text;
    step.enabled = std::move(enabled);
    step.start = [this, name, start_ok](CKovraHomeExApp&) {
      events.push_back("start " + name + " [" + SplashWnd().Text() + "]");
      return start_ok;
    };
    step.stop = [this, name](CKovraHomeExApp&) {
      events.push_back("stop " + name + " [" + MapStatusBar().PaneText(CMapStatusBar::kPaneMessage) + "]");
    };
    app->RegisterStep(std::move(step));
  }

  test::TempDir data;
  std::optional<ScopedAppOptions> options;
  CHeadlessUiHost host;
  std::unique_ptr<CKovraHomeExApp> app;
  std::vector<std::string> events;
};

TEST_F(AppTest, StartUpAndShutDownRunTheStepsInOrderWithTheirTexts) {
  AddStep("publishing", AppPhase::kPublishing, "创建地图发布服务...", [] { return AppOptions().map_publish; });
  AddStep("tiles", AppPhase::kTileManager, "启动下载线程...");
  AddStep("layers", AppPhase::kCatalogue, "加载地图源...");
  AddStep("frame-a", AppPhase::kFrame);
  AddStep("frame-b", AppPhase::kFrame);
  app->Views().RegisterFactory(kViewMap2D, [this] { return std::make_unique<TestView>(kViewMap2D, &events); });

  ASSERT_TRUE(app->InitInstance());
  EXPECT_FALSE(SplashWnd().IsShown());
  ASSERT_NE(GetMainFrame(), nullptr);
  EXPECT_TRUE(GetMainFrame()->IsWindowVisible());
  ASSERT_NE(app->GetCurrentView(), nullptr);
  EXPECT_EQ(app->GetCurrentView()->GetViewKind(), kViewMap2D);

  EXPECT_EQ(app->ExitInstance(), 0);
  // The publishing services stop before the tile manager; the views close before the frame's
  // own services stop.
  EXPECT_EQ(events, (std::vector<std::string>{
                        "start layers [加载地图源...]",
                        "start frame-a [加载地图源...]",
                        "start frame-b [加载地图源...]",
                        "start tiles [启动下载线程...]",
                        "start publishing [创建地图发布服务...]",
                        "stop layers [保存页面...]",
                        "stop publishing [保存页面...]",
                        "stop tiles [开始退出...]",
                        "view gone 0",
                        "stop frame-b [关闭页面...]",
                        "stop frame-a [关闭页面...]",
                    }));
  EXPECT_EQ(GetMainFrame(), nullptr);
  EXPECT_EQ(app->ExitInstance(), 0);  // a second call does nothing
  EXPECT_EQ(events.size(), 11u);

  // Switched off, the publishing services are not started at all.
  UpdateAppOptions([](CAppOptions& o) { o.map_publish = false; });
  events.clear();
  ASSERT_TRUE(app->InitInstance());
  app->ExitInstance();
  EXPECT_EQ(std::count(events.begin(), events.end(), "start tiles [启动下载线程...]"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "start publishing [创建地图发布服务...]"), 0);
}

TEST_F(AppTest, SecondInstanceIsRefusedWithTheSystemMessage) {
  AddStep("layers", AppPhase::kCatalogue);
  CInstanceLock other;  // another running instance
  ASSERT_EQ(other.Acquire(data.File("velmora.lock")), CInstanceLock::Result::kAcquired);
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"\tVelmora\n已经存在一个运行实例!"});
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(app->ExitInstance(), 0);
  EXPECT_TRUE(MapStatusBar().MessageHistory().empty());  // nothing had started: no shut-down texts

  // The lock is held while the program runs and given back at its end.
  other.Release();
  EXPECT_TRUE(app->InitInstance());
  EXPECT_EQ(other.Acquire(data.File("velmora.lock")), CInstanceLock::Result::kHeldElsewhere);
  app->ExitInstance();
  EXPECT_EQ(other.Acquire(data.File("velmora.lock")), CInstanceLock::Result::kAcquired);
}

TEST_F(AppTest, TooLittleFreeSpaceIsRefusedAndTheOptionsOpen) {
  AddStep("layers", AppPhase::kCatalogue);
  AddStep("tiles", AppPhase::kTileManager);
  std::string probed;
  app->SetFreeSpaceProbe([&](const std::string& folder) {
    probed = folder;
    return std::optional<uint64_t>(CKovraHomeExApp::kMinFreeSpace - 1);
  });
  int options_opened = 0;
  app->SetOptionsOpener([&] { ++options_opened; });
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(probed, data.path());
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"硬盘空间不足,请重新设置数据目录!"});
  EXPECT_EQ(options_opened, 1);
  // The layers had started and are stopped again; nothing after the check ran.
  EXPECT_EQ(events, (std::vector<std::string>{"start layers []", "stop layers []"}));
  EXPECT_EQ(GetMainFrame(), nullptr);

  // Exactly 100 MiB is enough; a folder that cannot be examined is not.
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(CKovraHomeExApp::kMinFreeSpace); });
  EXPECT_TRUE(app->InitInstance());
  app->ExitInstance();
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(); });
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(host.MessageTexts().size(), 2u);
}

TEST_F(AppTest, AStepThatFailsStopsWhatHadStarted) {
  AddStep("layers", AppPhase::kCatalogue);
  AddStep("frame", AppPhase::kFrame);
  AddStep("tiles", AppPhase::kTileManager, "", {}, false);
  AddStep("publishing", AppPhase::kPublishing);
  AppStep throwing;
  throwing.name = "throwing";
  throwing.phase = AppPhase::kPublishing;
  throwing.start = [](CKovraHomeExApp&) -> bool { throw std::runtime_error("port taken"); };
  app->RegisterStep(std::move(throwing));
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(events, (std::vector<std::string>{"start layers []", "start frame []", "start tiles []", "stop frame []",
                                              "stop layers []"}));
  EXPECT_FALSE(app->IsStarted());
  // The lock is free again for a later run.
  CInstanceLock probe;
  EXPECT_EQ(probe.Acquire(data.File("velmora.lock")), CInstanceLock::Result::kAcquired);
}

TEST_F(AppTest, ViewHistoryKeepsTenAndSkipsTheSamePosition) {
  for (int i = 0; i < 12; ++i) app->PushViewHistory(100 + i, 30, 10);
  CViewHistory& history = app->ViewHistory();
  auto entries = history.Entries();
  ASSERT_EQ(entries.size(), CViewHistory::kMaxEntries);
  EXPECT_EQ(entries.front().lng, 102);  // the two oldest went
  EXPECT_EQ(entries.back().lng, 111);
  app->PushViewHistory(111, 30, 10);  // equal to the last: skipped
  EXPECT_EQ(history.Entries().back().level, 10);
  app->PushViewHistory(111, 30, 11);  // another level is another position
  EXPECT_EQ(history.Entries().back().level, 11);

  EXPECT_EQ(history.GoBack()->lng, 111);
  EXPECT_EQ(history.GoBack()->lng, 110);
  EXPECT_TRUE(history.CanGoForward());
  app->PushViewHistory(0, 0, 5);  // a new position drops the ones ahead
  EXPECT_FALSE(history.CanGoForward());
  EXPECT_EQ(history.Entries().back(), (ViewPosition{0, 0, 5}));
  EXPECT_EQ(history.Entries().size(), 9u);
  while (history.GoBack()) {
  }
  EXPECT_EQ(history.Position(), 0);
}

TEST_F(AppTest, SwitchViewMakesEachViewOnceAndShowsOneAtATime) {
  int made = 0;
  for (int kind : {kViewTiles3D, kViewEarthPlugin}) {
    app->Views().RegisterFactory(kind, [this, kind, &made] {
      ++made;
      return std::make_unique<TestView>(kind, &events);
    });
  }
  app->Views().RegisterFactory(kViewWebMap, [this] { return std::make_unique<TestView>(kViewGlobe3D, &events); });
  ASSERT_TRUE(app->InitInstance());
  EXPECT_EQ(app->GetCurrentView(), nullptr);  // no 2D view registered
  IChildView* tiles = app->SwitchView(kViewTiles3D);
  ASSERT_NE(tiles, nullptr);
  CWnd* tiles_wnd = tiles->GetWnd();
  EXPECT_EQ(tiles_wnd->GetParent(), GetMainFrame());
  IChildView* plugin = app->SwitchView(kViewEarthPlugin);
  EXPECT_FALSE(tiles_wnd->IsWindowVisible());
  EXPECT_TRUE(plugin->GetWnd()->IsWindowVisible());
  EXPECT_EQ(app->SwitchView(kViewTiles3D), tiles);
  EXPECT_EQ(made, 2);
  // A factory that makes a view of another kind, or no factory at all: the current view stays.
  EXPECT_EQ(app->SwitchView(kViewWebMap), nullptr);
  EXPECT_EQ(app->SwitchView(kViewEarthApp), nullptr);
  EXPECT_EQ(app->GetCurrentView(), tiles);
  app->ExitInstance();
  EXPECT_EQ(app->FindView(kViewTiles3D), nullptr);
}

TEST_F(AppTest, SideBarPanelsAreFoundByTheirExactName) {
  AppStep panels;
  panels.name = "panels";
  panels.phase = AppPhase::kFrame;
  panels.start = [](CKovraHomeExApp& a) {
    a.MainFrame()->AddSideBarPanel(std::make_unique<TestPanel>("行政地名"));
    a.MainFrame()->AddSideBarPanel(std::make_unique<TestPanel>("卫星库"));
    return true;
  };
  app->RegisterStep(std::move(panels));
  ASSERT_TRUE(app->InitInstance());
  CMainFrame* frame = GetMainFrame();
  ASSERT_NE(frame->FindSideBarPanel("卫星库"), nullptr);
  EXPECT_STREQ(frame->FindSideBarPanel("卫星库")->GetPanelName(), "卫星库");
  EXPECT_EQ(frame->FindSideBarPanel("卫星"), nullptr);  // a prefix is not the name
  EXPECT_EQ(frame->FindSideBarPanel(nullptr), nullptr);
  app->ExitInstance();
}

TEST_F(AppTest, FormatTickTimeGivesTheLocalWallTimeOfATick) {
  uint64_t tick = TickCount64();
  std::string text = app->FormatTickTime(tick), later = app->FormatTickTime(tick + 1500);
  int h = 0, m = 0, sec = 0, ms = 0, ms_later = 0, used = 0;
  ASSERT_EQ(std::sscanf(text.c_str(), "%2d:%2d:%2d.%3d%n", &h, &m, &sec, &ms, &used), 4) << text;
  EXPECT_EQ(used, 12) << text;
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  int diff = std::abs(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - (h * 3600 + m * 60 + sec));
  EXPECT_TRUE(diff <= 2 || diff >= 86398) << text;
  // 1.5 s later in ticks is 1.5 s later on the clock.
  ASSERT_EQ(std::sscanf(later.c_str() + 9, "%3d", &ms_later), 1);
  EXPECT_EQ((ms + 500) % 1000, ms_later);
}

TEST_F(AppTest, ProfileStoresAreSavedAtTheEnd) {
  ASSERT_TRUE(app->InitInstance());
  ProgramSettings().SetInt("DemDist", 90 + 1);
  app->ExitInstance();
  EXPECT_TRUE(std::filesystem::exists(data.File("Kovra0.reg")));
  CProfileStore reread;
  ASSERT_TRUE(reread.Load(data.File("Kovra0.reg")));
  EXPECT_EQ(reread.GetInt("DemDist", 0), 91);
}

}  // namespace
}  // namespace velmora
