// The place search in the headless program: the search box's half-second pause and Enter, its
// sources (an address library answered locally then from the web, the place-name table, the web
// suggestions), the cue text, the saved source, the commands of the menu, the hits' pictures and
// the jump of the current view; the place-name panel with its index, level-by-level loading,
// jumps and imports; the local address search dialog.
#include <filesystem>
#include <string>
#include <vector>

#include "places/address_types.h"
#include "places/place_name_index.h"
#include "places/ui/dlg_address_search.h"
#include "place_search_ui_util.h"
#include "platform/ui/wait_cursor.h"
#include "shell/command_table.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

const test::TempDir& kFolders = test::IsolatedFolders(test::OneGeocoderProgramFolder().c_str());

constexpr char kGeocoderPath[] = "/maps/api/geocode/json";

class PlaceSearchUiTest : public test::PlaceSearchAppTest {
 protected:
  void ServeGeocoder(const std::string& reply) {
    server.RoutePrefix(kGeocoderPath, [reply](const HttpRequestRecord&) { return HttpReply::Ok(reply, "application/json"); });
  }
  // Imports the sample provinces into the panel through its own import (headless progress dialog).
  void ImportSamples() {
    ASSERT_NE(tree, nullptr);
    test::TempDir folder;
    for (const char* name : {"shandong.kml", "jiangsu.KML"}) test::WriteTestFile(folder.File(name), test::Sample(name));
    host.AnswerFolder(folder.path());
    host.AnswerMenu(CPlaceNameTree::ID_IMPORT_FOLDER);
    tree->RightClickItem(0);
    ASSERT_GT(tree->PlaceCount(), 20);
  }
};

TEST_F(PlaceSearchUiTest, HalfSecondPauseSearchesOnceAndTypingRestartsTheWait) {
  Start();
  ServeGeocoder(test::Reply("geocoder_qingdao.json"));
  AddressHitList stored;
  box->AddSearchReply(test::Reply("geocoder_qingdao.json"), stored);  // 崂山区 is known locally

  Type("崂");
  Advance(300);
  EXPECT_EQ(box->SearchCount(), 0);
  Type("崂山");  // typing on restarts the wait
  Advance(300);
  EXPECT_EQ(box->SearchCount(), 0);
  Advance(250);
  EXPECT_EQ(box->SearchCount(), 1);
  EXPECT_EQ(ItemTexts(), std::vector<std::string>{"中国山东省青岛市崂山区"});
  EXPECT_TRUE(box->GetDroppedState());
  EXPECT_EQ(server.RequestCount(), 0u);  // found locally, the web not asked
  Advance(2000);
  EXPECT_EQ(box->SearchCount(), 1);  // once

  // Typing again hides the list until the next search.
  Type("崂山区");
  EXPECT_FALSE(box->GetDroppedState());
  Advance(500);
  EXPECT_TRUE(box->GetDroppedState());
}

TEST_F(PlaceSearchUiTest, EnterAsksTheWebAgainAndStoresWhatItReturns) {
  Start();
  ServeGeocoder(test::Reply("geocoder_qingdao.json"));
  AddressHitList stored;
  box->AddSearchReply(test::Reply("geocoder_qingdao.json"), stored);
  Type("崂山");
  Advance(500);
  ASSERT_EQ(box->SearchCount(), 1);
  EXPECT_EQ(server.RequestCount(), 0u);
  // Enter on the same text after the timer's search asks the web.
  Enter();
  EXPECT_TRUE(box->IsSearchingWeb());
  EXPECT_GT(WaitCursorCount(), 0);
  ASSERT_TRUE(WaitForWeb());
  EXPECT_EQ(WaitCursorCount(), 0);
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(ItemTexts(), (std::vector<std::string>{"崂山区", "12号"}));
  // And again.
  Enter();
  ASSERT_TRUE(WaitForWeb());
  EXPECT_EQ(server.RequestCount(), 2u);
  // What the web returned is stored and found locally afterwards.
  AddressHitList local;
  box->CAddressAdo::Search("12号", local);
  EXPECT_EQ(local.size(), 1u);

  // A text the library does not know goes to the web after the pause too.
  Type("青岛");
  Advance(500);
  ASSERT_TRUE(WaitForWeb());
  EXPECT_EQ(server.RequestCount(), 3u);
  // The web-first flag sends the timer's search to the web even when the library knows it.
  box->SendMessage(WM_COMMAND, MAKEWPARAM(CmbAddress::ID_TOGGLE_AUTO_UPDATE, 0), 0);
  EXPECT_TRUE(box->IsWebFirst());
  EXPECT_EQ(GetProfileInt("recent", "addr_update", 0), 1);
  Type("崂山区");
  Advance(500);
  ASSERT_TRUE(WaitForWeb());
  EXPECT_EQ(server.RequestCount(), 4u);
}

