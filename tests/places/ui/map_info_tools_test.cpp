// The map information tools headless, on a real 2D view and the test web server: the boundary
// panel (REST and the shipped boundary page, names of the rings, the save question's three
// answers, a closed port that leaves the panel answering), the weather pane (children of a
// region fetched on a worker, a region that fails), and the bus-line panel (answers of the shipped
// bus page stored in the city files, no answer within the bound, the station search, the lines
// and 12-pixel dots drawn on the painted map).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/scrambled_data.h"
#include "core/settings.h"
#include "places/ui/bus_line_panel.h"
#include "platform/ui/combo_box_ex.h"
#include "places/ui/dlg_bus_line_display.h"
#include "places/ui/dlg_weather_display.h"
#include "places/ui/dlg_lb_poly_admin.h"
#include "places/ui/dlg_station_search.h"
#include "places/ui/weather_pane.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/polygon_shape.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "support/render_artefacts.h"
#include "tiles/layer_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

std::string Reply(const std::string& name) {
  return test::ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/replies/" + name);
}

class MapInfoToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    // The shipped query pages, packed as the build packs them.
    for (const char* page : {"bdbl", "bpyg"})
      ASSERT_TRUE(SaveScrambledFile(program.File(std::string(page) + ".kmp"),
                                    test::ReadTestFile(std::string(test::kSourceDataDir) + "kmp/" + page)));
    options.emplace([this](CAppOptions& o) {
      o.program_dir = program.path();
      o.data_dir = data.path();
    });
    WriteProfileString("html_pages", "busline_host", server.BaseUrl());
    WriteProfileString("html_pages", "boundary_host", server.BaseUrl());
    WriteProfileString(kPolygonSection, "rest_host", server.BaseUrl());
    WriteProfileString(kWeatherSection, "xml_host", server.BaseUrl());
    tiles = test::MakeTileManager(data.path() + "tiles/");
    TileEngineOptions o;
    o.tiles = tiles.get();
    view = std::make_unique<CPDView>(MapViewSinks{}, o, nullptr);
    ASSERT_TRUE(view->CreateView(WS_VISIBLE, nullptr));
    view->SendMessage(WM_SIZE, 0, MAKELPARAM(400, 300));
    view->SetCamera(120.0, 36.0, 12, false);
  }
  void TearDown() override {
    view.reset();
    tiles->Stop();
    options.reset();
    SetUiHost(nullptr);
  }
  static bool Pump(const std::function<bool()>& done) { return UiDispatcher().PumpUntil(done, 20000); }

  CHeadlessUiHost host;
  test::HttpTestServer server;
  test::TempDir program, data;
  std::optional<ScopedAppOptions> options;
  std::unique_ptr<CTileManager> tiles;
  std::unique_ptr<CPDView> view;
};

std::vector<std::string> BoundaryNames(CPDView& view) {
  std::vector<CMapShape*> shapes;
  view.Engine().Boundaries().GetShapesByType(kAllShapeTypes, shapes);
  std::vector<std::string> names;
  for (CMapShape* s : shapes) names.push_back(s->Name());
  return names;
}

