// The map information tool windows on Qt: the boundary panel, the bus-line panel with its station
// search and the weather pane drawn from their templates with their Chinese texts, and driven as
// a person would (typing a name and clicking "获取", clicking the "线路" label, the pane's tree
// filling from the test web server).
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

#include "core/settings.h"
#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "places/boundary_query.h"
#include "places/ui/bus_line_panel.h"
#include "places/ui/dlg_lb_poly_admin.h"
#include "places/ui/dlg_station_search.h"
#include "places/ui/weather_pane.h"
#include "places/weather.h"
#include "shell/dlg_worker_base.h"
#include "support/http_test_server.h"

namespace velmora {
namespace {

using test::ControlWidget;
using test::PumpUntil;
using test::Settle;
using test::WidgetOf;

class FrontendMapInfoToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteProfileString(kPolygonSection, "rest_host", server.BaseUrl());
    WriteProfileString(kWeatherSection, "xml_host", server.BaseUrl());
    WriteProfileString("html_pages", "busline_host", server.BaseUrl());
  }
  CDialogWindow* Show(CDialog& dialog) {
    EXPECT_TRUE(dialog.Create());
    ShowModelessDialog(&dialog);
    CDialogWindow* window = CDialogWindow::Of(dialog);
    EXPECT_NE(window, nullptr);
    if (window) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    Settle();
    return window;
  }
  void ExpectTextsDrawn(CDialogWindow* window, const std::string& name, bool has_labels = true) {
    QImage grab = window->grab().toImage();
    test::SaveArtefact(grab, name);
    int checked = 0;
    EXPECT_TRUE(test::TextsNotDrawn(window, grab, &checked).empty()) << name;
    EXPECT_TRUE(!has_labels || checked > 0) << name;
  }

  test::HttpTestServer server;
  test::TempDir folder;
};

TEST_F(FrontendMapInfoToolsTest, BoundaryPanelTypedNameAndGet) {
  server.RoutePrefix("/arcgis/", [](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(R"({"rings":[[[120,36],[121,36],[121,37],[120,36]]]})");
  });
  WriteProfileInt(kPolygonSection, "source", 1);
  CDlgLBPolyAdmin panel;
  panel.Tree().SetFilePath(folder.File("kovra.pdt"));
  CDialogWindow* window = Show(panel);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("行政边界"));
  ExpectTextsDrawn(window, "boundary_panel");
  auto* edit = ControlWidget<QLineEdit>(panel, CDlgLBPolyAdmin::kIdName);
  ASSERT_TRUE(edit);
  edit->setFocus();
  test::TypeText(edit, QStringLiteral("山东"));
  Settle();
  EXPECT_EQ(panel.NameEdit().GetWindowText(), "山东");
  QTest::mouseClick(ControlWidget<QPushButton>(panel, CDlgLBPolyAdmin::kIdGet), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !server.Requests().empty() && !panel.IsQuerying(); }));
  EXPECT_EQ(server.Requests()[0].path, "/arcgis/rest/services/ch/MapServer/3/query");
  panel.DestroyWindow();
}

TEST_F(FrontendMapInfoToolsTest, BusPanelOpensTheStationSearchFromItsLabel) {
  CBusLinePanel panel(nullptr, nullptr, folder.path());
  CDialogWindow* window = Show(panel);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("公交线路"));
  ExpectTextsDrawn(window, "bus_line_panel");
  QWidget* label = ControlWidget(panel, CBusLinePanel::kIdLineLabel);
  ASSERT_TRUE(label);
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, 3));
  CDialogWindow* search = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = dynamic_cast<CDialogWindow*>(w); d && d->isVisible() && d->windowTitle() == QStringLiteral("站名搜索"))
        search = d;
    return search != nullptr;
  }));
  Settle();
  ExpectTextsDrawn(search, "station_search");
  panel.DestroyWindow();
}

TEST_F(FrontendMapInfoToolsTest, WeatherPaneFillsItsTree) {
  server.Route("/wmaps/xml/china.xml",
               test::HttpReply::Ok(R"(<c><city quName="山东" pyName="shandong" cityname="济南" stateDetailed="晴" tem2="1" temNow="5" url="1"/></c>)"));
  CWeatherPane pane;
  CDialogWindow* window = Show(pane);
  ASSERT_TRUE(window);
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsFetching(); }));
  Settle();
  auto* tree = ControlWidget<QTreeView>(pane, CWeatherPane::kIdTree);
  ASSERT_TRUE(tree);
  const QModelIndex root = tree->model()->index(0, 0);
  ASSERT_TRUE(root.isValid());
  ASSERT_TRUE(PumpUntil([&] { return tree->model()->rowCount(root) == 1; }));
  EXPECT_EQ(tree->model()->index(0, 0, root).data().toString(), QStringLiteral("山东[济南] 晴 1-5 "));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("天气"));
  ExpectTextsDrawn(window, "weather_pane", false);
  pane.DestroyWindow();
  Weather().Stop();
}

}  // namespace
}  // namespace velmora
