// The satellite library panel driven as a person would (file chooser, icon clicks, menus,
// double clicks) over a real "obs.db" in a temporary folder: an element-set file imported as a
// folder, ticks reaching the current view record by record with the folder partly ticked after
// one untick, the library saved after each change and read back, pastes that would make a folder
// its own ancestor refused, a cut item deleted before the paste, shown satellites leaving the view
// with their deleted items, the locate command against the orbit model at the panel's clock, and
// import files too large or without element sets refused with a message.
#include "terrain/ui/satellite_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/settings.h"
#include "platform/fs.h"
#include "platform/ui/controls.h"
#include "shell/dlg_sat_edit.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"
#include "support/temp_dir.h"
#include "view/child_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

const char kIss1[] = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const char kIss2[] = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
const char kGeo1[] = "1 28626U 05008A   06176.46683397 -.00000205  00000-0  10000-3 0  2190";
const char kGeo2[] = "2 28626   0.0019 286.9433 0000335  13.7918  55.6504  1.00270176  4891";
const char kHst1[] = "1 20580U 90037B   08264.21563194  .00000616  00000-0  33431-4 0  4443";
const char kHst2[] = "2 20580  28.4690 118.0413 0003747 277.5337 185.3506 15.00889497 51566";
constexpr double kClock = 2454734.0;  // 2008-09-21, near the sets' epochs

std::string ThreeSets() {
  return std::string("ISS\r\n") + kIss1 + "\r\n" + kIss2 + "\r\nGEO\r\n" + kGeo1 + "\r\n" + kGeo2 + "\r\nHST\r\n" +
         kHst1 + "\r\n" + kHst2 + "\r\n";
}

// The current view as the panel sees it: what it was told.
class RecordingView : public IChildView {
 public:
  int GetViewKind() const override { return kViewGlobe3D; }
  std::string GetName() const override { return "Recording"; }
  CWnd* GetWnd() override { return nullptr; }
  void ShowSatellites(const SatElements& sat, bool shown) override { shows.emplace_back(sat.satellite_number, shown); }
  void SetCamera(double lng, double lat, double level, bool) override { camera = {lng, lat, level}; }
  std::vector<std::pair<uint32_t, bool>> shows;
  std::vector<double> camera;
};

class SatelliteTreeTest : public test::HeadlessUiTest {
 protected:
  void SetUp() override {
    HeadlessUiTest::SetUp();
    Open();
  }
  void Open() {
    tree = std::make_unique<CSatelliteTree>();
    tree->SetLibraryPath(dir.File("obs.db"), dir.File("seed/obs.db"));
    tree->SetViewSource([this] { return &view; });
    tree->SetClock([] { return kClock; });
    ASSERT_TRUE(tree->CreatePanel(nullptr));
  }
  HTREEITEM Top(size_t i) { return tree->GetChildren(TVI_ROOT).at(i); }
  HTREEITEM Child(HTREEITEM parent, size_t i) { return tree->GetChildren(parent).at(i); }
  int Image(HTREEITEM item) {
    int image = -1, selected = -1;
    tree->GetItemImage(item, &image, &selected);
    EXPECT_EQ(image, selected);
    return image;
  }
  void Command(UINT id) { tree->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  HTREEITEM Import() {
    test::WriteTestFile(dir.File("in/visual.txt"), ThreeSets());
    host.AnswerFile({dir.File("in/visual.txt")});
    Command(CSatelliteTree::ID_IMPORT_ORBIT);
    return Top(0);
  }

  test::TempDir dir;
  RecordingView view;
  std::unique_ptr<CSatelliteTree> tree;
};

TEST_F(SatelliteTreeTest, ImportTickUntickSaveAndReload) {
  const HTREEITEM visual = Import();
  EXPECT_EQ(GetProfileString("recent", "orbit", ""), dir.File("in/visual.txt"));
  EXPECT_EQ(tree->GetItemText(visual), "visual");
  ASSERT_EQ(tree->GetChildren(visual).size(), 3u);
  EXPECT_EQ(tree->GetItemText(Child(visual, 2)), "HST");
  for (HTREEITEM s : tree->GetChildren(visual)) EXPECT_EQ(Image(s), 0);
  EXPECT_EQ(Image(visual), 0);
  EXPECT_TRUE(view.shows.empty());

  // A click on the folder's label selects it; one on its icon ticks all, each record to the view.
  tree->ClickItem(visual, TVHT_ONITEMLABEL);
  EXPECT_EQ(Image(visual), 0);
  tree->ClickItem(visual, TVHT_ONITEMICON);
  EXPECT_EQ(Image(visual), 1);
  for (HTREEITEM s : tree->GetChildren(visual)) EXPECT_EQ(Image(s), 1);
  const std::vector<std::pair<uint32_t, bool>> ticked = {{25544, true}, {28626, true}, {20580, true}};
  EXPECT_EQ(view.shows, ticked);
  // One satellite unticked: the folder is partly ticked.
  view.shows.clear();
  tree->ClickItem(Child(visual, 1), TVHT_ONITEMICON);
  EXPECT_EQ(view.shows, (std::vector<std::pair<uint32_t, bool>>{{28626, false}}));
  EXPECT_EQ(Image(Child(visual, 1)), 0);
  EXPECT_EQ(Image(visual), 3);
  EXPECT_EQ(tree->ShownSatellites().size(), 2u);

  // Every change was saved: a new panel reads the same tree and states.
  tree.reset();
  Open();
  EXPECT_EQ(tree->LoadResult(), SatLibraryLoad::kOk);
  const HTREEITEM again = Top(0);
  EXPECT_EQ(tree->GetItemText(again), "visual");
  EXPECT_EQ(Image(again), 3);
  EXPECT_EQ(Image(Child(again, 0)), 1);
  EXPECT_EQ(Image(Child(again, 1)), 0);
}

TEST_F(SatelliteTreeTest, ImportsThatReadNothingOrAreTooLargeAreRefused) {
  test::WriteTestFile(dir.File("in/notes.txt"), "no element sets here\r\n");
  host.AnswerFile({dir.File("in/notes.txt")});
  Command(CSatelliteTree::ID_IMPORT_ORBIT);
  EXPECT_EQ(host.LastMessage(), CSatelliteTree::kNothingReadMessage);
  EXPECT_EQ(tree->GetCount(), 0u);
  {
    std::ofstream big(dir.File("in/big.txt"), std::ios::binary);
    big.seekp(static_cast<std::streamoff>(kSatImportMaxBytes));
    big.put('\n');
  }
  EXPECT_EQ(tree->ImportFile(dir.File("in/big.txt")), 0);
  EXPECT_EQ(host.LastMessage(), CSatelliteTree::kTooLargeMessage);
  EXPECT_EQ(tree->GetCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("obs.db")));  // nothing changed, nothing written
}