TEST_F(MapInfoToolsTest, BoundaryPanelQueriesShowsAndSaves) {
  server.RoutePrefix("/arcgis/", [](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(Reply("boundary_qingdao_two.json"));
  });
  WriteProfileInt(kPolygonSection, "source", 2);
  CDlgLBPolyAdmin panel(nullptr, view.get());
  panel.Tree().SetFilePath(data.File("kovra.pdt"));
  ASSERT_TRUE(panel.Create());
  EXPECT_TRUE(panel.NameEdit().IsCueShown());
  // An empty name and the cue text ask nothing.
  panel.OnGet();
  panel.NameEdit().SetWindowText(CDlgLBPolyAdmin::kCue);
  panel.OnGet();
  EXPECT_FALSE(panel.IsQuerying());
  EXPECT_TRUE(server.Requests().empty());

  panel.NameEdit().SetWindowText("青岛");
  panel.OnGet();
  ASSERT_TRUE(Pump([&] { return !panel.IsQuerying(); }));
  UiDispatcher().PumpPending();
  EXPECT_EQ(BoundaryNames(*view), (std::vector<std::string>{"青岛-0", "青岛-1"}));
  ASSERT_EQ(panel.List().GetRegionCount(), 2);
  EXPECT_EQ(panel.List().GetItemText(1, 0), "青岛-1");

  // Saving: without a selection the region is added; then the question's three answers.
  EXPECT_TRUE(panel.SaveRow(0));
  EXPECT_EQ(panel.Tree().GetCount(), 1u);
  const HTREEITEM first = panel.Tree().GetSelectedItem();
  ASSERT_NE(first, 0u);
  host.AnswerMessageBox(IDCANCEL);
  EXPECT_FALSE(panel.SaveRow(1));
  EXPECT_EQ(host.LastMessage(), CDlgLBPolyAdmin::kSaveQuestion);
  EXPECT_EQ(panel.Tree().GetCount(), 1u);
  panel.Tree().SelectItem(first);
  host.AnswerMessageBox(IDNO);
  EXPECT_TRUE(panel.SaveRow(1));
  EXPECT_EQ(panel.Tree().GetCount(), 1u);
  EXPECT_EQ(panel.Tree().GetRegion(first)->name, "青岛-1");
  panel.Tree().SelectItem(first);
  host.AnswerMessageBox(IDYES);
  EXPECT_TRUE(panel.SaveRow(0));
  EXPECT_EQ(panel.Tree().GetCount(), 2u);
  // The tree's file holds both.
  CRegionTree reread;
  reread.SetFilePath(data.File("kovra.pdt"));
  RegionNode root;
  CRegionFile file;
  EXPECT_EQ(file.Load(data.File("kovra.pdt"), &root), CRegionFile::LoadResult::kOk);
  EXPECT_EQ(root.children.size(), 2u);

  // One ring: the plain name; the earlier boundaries are cleared ("清除历史" on by default).
  server.RoutePrefix("/arcgis/", [](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(R"({"rings":[[[120,36],[121,36],[121,37],[120,36]]]})");
  });
  panel.OnGet();
  ASSERT_TRUE(Pump([&] { return !panel.IsQuerying(); }));
  EXPECT_EQ(BoundaryNames(*view), (std::vector<std::string>{"青岛"}));
  panel.DestroyWindow();
}

TEST_F(MapInfoToolsTest, BoundaryPanelThroughTheBoundaryPageAndAClosedPort) {
  server.Route("/boundary", [](const test::HttpRequestRecord&) { return test::HttpReply::Ok(Reply("boundary_qingdao_two.json")); });
  WriteProfileInt(kPolygonSection, "source", 0);
  CDlgLBPolyAdmin panel(nullptr, view.get());
  panel.Tree().SetFilePath(data.File("kovra.pdt"));
  ASSERT_TRUE(panel.Create());
  panel.NameEdit().SetWindowText("O'Hare");
  panel.OnGet();
  ASSERT_TRUE(Pump([&] { return !panel.IsQuerying(); }));
  EXPECT_EQ(BoundaryNames(*view), (std::vector<std::string>{"O'Hare-0", "O'Hare-1"}));
  ASSERT_FALSE(server.Requests().empty());
  EXPECT_EQ(server.Requests().back().query, "name=O'Hare");

  // REST against a closed port: the click returns at once, the panel keeps answering.
  uint16_t port;
  {
    test::HttpTestServer gone;
    port = gone.Port();
  }
  WriteProfileString(kPolygonSection, "rest_host", "127.0.0.1:" + std::to_string(port));
  panel.GetDlgItemAs<CComboBox>(CDlgLBPolyAdmin::kIdSource)->Select(1);
  EXPECT_EQ(GetProfileInt(kPolygonSection, "source", -1), 1);
  panel.NameEdit().SetWindowText("青岛");
  panel.OnGet();
  EXPECT_TRUE(panel.IsQuerying());
  panel.GetDlgItemAs<CButton>(CDlgLBPolyAdmin::kIdCentre)->Click();
  EXPECT_EQ(GetProfileInt(kPolygonSection, "relaygon", -1), panel.IsDlgButtonChecked(CDlgLBPolyAdmin::kIdCentre));
  ASSERT_TRUE(Pump([&] { return !panel.IsQuerying(); }));
  EXPECT_EQ(BoundaryNames(*view).size(), 2u);  // nothing shown, nothing cleared
  panel.DestroyWindow();
}