TEST_F(PlaceSearchUiTest, TheCueAndBlankTextsAreNeverSearched) {
  Start();
  ServeGeocoder(test::Reply("geocoder_qingdao.json"));
  EXPECT_TRUE(box->Edit().IsCueShown());
  EXPECT_EQ(box->Edit().cue_text, "地名查询,定位更迅速...");
  for (const char* text : {"地名查询,定位更迅速...", "  地名查询,定位更迅速... ", "   ", ""}) {
    Type(text);
    Advance(600);
    Enter();
  }
  EXPECT_EQ(box->SearchCount(), 0);
  EXPECT_FALSE(box->IsSearchingWeb());
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(PlaceSearchUiTest, ChoosingAHitMovesTheViewAndKeepsItsZoomWhenNoneIsKnown) {
  Start();
  ASSERT_NE(view, nullptr);
  AddressHitList hits(2);
  hits[0].name = "无级别";
  hits[0].type = kAddrAdminLevel2;
  hits[0].lng = 120.38;
  hits[0].lat = 36.07;
  hits[1].name = "有级别";
  hits[1].type = kAddrTrainStation;
  hits[1].lng = 117.0;
  hits[1].lat = 36.65;
  hits[1].zoom = 15;
  box->FillDropDown(hits);
  // One picture per kind, in the list and in the box alike.
  int image = -1, selected = -1;
  ASSERT_TRUE(box->GetItemImage(0, &image, &selected));
  EXPECT_EQ(image, AddressTypeImage(kAddrAdminLevel2));
  EXPECT_EQ(selected, image);
  ASSERT_TRUE(box->GetItemImage(1, &image, &selected));
  EXPECT_EQ(image, 8);

  box->Select(0);
  ASSERT_EQ(view->moves.size(), 1u);
  EXPECT_DOUBLE_EQ(view->moves[0].lng, 120.38);
  EXPECT_DOUBLE_EQ(view->moves[0].lat, 36.07);
  EXPECT_DOUBLE_EQ(view->moves[0].level, 13.0);  // the view's own zoom, not the whole world
  EXPECT_TRUE(view->moves[0].history);
  EXPECT_EQ(box->GetEditText(), "无级别");
  EXPECT_FALSE(box->GetDroppedState());
  box->Select(1);
  EXPECT_DOUBLE_EQ(view->moves.back().level, 15.0);
  // Refilling the list replaces the box's hits.
  box->FillDropDown({});
  EXPECT_EQ(box->GetCount(), 0);
  EXPECT_TRUE(box->Hits().empty());
  EXPECT_FALSE(box->GetDroppedState());
}

TEST_F(PlaceSearchUiTest, SourcesCommandsAndTheirMenu) {
  Start();
  EXPECT_EQ(box->Source(), 8);
  // One geocoder in this catalogue: its command, no second one.
  EXPECT_TRUE(AppCommands().Contains(40000));
  EXPECT_FALSE(AppCommands().Contains(40001));
  ASSERT_TRUE(AppCommands().Find(40000));
  EXPECT_EQ(AppCommands().Find(40000)->menu, "工具/地名查询");
  // 40001 with one geocoder, and 40000 naming the current source, change nothing.
  for (UINT id : {40001u, 40000u}) {
    box->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    EXPECT_EQ(box->Source(), 8);
    EXPECT_FALSE(ProgramSettings().Find("addr_search").has_value());
  }
  // The place-name table and the suggestions are saved as the source.
  EXPECT_TRUE(app->MainFrame()->RouteCommand(CmbAddress::ID_SOURCE_PLACE_NAMES));
  EXPECT_EQ(box->Source(), 32952);
  EXPECT_EQ(ProgramSettings().GetInt("addr_search", 0), 32952);
  CCmdUI check(CmbAddress::ID_SOURCE_PLACE_NAMES);
  app->MainFrame()->QueryCommandUI(check);
  EXPECT_EQ(check.Checked(), 1);
  EXPECT_TRUE(check.IsEnabled());
  EXPECT_TRUE(app->MainFrame()->RouteCommand(CmbAddress::ID_SOURCE_SUGGEST));
  EXPECT_EQ(ProgramSettings().GetInt("addr_search", 0), 32922);
  EXPECT_TRUE(app->MainFrame()->RouteCommand(40000));
  EXPECT_EQ(box->Source(), 8);
  EXPECT_TRUE(box->IsDatabaseOpen());
  // The edit's own menu offers the same commands.
  host.AnswerMenu(CmbAddress::ID_SOURCE_SUGGEST);
  box->Edit().RightClick();
  EXPECT_EQ(box->Source(), 32922);

  // The saved source comes back at the next start.
  Stop();
  Start();
  EXPECT_EQ(box->Source(), 32922);
  // The commands go with the box.
  Stop();
  EXPECT_FALSE(AppCommands().Contains(CmbAddress::ID_LOCAL_SEARCH));
}

TEST_F(PlaceSearchUiTest, SavedPlaceNameSourceWithThePanelOffStartsAsTheFirstLibrary) {
  // The start-up loads the program settings from the data folder.
  auto save_source = [this](int source) {
    ProgramSettings().SetInt("addr_search", source);
    ASSERT_TRUE(ProgramSettings().Save(data.File("Kovra0.reg"), true));
  };
  save_source(32952);
  Start(false);
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(box->Source(), 8);
  CCmdUI check(CmbAddress::ID_SOURCE_PLACE_NAMES);
  app->MainFrame()->QueryCommandUI(check);
  EXPECT_FALSE(check.IsEnabled());
  Stop();
  save_source(32952);
  Start(true);
  EXPECT_EQ(box->Source(), 32952);
  // A source that is none of the three kinds starts as the first library too.
  Stop();
  save_source(5);
  Start(true);
  EXPECT_EQ(box->Source(), 8);
}

TEST_F(PlaceSearchUiTest, PlaceNameTableAndSuggestionsAsSources) {
  Start();
  ImportSamples();
  box->SetSource(32952);
  Type("青岛");
  Advance(500);
  EXPECT_EQ(server.RequestCount(), 0u);
  ASSERT_EQ(ItemTexts(), std::vector<std::string>{"青岛市"});
  EXPECT_EQ(box->Hits()[0].type, 7);  // a city
  EXPECT_EQ(box->Hits()[0].zoom, 0);
  box->Select(0);
  ASSERT_FALSE(view->moves.empty());
  EXPECT_DOUBLE_EQ(view->moves.back().lng, 120.38);
  EXPECT_DOUBLE_EQ(view->moves.back().level, 13.0);
  Type("街道");
  Advance(500);
  EXPECT_EQ(box->GetCount(), 4);
  EXPECT_EQ(box->Hits()[0].type, 10);  // towns

  server.RoutePrefix("/maps/suggest", [](const HttpRequestRecord&) { return HttpReply::Ok(test::Reply("suggest.txt")); });
  box->SetSource(32922);
  Type("青岛");
  Advance(500);
  ASSERT_TRUE(WaitForWeb());
  EXPECT_EQ(ItemTexts(), (std::vector<std::string>{"青岛", "青岛站", "青岛大学"}));
  EXPECT_EQ(server.Requests().back().path, "/maps/suggest");
}

TEST_F(PlaceSearchUiTest, PanelIndexWrittenAtStartAndRebuiltWhenDeleted) {
  Start();
  ImportSamples();
  ASSERT_TRUE(std::filesystem::exists(data.File("adn.adr")));  // the data folder, not the program folder
  std::vector<PlaceIndexGroup> groups;
  ASSERT_EQ(LoadPlaceIndex(data.File("adn.kan"), &groups), ArchiveLoad::kOk);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].top.name, "江苏省");  // jiang before shan
  EXPECT_EQ(groups[1].top.name, "山东省");
  EXPECT_EQ(groups[1].children.size(), 6u);

  Stop();
  Start();
  EXPECT_TRUE(tree->FilledFromIndex());
  EXPECT_EQ(tree->GetChildren(TVI_ROOT).size(), 2u);
  Stop();
  std::filesystem::remove(data.File("adn.kan"));
  Start();
  EXPECT_FALSE(tree->FilledFromIndex());
  EXPECT_TRUE(std::filesystem::exists(data.File("adn.kan")));
  EXPECT_EQ(tree->GetChildren(TVI_ROOT).size(), 2u);
  // A damaged index is rebuilt from the database too.
  Stop();
  test::WriteTestFile(data.File("adn.kan"), "damaged");
  Start();
  EXPECT_FALSE(tree->FilledFromIndex());
  ASSERT_EQ(LoadPlaceIndex(data.File("adn.kan"), &groups), ArchiveLoad::kOk);
  EXPECT_EQ(groups.size(), 2u);
}

