// The address library pane in the real main window: made by the address tools' start-up step
// beside the download command, it shows the saved library in the side bar; a click on a place
// loads the names below it (grabbed as a test artefact).
#include <QToolBox>
#include <QTreeView>
#include <optional>

#include "core/settings.h"
#include "frontend_env.h"
#include "places/address_library.h"
#include "places/ui/address_pane.h"
#include "places/ui/address_tools.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/splash_wnd.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

TEST(FrontendAddressPane, TheSavedLibraryIsInTheSideBar) {
  test::TempDir data;
  ScopedAppOptions options([&](CAppOptions& o) { o.data_dir = data.path(); });
  SplashWnd().Reset();
  MapStatusBar().Reset();
  AppCommands().Clear();
  WriteProfileInt(CAddressPane::kProfileSection, CAddressPane::kProfileKey, 8);
  {
    CAddressRecord root("root");
    CAddressRecord like;
    like.lng = 120.38;
    like.lat = 36.07;
    CAddressRecord* city = root.FindOrAddChild("山东省", like)->FindOrAddChild("青岛市", like);
    for (const char* name : {"市南区", "市北区", "崂山区"}) city->FindOrAddChild(name, like);
    root.FindOrAddChild("江苏省", like);
    ASSERT_TRUE(SaveAddressLibrary(AddressLibraryPath(8), root));
  }
  auto app = std::make_unique<CKovraHomeExApp>();
  app->SetInstanceLockPath(data.File("velmora.lock"));
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  RegisterAddressTools(*app);
  app->RegisterStep(test::MainWindowStep());
  ASSERT_TRUE(app->InitInstance());
  Settle();
  CQtMainWindow* main = test::FrontendEnvironment::Session().MainWindow();
  ASSERT_NE(main, nullptr);

  QToolBox* side = main->SideBox();
  int page = -1;
  for (int i = 0; i < side->count(); ++i)
    if (side->itemText(i) == QStringLiteral("地址库")) page = i;
  ASSERT_GE(page, 0);
  side->setCurrentIndex(page);
  auto* pane = dynamic_cast<CAddressPane*>(app->MainFrame()->FindSideBarPanel(CAddressPane::kPanelName));
  ASSERT_NE(pane, nullptr);
  QTreeView* tree_view = side->widget(page)->findChild<QTreeView*>();
  ASSERT_NE(tree_view, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return tree_view->model()->rowCount() == 2; }));
  const QModelIndex shandong = tree_view->model()->index(0, 0);
  EXPECT_EQ(shandong.data().toString(), QStringLiteral("山东省"));
  QTest::mouseClick(tree_view->viewport(), Qt::LeftButton, {}, tree_view->visualRect(shandong).center());
  ASSERT_TRUE(PumpUntil([&] { return tree_view->model()->rowCount(tree_view->model()->index(0, 0)) == 1; }));
  tree_view->expand(tree_view->model()->index(0, 0));
  Settle();
  test::SaveArtefact(main->grab().toImage(), "address_pane");
  // The download command is in the menu; the pane's own commands are not in the table (32716
  // there is the frame's box tool, not the pane's export).
  EXPECT_NE(main->ActionFor(ID_ADDRESS_DOWNLOAD), nullptr);
  EXPECT_FALSE(AppCommands().Contains(CAddressPane::ID_REBUILD));
  const auto shared = AppCommands().Find(CAddressPane::ID_EXPORT);
  EXPECT_TRUE(!shared || shared->text.find("导出地址") == std::string::npos);

  app->ExitInstance();
  app.reset();
  AppCommands().Clear();
  Settle();
}

}  // namespace
}  // namespace velmora