TEST_F(MapInfoToolsTest, WeatherPaneFetchesChildrenOnAWorker) {
  server.Route("/wmaps/xml/china.xml",
               test::HttpReply::Ok(R"(<china><city quName="山东" pyName="shandong" cityname="济南" stateDetailed="晴" tem1="10" tem2="1" temNow="5" url="101120101"/></china>)"));
  server.Route("/wmaps/xml/shandong.xml", test::HttpReply::Ok(Reply("weather_qingdao.xml")));
  server.Route("/wmaps/xml/qingdao.xml", test::HttpReply::Ok(Reply("weather_qingdao.xml")));
  Weather().SetDataFolder(data.path());
  CWeatherPane pane;
  ASSERT_TRUE(pane.Create());
  ASSERT_TRUE(Pump([&] { return !pane.IsFetching(); }));
  CTreeCtrl& tree = pane.Tree();
  const HTREEITEM root = tree.GetRootItem();
  ASSERT_EQ(tree.GetChildren(root).size(), 1u);
  const HTREEITEM shandong = tree.GetChildItem(root);
  EXPECT_EQ(tree.GetItemText(shandong), "山东[济南] 晴 1-5 ");
  // A click expands: the placeholder shows while the worker fetches.
  tree.SelectItem(shandong);
  ASSERT_TRUE(pane.IsFetching());
  EXPECT_EQ(tree.GetItemText(tree.GetChildItem(shandong)), CWeatherPane::kFetching);
  ASSERT_TRUE(Pump([&] { return !pane.IsFetching(); }));
  const auto cities = tree.GetChildren(shandong);
  ASSERT_EQ(cities.size(), 3u);
  EXPECT_EQ(tree.GetItemText(cities[2]), "崂山[崂山区] 阴 1-4 ");
  // A region that does not answer is not tried again.
  const HTREEITEM laoshan = cities[2];
  tree.SelectItem(laoshan);
  ASSERT_TRUE(Pump([&] { return !pane.IsFetching(); }));
  EXPECT_FALSE(tree.ItemHasChildren(laoshan));
  EXPECT_TRUE(pane.ItemRecord(laoshan)->py_name.empty());
  EXPECT_FALSE(pane.ExpandItem(laoshan));
  // "监视" watches a city with the region file its element came from.
  host.AnswerMenu(CWeatherPane::kCmdWatch);
  tree.RightClickItem(cities[1]);
  EXPECT_TRUE(Weather().IsRunning());
  EXPECT_EQ(ProgramSettings().GetString(kWeatherPyKey, ""), "shandong");
  EXPECT_EQ(ProgramSettings().GetString(kWeatherUrlKey, ""), "101120201");
  ASSERT_TRUE(Pump([&] { return Weather().Passes() > 0; }));
  EXPECT_EQ(Weather().Fields()[kWthCityName], "青岛");
  pane.DestroyWindow();
  EXPECT_TRUE(Weather().Stop());
}

