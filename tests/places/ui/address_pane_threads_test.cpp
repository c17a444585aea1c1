// The address library pane driven as a person would: renames refused for a sibling's name and
// for an empty text, switching library with unsaved renames (asked; No discards), entries beyond
// the geocoder list, a missing library file, the rebuild on its worker (completed, and cancelled
// with the old library kept) and the region export with the open-after-saving box.
#include <gtest/gtest.h>

#include <filesystem>

#include "../places_test_util.h"
#include "core/settings.h"
#include "exchange/ui/dlg_export_region_set.h"
#include "places/ui/address_pane.h"
#include "platform/text.h"
#include "platform/ui/controls.h"
#include "shell/dlg_progress.h"
#include "shell/file_dialog_ex.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"

namespace velmora {
namespace {

using test::Recorded;

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

class AddressPaneTest : public test::HeadlessUiTest {
 protected:
  void SetUp() override {
    HeadlessUiTest::SetUp();
    WriteProfileInt(CAddressPane::kProfileSection, CAddressPane::kProfileKey, 8);
    tiles = test::MakeTileManager(dir.File("tiles/"));
    ASSERT_TRUE(parent.Create(nullptr, 0, "frame", 0));
  }
  void TearDown() override {
    pane.reset();
    parent.DestroyWindow();
    tiles.reset();
    HeadlessUiTest::TearDown();
  }
  void StoreReplies(int id, const std::string& reply, int count) {
    CTileStore* store = tiles->OpenStore(id);
    ASSERT_NE(store, nullptr);
    for (int i = 0; i < count; ++i) {
      const TileKey key = MakeTileKey(i % 4096, i / 4096, TileKeyValue(id, 13));
      store->Write(key, reply.data(), reply.size(), false);
    }
  }
  // A library of two places under one province, saved as the library of `id`.
  void SaveLibraryOf(int id) {
    CAddressRecord root("root");
    CAddressRecord like;
    like.lng = 120.3;
    like.lat = 36.1;
    like.zoom = 12;
    CAddressRecord* province = root.FindOrAddChild("山东省", like);
    province->FindOrAddChild("青岛市", like);
    province->FindOrAddChild("济南市", like);
    ASSERT_TRUE(SaveAddressLibrary(AddressLibraryPath(id), root));
  }
  void OpenPane() {
    pane = std::make_unique<CAddressPane>(tiles.get());
    ASSERT_TRUE(pane->CreatePanel(&parent));
  }
  std::vector<std::string> TopTexts() const {
    std::vector<std::string> out;
    for (HTREEITEM item : pane->GetChildren(TVI_ROOT)) out.push_back(pane->GetItemText(item));
    return out;
  }

  test::TempDir dir;
  ScopedAppOptions options{[this](CAppOptions& o) {
    o.data_dir = dir.path();
    o.work_dir = dir.File("work/");
  }};
  std::unique_ptr<CTileManager> tiles;
  CWnd parent;
  std::unique_ptr<CAddressPane> pane;
};

TEST_F(AddressPaneTest, RenamesAreRefusedForASiblingsNameOrNoName) {
  SaveLibraryOf(8);
  OpenPane();
  ASSERT_EQ(TopTexts(), std::vector<std::string>{"山东省"});
  const HTREEITEM province = pane->FindChild(TVI_ROOT, "山东省");
  pane->SelectItem(province);  // the children come when the item is chosen
  const HTREEITEM qingdao = pane->FindChild(province, "青岛市");
  ASSERT_NE(qingdao, 0u);
  ASSERT_NE(pane->FindChild(province, "济南市"), 0u);
  EXPECT_EQ(pane->GetItemText(pane->GetChildItem(province)), "济南市") << "sorted";

  // Through the tree's notification, as the in-place edit ends.
  NMTVENDLABELEDIT edit;
  edit.hdr = {pane->GetSafeHwnd(), CAddressPane::kTreeId, TVN_ENDLABELEDIT};
  edit.item = qingdao;
  edit.text = "济南市";
  EXPECT_EQ(pane->GetPanelWnd()->SendMessage(WM_NOTIFY, CAddressPane::kTreeId, reinterpret_cast<LPARAM>(&edit)), 0);
  EXPECT_EQ(pane->GetItemText(qingdao), "青岛市");
  EXPECT_FALSE(pane->EndLabelEdit(qingdao, ""));
  EXPECT_EQ(pane->GetItemText(qingdao), "青岛市");
  EXPECT_FALSE(pane->IsModified());
  EXPECT_EQ(pane->Root().FindChild("山东省")->ChildCount(), 2u);

  edit.text = "青岛";
  EXPECT_EQ(pane->GetPanelWnd()->SendMessage(WM_NOTIFY, CAddressPane::kTreeId, reinterpret_cast<LPARAM>(&edit)), 1);
  EXPECT_EQ(pane->GetItemText(qingdao), "青岛");
  EXPECT_TRUE(pane->IsModified());
  const CAddressRecord* renamed = pane->Root().FindChild("山东省")->FindChild("青岛");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed, pane->RecordOf(qingdao));
  EXPECT_EQ(pane->Root().FindChild("山东省")->FindChild("青岛市"), nullptr);

  // The menu's rename: the same rule.
  host.AnswerMenu(CAddressPane::ID_RENAME);
  host.AnswerDialog(CAddressPane::kRenameTemplateId, [](CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CAddressPane::kIdRenameEdit), "济南市");
    d.GetDlgItemAs<CEdit>(CAddressPane::kIdRenameEdit)->Type("青岛");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  const HTREEITEM jinan = pane->FindChild(province, "济南市");
  pane->RightClickItem(jinan);
  EXPECT_EQ(pane->GetItemText(jinan), "济南市");