TEST_F(PlaceSearchUiTest, TreeLoadsLevelByLevelAndJumps) {
  Start();
  ImportSamples();
  const HTREEITEM shandong = tree->FindChild(TVI_ROOT, "山东省");
  ASSERT_NE(shandong, 0u);
  std::vector<std::string> names;
  for (HTREEITEM item : tree->GetChildren(shandong)) names.push_back(tree->GetItemText(item));
  EXPECT_EQ(names, (std::vector<std::string>{"济南市", "历下区", "青岛市", "舜华路街道", "威海市", "烟台市"}));

  // A city loads its county-level cities and counties in name order.
  const HTREEITEM qingdao = tree->FindChild(shandong, "青岛市");
  EXPECT_FALSE(tree->ItemHasChildren(qingdao));
  tree->SelectItem(qingdao);
  names.clear();
  for (HTREEITEM item : tree->GetChildren(qingdao)) names.push_back(tree->GetItemText(item));
  EXPECT_EQ(names, (std::vector<std::string>{"即墨区", "胶州市", "平度市", "崂山区"}));
  // A county-level city its towns, a town its villages; a village nothing.
  const HTREEITEM jiaozhou = tree->FindChild(qingdao, "胶州市");
  tree->SelectItem(jiaozhou);
  const HTREEITEM town = tree->FindChild(jiaozhou, "中云街道");
  ASSERT_NE(town, 0u);
  tree->SelectItem(town);
  const HTREEITEM village = tree->FindChild(town, "北关村");
  ASSERT_NE(village, 0u);
  tree->SelectItem(village);
  EXPECT_FALSE(tree->ItemHasChildren(village));

  // A double click centres the view on the place, keeping the view's zoom.
  tree->DoubleClickItem(qingdao);
  ASSERT_EQ(view->moves.size(), 1u);
  EXPECT_DOUBLE_EQ(view->moves[0].lng, 120.38);
  EXPECT_DOUBLE_EQ(view->moves[0].lat, 36.07);
  EXPECT_DOUBLE_EQ(view->moves[0].level, 13.0);
  EXPECT_TRUE(view->moves[0].history);
}