TEST_F(MapInfoToolsTest, WeatherTextOnTheMapInItsStyle) {
  CBitmap canvas;
  canvas.Create(400, 300);
  view->ShowWeather(true);
  WeatherFields fields;
  fields[kWthCityName] = "青岛";
  fields[kWthStateDetailed] = "晴";
  view->SetWeather(WeatherLines(fields), nullptr);
  WeatherStyle style;
  style.text = 0xFFFFFF00u;
  style.background = 0xFF123456u;  // "透明" off: the background colour behind the text
  view->Engine().SetWeatherStyle(style);
  view->Engine().Paint(canvas);
  test::SaveTestArtefact(canvas, "places", "weather_on_map");
  int background = 0, text = 0;
  for (int y = 8; y < 40; ++y)
    for (int x = 300; x < 400; ++x) {
      background += canvas.Row(y)[x] == 0xFF123456u;
      const Argb c = canvas.Row(y)[x];  // yellow ink, smoothed at the edges
      text += ((c >> 16) & 0xFF) > 200 && ((c >> 8) & 0xFF) > 200 && (c & 0xFF) < 120;
    }
  EXPECT_GT(background, 100);
  EXPECT_GT(text, 10);
  // Transparent: no background, the text still drawn.
  style.background = 0;
  view->Engine().SetWeatherStyle(style);
  view->Engine().Paint(canvas);
  background = 0;
  for (int y = 8; y < 40; ++y)
    for (int x = 300; x < 400; ++x) background += canvas.Row(y)[x] == 0xFF123456u;
  EXPECT_EQ(background, 0);
}