TEST_F(SatelliteTreeTest, PastesThatWouldMakeACycleAreRefusedAndACutItemDiesWithItsFolder) {
  const HTREEITEM visual = Import();
  ASSERT_EQ(tree->AddFromText("inner", std::string("HST\n") + kHst1 + "\n" + kHst2 + "\n"), 1);
  // "inner" into "visual".
  tree->SelectItem(Top(1));
  Command(CSatelliteTree::ID_CUT);
  tree->SelectItem(visual);
  Command(CSatelliteTree::ID_PASTE);
  ASSERT_EQ(tree->GetChildren(TVI_ROOT).size(), 1u);
  ASSERT_EQ(tree->GetChildren(visual).size(), 4u);
  const HTREEITEM inner = Child(visual, 3);
  EXPECT_EQ(tree->GetItemText(inner), "inner");
  EXPECT_EQ(tree->ItemOf(inner)->Parent(), tree->ItemOf(visual));
  // "visual" into "inner" (its own child) and into itself: refused, nothing moves.
  for (HTREEITEM target : {inner, visual}) {
    tree->SelectItem(visual);
    Command(CSatelliteTree::ID_CUT);
    tree->SelectItem(target);
    host.ClearRecords();
    Command(CSatelliteTree::ID_PASTE);
    EXPECT_EQ(host.LastMessage(), CSatelliteTree::kPasteIntoItselfMessage);
    EXPECT_EQ(tree->GetChildren(TVI_ROOT).size(), 1u);
    EXPECT_EQ(tree->Root().Children().size(), 1u);
  }
  // Cut a satellite, delete its folder, paste: the cut is gone with it.
  tree->SelectItem(Child(inner, 0));
  Command(CSatelliteTree::ID_CUT);
  tree->SelectItem(inner);
  Command(CSatelliteTree::ID_DELETE);
  EXPECT_EQ(tree->CutItem(), nullptr);
  tree->SelectItem(visual);
  Command(CSatelliteTree::ID_PASTE);
  EXPECT_EQ(tree->GetChildren(visual).size(), 3u);
  // The library on disk is the tree.
  CSatFolderItem saved;
  ASSERT_EQ(LoadSatLibrary(dir.File("obs.db"), "", AppOptions().program_dir, &saved), SatLibraryLoad::kOk);
  EXPECT_EQ(SerializeSatLibrary("", saved), SerializeSatLibrary("", tree->Root()));
}

TEST_F(SatelliteTreeTest, DeletingShownSatellitesHidesThemInTheView) {
  const HTREEITEM visual = Import();
  tree->ClickItem(visual, TVHT_ONITEMICON);
  tree->ClickItem(Child(visual, 0), TVHT_ONITEMICON);  // ISS hidden again
  view.shows.clear();
  tree->SelectItem(visual);
  Command(CSatelliteTree::ID_DELETE);
  EXPECT_EQ(view.shows, (std::vector<std::pair<uint32_t, bool>>{{28626, false}, {20580, false}}));
  EXPECT_EQ(tree->GetCount(), 0u);
  EXPECT_TRUE(tree->ShownSatellites().empty());
}