  // Saved on Yes when the pane goes.
  host.AnswerMessageBox(IDYES);
  pane.reset();
  EXPECT_EQ(host.LastMessage(), CAddressPane::kAskSave);
  CAddressRecord reread("root");
  ASSERT_EQ(LoadAddressLibrary(AddressLibraryPath(8), reread), LibraryLoad::kLoaded);
  EXPECT_NE(reread.FindChild("山东省")->FindChild("青岛"), nullptr);
}

TEST_F(AddressPaneTest, SwitchingWithUnsavedRenamesAsksAndNoDiscardsThem) {
  SaveLibraryOf(8);
  const std::string before = test::ReadTestFile(AddressLibraryPath(8));
  OpenPane();
  const HTREEITEM province = pane->FindChild(TVI_ROOT, "山东省");
  ASSERT_TRUE(pane->EndLabelEdit(province, "鲁"));
  ASSERT_GE(LayerManager().GeocoderCount(), 2);
  ASSERT_EQ(LayerManager().GeocoderAt(1)->id, 111);

  // An entry beyond the geocoder list changes nothing.
  ASSERT_LT(LayerManager().GeocoderCount(), 4);
  pane->OnSelectLibrary(CAddressPane::ID_LIBRARY_LAST);
  EXPECT_EQ(pane->LibraryId(), 8);
  EXPECT_TRUE(pane->IsModified());
  EXPECT_TRUE(host.MessageTexts().empty());

  host.AnswerMessageBox(IDNO);
  host.AnswerMenu(CAddressPane::ID_LIBRARY_FIRST + 1);
  pane->RightClickItem(province);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{CAddressPane::kAskSave});
  EXPECT_EQ(pane->LibraryId(), 111);
  EXPECT_EQ(GetProfileInt(CAddressPane::kProfileSection, CAddressPane::kProfileKey, 0), 111);
  EXPECT_FALSE(pane->IsModified());
  // No library file of 111: the root alone.
  EXPECT_EQ(pane->GetCount(), 0u);
  EXPECT_EQ(pane->Root().ChildCount(), 0u);
  EXPECT_EQ(test::ReadTestFile(AddressLibraryPath(8)), before) << "No discards the rename";

  // Back to 8: the library as it was saved.
  pane->OnSelectLibrary(CAddressPane::ID_LIBRARY_FIRST);
  EXPECT_EQ(TopTexts(), std::vector<std::string>{"山东省"});
}

TEST_F(AddressPaneTest, ARebuildReplacesTheLibraryOnlyWhenItEnds) {
  SaveLibraryOf(112);
  WriteProfileInt(CAddressPane::kProfileSection, CAddressPane::kProfileKey, 112);
  const std::string before = test::ReadTestFile(AddressLibraryPath(112));
  // Enough replies that the worker is still reading when the cancel comes.
  StoreReplies(112, Recorded("poi_search.txt"), 20000);
  OpenPane();

  host.AnswerMessageBox(IDNO);
  EXPECT_FALSE(pane->OnRebuild());
  EXPECT_EQ(host.LastMessage(), CAddressPane::kAskRebuild);

  host.AnswerMessageBox(IDYES);
  host.AnswerDialog(CDlgProgress::kTemplateId, [](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "重构地址库...");
    d.OnCancel();
  });
  EXPECT_FALSE(pane->OnRebuild());
  EXPECT_EQ(test::ReadTestFile(AddressLibraryPath(112)), before);
  EXPECT_EQ(TopTexts(), std::vector<std::string>{"山东省"});

  host.AnswerMessageBox(IDYES);
  EXPECT_TRUE(pane->OnRebuild());
  EXPECT_EQ(TopTexts(), (std::vector<std::string>{"小青岛公园", "鲁迅公园"}));
  CAddressRecord reread("root");
  ASSERT_EQ(LoadAddressLibrary(AddressLibraryPath(112), reread), LibraryLoad::kLoaded);
  EXPECT_EQ(reread.ChildCount(), 2u);
  EXPECT_FALSE(pane->IsModified());
}

TEST_F(AddressPaneTest, TheExportWritesTheRegionsPlacesAndOpensTheFile) {
  test::TestMapView view;  // the region dialog starts from its box: 120.0-120.5, 36.0-36.5
  WriteProfileInt(CAddressPane::kProfileSection, CAddressPane::kProfileKey, 111);
  StoreReplies(111, Recorded("reverse_geocode.json"), 3);
  OpenPane();
  EXPECT_EQ(ProgramSettings().GetString(CAddressPane::kExportPathKey, "addrexport"), "addrexport");
  host.AnswerDialog(CDlgExportRegionSet::kTemplateId, [](CDialog& d) { d.OnOK(); });
  const std::string path = dir.File("places.xls");
  host.AnswerFile({path}, 2, [](CFileDialog& d) {
    EXPECT_EQ(d.Filter(), CAddressPane::kExportFilter) << "no extension yet: the filter as it is";
    d.GetDlgItemAs<CButton>(CFileDialogEx::kIdAutoOpen)->SetCheck(BST_CHECKED);
  });
  ASSERT_TRUE(pane->OnExport());
  EXPECT_EQ(ProgramSettings().GetString(CAddressPane::kExportPathKey, ""), path);
  const std::string written = dir.File("places.xlsx");
  ASSERT_TRUE(std::filesystem::exists(written));
  bool opened = false;
  for (const auto& r : host.Records())
    opened = opened || (r.kind == CHeadlessUiHost::Record::Kind::kOpenDocument && r.text == written);
  EXPECT_TRUE(opened) << "the file written is the one opened";
}

}  // namespace
}  // namespace velmora