TEST_F(MapInfoToolsTest, DisplaySettingsDialogs) {
  // Weather: a click on the sample picks the text colour; OK writes the six values.
  host.AnswerDialog(CDlgWeatherDisplay::kTemplateId, [this](CDialog& d) {
    auto& dialog = static_cast<CDlgWeatherDisplay&>(d);
    EXPECT_EQ(dialog.Sample().GetWindowText(), CDlgWeatherDisplay::kSampleText);
    EXPECT_EQ(dialog.Sample().GetTextStyle().color, 0xFFFFFF00u);
    host.AnswerColor(0xFF112233u);
    dialog.Sample().Click();
    dialog.GetDlgItemAs<CButton>(CDlgWeatherDisplay::kIdTrans)->Click();
    dialog.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  CDlgWeatherDisplay weather;
  EXPECT_EQ(weather.DoModal(), IDOK);
  EXPECT_EQ(static_cast<uint32_t>(GetProfileInt(kWeatherSection, "fntColor", 0)), 0xFF112233u);
  EXPECT_EQ(GetProfileInt(kWeatherSection, "trans", -1), 0);
  EXPECT_EQ(GetProfileInt(kWeatherSection, "fntSize", 0), 12);
  EXPECT_EQ(GetProfileString(kWeatherSection, "fntName", ""), "楷体_GB2312");
  EXPECT_EQ(static_cast<uint32_t>(GetProfileInt(kWeatherSection, "bgcolor", 0)), 0xFFFFFFFFu);

  // Bus lines: colours apply at once, the combos on OK.
  BusLineDisplay display;
  int redraws = 0;
  host.AnswerDialog(CDlgBusLineDisplay::kTemplateId, [&](CDialog& d) {
    host.AnswerColor(0xFF00FF00u);
    d.GetDlgItemAs<CColorStatic>(CDlgBusLineDisplay::kIdLineColor)->PickColor();
    EXPECT_EQ(display.line_color, 0xFF00FF00u);
    EXPECT_EQ(redraws, 1);
    d.GetDlgItemAs<CComboBox>(CDlgBusLineDisplay::kIdDotWidth)->Select(0);
    EXPECT_EQ(display.dot_width, 1u);  // not before OK
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  CDlgBusLineDisplay bus(display, [&] { ++redraws; });
  EXPECT_EQ(bus.DoModal(), IDOK);
  EXPECT_EQ(display.dot_width, 0u);
  EXPECT_EQ(redraws, 2);
}

TEST_F(MapInfoToolsTest, BusPanelStoresAnswersAndDrawsLinesWithDots) {
  const std::string answer =
      "1路:120.0,36.0;120.02,36.0:一站,120.0,36.0;二站,120.02,36.0\n"
      "2路:120.0,36.01;120.0,36.02:三站,120.0,36.02\n";
  server.Route("/busline", [&](const test::HttpRequestRecord&) { return test::HttpReply::Ok(answer); });
  BusLineDisplay display;
  display.line_color = 0xFF0000FFu;
  display.dot_color = 0xFFFF0000u;
  display.line_width = 4;
  display.dot_width = 1;
  display.show_names = false;
  CBusLineStore(data.path()).SaveDisplay(display);
  auto panel = std::make_unique<CBusLinePanel>(nullptr, view.get(), data.path());
  ASSERT_TRUE(panel->Create());
  // A city typed into the combo and "Enum All".
  panel->GetDlgItemAs<CComboBoxEx>(CBusLinePanel::kIdCity)->SetEditText("青岛");
  panel->GetDlgItemAs<CButton>(CBusLinePanel::kIdEnumAll)->Click();
  ASSERT_TRUE(panel->IsQuerying());
  for (int id : {CBusLinePanel::kIdAll, CBusLinePanel::kIdEnumAll, CBusLinePanel::kIdDelete})
    EXPECT_FALSE(panel->GetDlgItem(id)->IsWindowEnabled()) << id;
  ASSERT_TRUE(Pump([&] { return !panel->IsQuerying(); }));
  EXPECT_TRUE(panel->GetDlgItem(CBusLinePanel::kIdEnumAll)->IsWindowEnabled());
  ASSERT_EQ(panel->Lines().size(), 2u);
  ASSERT_EQ(panel->Cities().size(), 1u);
  EXPECT_EQ(server.Requests().back().query, "city=%E9%9D%92%E5%B2%9B&line=");
  EXPECT_EQ(panel->StationList().GetItemCount(), 2);
  EXPECT_EQ(panel->StationList().GetItemText(1, 0), "二站");

  // The files read back by a store of their own.
  CBusLineStore store(data.path());
  std::vector<CBusCity> cities;
  uint32_t current = 9;
  ASSERT_EQ(store.LoadIndex(&cities, &current), CBusLineStore::Load::kOk);
  ASSERT_EQ(cities.size(), 1u);
  EXPECT_EQ(cities[0].line_names, (std::vector<std::string>{"1路", "2路"}));
  EXPECT_EQ(current, 0u);
  std::vector<CBusLine> lines;
  ASSERT_EQ(store.LoadCity(cities[0].file_number, &lines), CBusLineStore::Load::kOk);
  EXPECT_EQ(lines, panel->Lines());

  // Offsets move course and stations alike and are kept in the city file.
  CEdit* lat_offset = panel->GetDlgItemAs<CEdit>(CBusLinePanel::kIdLatOffset);
  lat_offset->SetSel(0, -1);
  lat_offset->Type("0.001");
  ASSERT_EQ(store.LoadCity(cities[0].file_number, &lines), CBusLineStore::Load::kOk);
  EXPECT_FLOAT_EQ(lines[0].lat_offset, 0.001f);
  panel->GetDlgItemAs<CButton>(CBusLinePanel::kIdReset)->Click();
  EXPECT_FLOAT_EQ(panel->Lines()[0].lat_offset, 0.0f);

  // The painted map: the course in the line colour, 12-pixel dots in the dot colour.
  view->SetCamera(120.01, 36.0, 14, false);
  CBitmap canvas;
  canvas.Create(400, 300);
  view->Engine().Paint(canvas);
  test::SaveTestArtefact(canvas, "places", "bus_line_panel_map");
  const CMapProjector p = view->Engine().Projector();
  const PixelPoint a = p.ToScreen(120.0, 36.0), b = p.ToScreen(120.02, 36.0), mid = p.ToScreen(120.01, 36.0);
  auto at = [&](double x, double y) { return canvas.Row(int(std::lround(y)))[int(std::lround(x))]; };
  EXPECT_EQ(at(mid.x, mid.y), 0xFF0000FFu);
  for (const PixelPoint& c : {a, b}) {
    EXPECT_EQ(at(c.x, c.y), 0xFFFF0000u);
    EXPECT_EQ(at(c.x, c.y - 4.5), 0xFFFF0000u);  // inside the 12-pixel dot, off the line
    EXPECT_NE(at(c.x, c.y - 8), 0xFFFF0000u);    // outside it
  }
  // "⊙" stops drawing.
  panel->GetDlgItemAs<CButton>(CBusLinePanel::kIdHide)->Click();
  EXPECT_EQ(GetProfileInt(kBusLineSection, "layout", -1), 0);
  view->Engine().Paint(canvas);
  EXPECT_NE(at(mid.x, mid.y), 0xFF0000FFu);

  // The station search: by name in the current city, by rectangle and radius over every line.
  CDlgStationSearch* search = panel->OpenStationSearch();
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->SearchFor(""), 0);
  EXPECT_EQ(search->SearchFor("站"), 3);
  EXPECT_EQ(GetProfileString("recent", "bus_station_name", ""), "站");
  EXPECT_EQ(search->SearchFor("(119.99,36.03)-(120.005,36.015)"), 1);
  EXPECT_EQ(search->Hits()[0].station.name, "三站");
  EXPECT_EQ(search->SearchFor("(120.0,36.0:1200)"), 1);  // 二站 is 1.8 km east, 三站 2.2 km north
  EXPECT_EQ(search->SearchFor("(120.0,36.0:2000)"), 2);
  // "区域搜索": the view's box tool; the band searches.
  ASSERT_TRUE(search->StartAreaSearch());
  EXPECT_EQ(view->GetTool(), CPDView::Tool::kBox);
  view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(int(a.x) - 20, int(a.y) - 20));
  view->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(int(a.x) + 20, int(a.y) + 20));
  view->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(int(a.x) + 20, int(a.y) + 20));
  EXPECT_EQ(view->GetTool(), CPDView::Tool::kPan);
  ASSERT_EQ(search->Hits().size(), 1u);
  EXPECT_EQ(search->Hits()[0].station.name, "一站");

  // Enter with a stored line typed shows it without asking.
  const size_t asked = server.Requests().size();
  panel->GetDlgItemAs<CComboBoxEx>(CBusLinePanel::kIdLine)->SetEditText("2路");
  panel->OnOK();
  EXPECT_FALSE(panel->IsQuerying());
  EXPECT_EQ(server.Requests().size(), asked);
  EXPECT_EQ(panel->CurrentLineIndex(), 1);
  // Deleting a line, then the city with its file.
  host.AnswerMessageBox(IDOK);
  EXPECT_TRUE(panel->DeleteChosen());
  EXPECT_EQ(host.LastMessage(), CBusLinePanel::kDeleteLine);
  EXPECT_EQ(panel->Lines().size(), 1u);
  panel->DestroyWindow();
  EXPECT_EQ(GetProfileString(kBusLineSection, "city", ""), "青岛");
}