TEST_F(SatelliteTreeTest, LocateCentresTheViewOnTheSubSatellitePointAtThePanelsClock) {
  const HTREEITEM visual = Import();
  const HTREEITEM iss = Child(visual, 0);
  // A hidden satellite is not located.
  tree->DoubleClickItem(iss);
  EXPECT_TRUE(view.camera.empty());
  tree->ClickItem(iss, TVHT_ONITEMICON);
  tree->DoubleClickItem(iss);
  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle(std::string("ISS\n") + kIss1 + "\n" + kIss2 + "\n"), 1);
  ASSERT_TRUE(orbit.ComputeAt(kClock));
  ASSERT_EQ(view.camera.size(), 3u);
  EXPECT_DOUBLE_EQ(view.camera[0], orbit.Last().longitude);
  EXPECT_DOUBLE_EQ(view.camera[1], orbit.Last().latitude);
  EXPECT_EQ(view.camera[2], 0.0);
  view.camera.clear();
  tree->SelectItem(iss);
  Command(CSatelliteTree::ID_LOCATE);
  EXPECT_EQ(view.camera.size(), 3u);
}

TEST_F(SatelliteTreeTest, AModifiedShownSatelliteGoesToTheViewAgainAndIsLocated) {
  const HTREEITEM visual = Import();
  const HTREEITEM iss = Child(visual, 0);
  tree->ClickItem(iss, TVHT_ONITEMICON);
  const uint32_t color = static_cast<CSatelliteItem*>(tree->ItemOf(iss))->Record().color;
  view.shows.clear();
  // New elements typed into the edit dialog: the Hubble set under the name "改过".
  host.AnswerDialog(CDlgSatEdit::kTemplateId, [&](CDialog& d) {
    d.GetDlgItemAs<CEdit>(CDlgSatEdit::kIdElements)->Type(std::string("改过\r\n") + kHst1 + "\r\n" + kHst2);
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  tree->SelectItem(iss);
  Command(CSatelliteTree::ID_MODIFY);
  const SatElements& record = static_cast<CSatelliteItem*>(tree->ItemOf(iss))->Record();
  EXPECT_EQ(record.satellite_number, 20580u);
  EXPECT_EQ(record.color, color);  // the colour stays the record's
  EXPECT_EQ(tree->GetItemText(iss), "改过");
  EXPECT_EQ(view.shows, (std::vector<std::pair<uint32_t, bool>>{{20580, true}}));
  CSatOrbit orbit(record);
  ASSERT_TRUE(orbit.ComputeAt(kClock));
  ASSERT_EQ(view.camera.size(), 3u);
  EXPECT_DOUBLE_EQ(view.camera[0], orbit.Last().longitude);
  // Saved: the file has the new name.
  CSatFolderItem saved;
  ASSERT_EQ(LoadSatLibrary(dir.File("obs.db"), "", "", &saved), SatLibraryLoad::kOk);
  EXPECT_EQ(static_cast<CSatFolderItem&>(*saved.Children()[0]).Children()[0]->Text(), "改过");
}

TEST_F(SatelliteTreeTest, RightClickOffersTheLibraryUpdateMessage) {
  Import();
  host.AnswerMenu(CSatelliteTree::ID_UPDATE_LIBRARY);
  tree->RightClickItem(Top(0));
  const std::vector<CHeadlessUiHost::Record> records = host.Records();
  bool menu_has_entry = false;
  for (const auto& r : records) menu_has_entry |= r.text.find("更新卫星库") != std::string::npos;
  EXPECT_TRUE(menu_has_entry);
  EXPECT_EQ(host.LastMessage(), std::string(CSatelliteTree::kUpdateMessage) + "\n" + CSatelliteTree::kContactLine);
}

TEST_F(SatelliteTreeTest, ADamagedLibraryIsSetAsideAndTheNextChangeWritesANewOne) {
  tree.reset();
  test::WriteTestFile(dir.File("obs.db"), std::string("\x25\x00\x00\x00\x00\x05\x00\x00\x00", 9));
  Open();
  EXPECT_EQ(tree->LoadResult(), SatLibraryLoad::kSetAside);
  EXPECT_EQ(tree->GetCount(), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.File("obs.db.damaged")));
  Import();
  CSatFolderItem saved;
  EXPECT_EQ(LoadSatLibrary(dir.File("obs.db"), "", "", &saved), SatLibraryLoad::kOk);
  EXPECT_EQ(saved.Children().size(), 1u);
}

}  // namespace
}  // namespace velmora