TEST_F(PlaceSearchUiTest, APlaceAtZeroZeroIsNotCentredAndFilesImportOneByOne) {
  Start();
  test::TempDir folder;
  test::WriteTestFile(folder.File("x.kml"),
                      "<kml><Document><name>无坐标省</name><Placemark><name>无坐标市</name><styleUrl>#city</styleUrl>"
                      "<Point><coordinates>bad</coordinates></Point></Placemark></Document></kml>");
  host.AnswerFile({folder.File("x.kml")});
  host.AnswerMenu(CPlaceNameTree::ID_IMPORT_FILE);
  tree->RightClickItem(0);
  EXPECT_EQ(ProgramSettings().GetString("adrimp", ""), folder.File("x.kml"));
  // The progress dialog was shown with its title.
  bool progress_shown = false;
  for (const CHeadlessUiHost::Record& r : host.Records())
    progress_shown = progress_shown || (r.kind == CHeadlessUiHost::Record::Kind::kDialog && r.text == "导入地名");
  EXPECT_TRUE(progress_shown);
  const HTREEITEM province = tree->FindChild(TVI_ROOT, "无坐标省");
  ASSERT_NE(province, 0u);
  const HTREEITEM city = tree->FindChild(province, "无坐标市");
  ASSERT_NE(city, 0u);
  tree->DoubleClickItem(city);
  EXPECT_TRUE(view->moves.empty());
  // Nothing chosen: nothing imported.
  host.AnswerFileCancel();
  host.AnswerMenu(CPlaceNameTree::ID_IMPORT_FILE);
  tree->RightClickItem(city);
  EXPECT_EQ(tree->PlaceCount(), 2);
}

