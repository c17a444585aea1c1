// The command table and the main frame's command route, without a screen: menu order, the
// current view before the frame before the table, update states (a command nobody handles is
// greyed), the frame's own commands (bars, views, exit) and their removal with the frame.
#include <gtest/gtest.h>

#include <optional>

#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

AppCommand Command(UINT id, const char* menu, const char* text, int order = 0) {
  AppCommand c;
  c.id = id;
  c.menu = menu;
  c.text = text;
  c.order = order;
  return c;
}

TEST(CommandTableTest, CommandsComeInMenuOrderAndSplitTheirPrompt) {
  CCommandTable table;
  table.Register(Command(1, "帮助", "关于"));
  table.Register(Command(2, "工具", "地图服务", 5));
  table.Register(Command(3, "工具", "坐标格式转换", 1));
  table.Register(Command(4, "文件", "退出", 100));
  table.Register(Command(5, "地图", "图层"));
  table.Register(Command(6, "工具/坐标", "坐标系转换"));
  std::vector<std::string> texts;
  for (const AppCommand& c : table.Commands()) texts.push_back(c.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"退出", "坐标系转换", "坐标格式转换", "地图服务", "图层", "关于"}));
  EXPECT_EQ(table.TopMenus(), (std::vector<std::string>{"文件", "工具", "地图", "帮助"}));
  uint64_t revision = table.Revision();
  AppCommand replaced = Command(2, "工具", "地图服务(&M)...", 5);
  replaced.prompt = "打开地图发布服务\n地图服务";
  table.Register(replaced);
  EXPECT_GT(table.Revision(), revision);
  EXPECT_EQ(table.Commands().size(), 6u);
  EXPECT_EQ(table.Find(2)->StatusPrompt(), "打开地图发布服务");
  EXPECT_EQ(table.Find(2)->ToolTip(), "地图服务");
  EXPECT_EQ(table.Find(3)->ToolTip(), "");
  table.Unregister(2);
  EXPECT_FALSE(table.Contains(2));
}

class MapView : public CWnd, public IChildView {
 public:
  MapView() {
    MapCommand(32716, [this] { ++exports; });
    MapUpdateCommandUI(32716, [](CCmdUI& ui) { ui.SetCheck(1); });
  }
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  int exports = 0;
};

class FrameRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.emplace([this](CAppOptions& o) { o.data_dir = data.path(); });
    SetUiHost(&host);
    AppCommands().Clear();
    app.emplace();
    app->SetInstanceLockPath(data.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  }
  void TearDown() override {
    app.reset();
    AppCommands().Clear();
    UiDispatcher().ClearQuit();
    SetUiHost(nullptr);
  }
  test::TempDir data;
  std::optional<ScopedAppOptions> options;
  CHeadlessUiHost host;
  std::optional<CKovraHomeExApp> app;
};

TEST_F(FrameRouteTest, TheCurrentViewThenTheFrameThenTheTable) {
  app->Views().RegisterFactory(kViewMap2D, [] { return std::make_unique<MapView>(); });
  int table_runs = 0;
  AppCommand export_model = Command(32716, "工具", "导出模型");
  export_model.handler = [&] { ++table_runs; };
  AppCommands().Register(export_model);
  AppCommands().Register(Command(32770, "工具", "拼图"));  // no handler anywhere
  ASSERT_TRUE(app->InitInstance());
  CMainFrame* frame = app->MainFrame();
  auto* view = dynamic_cast<MapView*>(app->GetCurrentView());
  ASSERT_TRUE(view);

  EXPECT_TRUE(frame->RouteCommand(32716));
  EXPECT_EQ(view->exports, 1);
  EXPECT_EQ(table_runs, 0);
  CCmdUI state(32716);
  frame->QueryCommandUI(state);
  EXPECT_EQ(state.Checked(), 1);
  CCmdUI nobody(32770);
  frame->QueryCommandUI(nobody);
  EXPECT_FALSE(nobody.IsEnabled());
  EXPECT_FALSE(frame->RouteCommand(32770));
  CCmdUI unknown(40000);
  frame->QueryCommandUI(unknown);
  EXPECT_FALSE(unknown.IsEnabled());

  // A WM_COMMAND posted to the frame (a pop-up menu's owner) takes the same way.
  frame->SendMessage(WM_COMMAND, MAKEWPARAM(32716, 0), 0);
  EXPECT_EQ(view->exports, 2);

  // The frame's own commands: the bars, the built view kinds only, exit.
  EXPECT_TRUE(AppCommands().Contains(ID_VIEW_KIND_FIRST + kViewMap2D));
  EXPECT_FALSE(AppCommands().Contains(ID_VIEW_KIND_FIRST + kViewGlobe3D));
  EXPECT_FALSE(AppCommands().Contains(ID_VIEW_SIDEBAR));  // no panel yet
  EXPECT_TRUE(frame->RouteCommand(ID_VIEW_STATUS_BAR));
  EXPECT_FALSE(frame->IsControlBarVisible(CMainFrame::Bar::kStatusBar));
  CCmdUI bar(ID_VIEW_STATUS_BAR);
  frame->QueryCommandUI(bar);
  EXPECT_EQ(bar.Checked(), 0);
  EXPECT_TRUE(frame->RouteCommand(ID_APP_EXIT));
  EXPECT_TRUE(UiDispatcher().QuitRequested());

  app->ExitInstance();
  EXPECT_FALSE(AppCommands().Contains(ID_APP_EXIT));
  EXPECT_FALSE(AppCommands().Contains(ID_VIEW_KIND_FIRST + kViewMap2D));
  EXPECT_TRUE(AppCommands().Contains(32716));  // the module's own command stays
}

}  // namespace
}  // namespace velmora