TEST_F(MapInfoToolsTest, BusQueryWithoutAnswerGivesTheButtonsBack) {
  uint64_t now = 0;
  UiDispatcher().SetClock([&] { return now; });
  // The page's fetch never ends while the test runs: the answer stays "nothing yet".
  server.Route("/busline", test::HttpReply::Delayed(60000, test::HttpReply::Ok("x:1,1")));
  auto panel = std::make_unique<CBusLinePanel>(nullptr, view.get(), data.path());
  ASSERT_TRUE(panel->Create());
  UiDispatcher().PumpPending();
  ASSERT_TRUE(panel->Query("青岛", "1路"));
  EXPECT_FALSE(panel->Query("青岛", "2路"));  // one query at a time
  for (int i = 0; i <= CBusLinePanel::kMaxPolls + 1 && panel->IsQuerying(); ++i) {
    now += CBusLinePanel::kPollMs;
    UiDispatcher().PumpPending();
  }
  EXPECT_FALSE(panel->IsQuerying());
  EXPECT_TRUE(panel->GetDlgItem(CBusLinePanel::kIdEnumAll)->IsWindowEnabled());
  EXPECT_EQ(host.LastMessage(), CBusLinePanel::kQueryFailed);
  panel->DestroyWindow();
  UiDispatcher().SetClock({});
}

}  // namespace
}  // namespace velmora