TEST_F(PlaceSearchUiTest, LocalSearchDialogListsTheLibrarySortsAndJumps) {
  Start();
  // An empty library: an empty list.
  int rows = -1;
  host.AnswerDialog(CDlgAddressSearch::kTemplateId, [&](CDialog& d) {
    rows = static_cast<CDlgAddressSearch&>(d).List().GetItemCount();
    EXPECT_EQ(d.GetWindowText(), "本地搜索地址库");
  });
  EXPECT_TRUE(app->MainFrame()->RouteCommand(CmbAddress::ID_LOCAL_SEARCH));
  EXPECT_EQ(rows, 0);

  AddressHitList stored;
  box->AddSearchReply(test::Reply("geocoder_qingdao.json"), stored);
  box->AddSearchReply(test::Reply("geocoder_jinan.json"), stored);
  std::vector<std::string> names, by_name, by_lng;
  size_t moves_after_empty_click = 0;
  host.AnswerDialog(CDlgAddressSearch::kTemplateId, [&](CDialog& d) {
    CPointListCtrl& list = static_cast<CDlgAddressSearch&>(d).List();
    for (int i = 0; i < list.GetItemCount(); ++i) names.push_back(list.ItemText(i, 1));
    EXPECT_EQ(list.ItemText(0, 0), "0");
    EXPECT_EQ(list.GetColumnHeading(0), "idx");
    EXPECT_EQ(list.GetColumnWidth(0), 30);
    // A double click on no row does nothing.
    list.DoubleClickItem(-1);
    moves_after_empty_click = view->moves.size();
    list.ClickColumn(0);  // the index column does not sort
    list.ClickColumn(1);
    list.ClickColumn(1);  // the second click sorts from the smallest up
    for (int i = 0; i < list.GetItemCount(); ++i) by_name.push_back(list.ItemText(i, 1));
    list.ClickColumn(2);  // from the largest down
    for (int i = 0; i < list.GetItemCount(); ++i) by_lng.push_back(list.ItemText(i, 2));
    list.DoubleClickItem(0);
    EXPECT_FALSE(d.HasEnded());  // the dialog stays open
  });
  box->SendMessage(WM_COMMAND, MAKEWPARAM(CmbAddress::ID_LOCAL_SEARCH, 0), 0);
  // Every stored place with a position, its ancestors' names before its own.
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "中国山东省青岛市崂山区");
  EXPECT_EQ(moves_after_empty_click, 0u);
  ASSERT_EQ(by_name.size(), 3u);
  EXPECT_TRUE(PlaceNameLess(by_name[0], by_name[1]) || by_name[0] == by_name[1]);
  EXPECT_TRUE(PlaceNameLess(by_name[1], by_name[2]));
  ASSERT_EQ(by_lng.size(), 3u);
  EXPECT_GE(std::stod(by_lng[0]), std::stod(by_lng[1]));
  EXPECT_GE(std::stod(by_lng[1]), std::stod(by_lng[2]));
  ASSERT_EQ(view->moves.size(), 1u);
  EXPECT_DOUBLE_EQ(view->moves[0].lng, std::stod(by_lng[0]));
}

}  // namespace
}  // namespace velmora
