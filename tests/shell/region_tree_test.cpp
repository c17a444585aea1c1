// Saved regions: the tree's items and "kovra.pdt" in step through adds, replacements, renames and
// deletes; the file read back by a second tree; damaged, truncated and hostile files (counts
// past the end, deep nesting, points that are not numbers) refused whole and kept aside before
// anything is written over them; the view's region list refilled from its source.
#include "shell/region_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "core/archive.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dialog_ex.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr int kIdTree = 1535, kIdList = 1412;

class CPanel : public CDialogEx {
 public:
  explicit CPanel(const std::string& path)
      : CDialogEx(DialogTemplate{244, "边界", 200, 240,
                                 {{ControlKind::kTreeView, kIdTree, "", 0, 0, 200, 120, 0},
                                  {ControlKind::kListView, kIdList, "", 0, 124, 200, 110, 0}}}) {
    tree.SetFilePath(path);
    BindControl(kIdTree, tree);
    BindControl(kIdList, list);
  }
  CRegionTree tree;
  CRegionList list;
};

SavedRegion Region(const std::string& name, std::vector<PointF> points) {
  SavedRegion r;
  r.name = name;
  r.points = std::move(points);
  return r;
}

class RegionTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
  }
  void TearDown() override {
    SetUiHost(nullptr);
    CRegionList::SetViewRegionSource({});
  }
  CHeadlessUiHost host;
  test::TempDir dir;
};

TEST_F(RegionTreeTest, ChangesAreSavedAtOnceAndReadBackByAnotherTree) {
  const std::string path = dir.File("kovra.pdt");
  SavedRegion qingdao = Region("青岛", {{120.1f, 36.0f}, {120.6f, 36.0f}, {120.6f, 36.4f}});
  qingdao.line_color = 0xFF00FF00u;
  qingdao.fill = true;
  qingdao.line_width = 3;
  {
    CPanel panel(path);
    ASSERT_TRUE(panel.Create());
    EXPECT_EQ(panel.tree.LastLoad(), CRegionFile::LoadResult::kMissing);
    EXPECT_EQ(panel.tree.GetCount(), 0u);
    HTREEITEM shandong = panel.tree.AddFolder("山东");
    ASSERT_NE(shandong, 0u);
    EXPECT_TRUE(std::filesystem::exists(path));  // saved at once
    HTREEITEM item = panel.tree.AddRegion(qingdao, shandong);
    ASSERT_NE(item, 0u);
    EXPECT_EQ(panel.tree.GetParentItem(item), shandong);
    EXPECT_EQ(panel.tree.GetSelectedItem(), item);
    // Added "at" a region item: beside it, in its folder.
    HTREEITEM jinan = panel.tree.AddRegion(Region("济南", {{117.0f, 36.6f}, {117.2f, 36.7f}}), item);
    EXPECT_EQ(panel.tree.GetParentItem(jinan), shandong);
    HTREEITEM top = panel.tree.AddRegion(Region("北京", {{116.3f, 39.9f}}));
    EXPECT_EQ(panel.tree.GetParentItem(top), 0u);
    HTREEITEM nested = panel.tree.AddFolder("市区", shandong);
    panel.tree.AddRegion(Region("市南区", {{120.3f, 36.05f}, {120.4f, 36.07f}, {120.38f, 36.1f}}), nested);
    // Nothing to save: no points, or a point that is not a number.
    EXPECT_EQ(panel.tree.AddRegion(Region("空", {})), 0u);
    EXPECT_EQ(panel.tree.AddRegion(Region("坏", {{std::nanf(""), 1.0f}})), 0u);

    EXPECT_TRUE(panel.tree.IsFolder(shandong));
    EXPECT_FALSE(panel.tree.IsFolder(item));
    ASSERT_NE(panel.tree.GetRegion(item), nullptr);
    EXPECT_EQ(*panel.tree.GetRegion(item), qingdao);
    EXPECT_EQ(panel.tree.GetRegion(shandong), nullptr);
    EXPECT_EQ(panel.tree.CollectRegions(shandong).size(), 3u);
    EXPECT_EQ(panel.tree.CollectRegions().size(), 4u);

    SavedRegion bigger = qingdao;
    bigger.name = "青岛市";
    bigger.points.push_back({120.1f, 36.4f});
    ASSERT_TRUE(panel.tree.ReplaceRegion(item, bigger));
    EXPECT_EQ(panel.tree.GetItemText(item), "青岛市");
    EXPECT_FALSE(panel.tree.ReplaceRegion(shandong, bigger));  // a folder holds no region
    ASSERT_TRUE(panel.tree.RenameItem(top, "北京市"));
    ASSERT_TRUE(panel.tree.DeleteRegionItem(jinan));
    EXPECT_FALSE(panel.tree.ItemExists(jinan));
    panel.DestroyWindow();
  }
  {
    CPanel panel(path);
    ASSERT_TRUE(panel.Create());
    EXPECT_EQ(panel.tree.LastLoad(), CRegionFile::LoadResult::kOk);
    std::vector<HTREEITEM> tops = panel.tree.GetChildren(TVI_ROOT);
    ASSERT_EQ(tops.size(), 2u);
    EXPECT_EQ(panel.tree.GetItemText(tops[0]), "山东");
    EXPECT_EQ(panel.tree.GetItemText(tops[1]), "北京市");
    std::vector<HTREEITEM> inside = panel.tree.GetChildren(tops[0]);
    ASSERT_EQ(inside.size(), 2u);
    const SavedRegion* back = panel.tree.GetRegion(inside[0]);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->name, "青岛市");
    EXPECT_EQ(back->points.size(), 4u);
    EXPECT_EQ(back->line_color, 0xFF00FF00u);
    EXPECT_TRUE(back->fill);
    EXPECT_EQ(back->line_width, 3);
    EXPECT_FLOAT_EQ(back->points[1].x, 120.6f);
    EXPECT_EQ(panel.tree.GetItemText(inside[1]), "市区");
    EXPECT_EQ(panel.tree.GetChildren(inside[1]).size(), 1u);
    // Folder and region pictures.
    int image = -1, selected = -1;
    panel.tree.GetItemImage(tops[0], &image, &selected);
    EXPECT_EQ(image, CRegionTree::kImageFolder);
    panel.tree.GetItemImage(tops[1], &image, &selected);
    EXPECT_EQ(image, CRegionTree::kImageRegion);
    ASSERT_NE(panel.tree.GetImageList(), nullptr);
    EXPECT_EQ(panel.tree.GetImageList()->GetName(CRegionTree::kImageRegion), "region_polygon.png");
    // Deleting a folder takes its contents.
    ASSERT_TRUE(panel.tree.DeleteRegionItem(tops[0]));
    EXPECT_EQ(panel.tree.CollectRegions().size(), 1u);
    panel.DestroyWindow();
    // The dialog shown again reads the file again.
    ASSERT_TRUE(panel.Create());
    EXPECT_EQ(panel.tree.GetCount(), 1u);
    panel.DestroyWindow();
  }
}

TEST_F(RegionTreeTest, TheDefaultFileLiesInTheDataFolder) {
  EXPECT_EQ(CRegionFile::DefaultPath(), AppOptions().data_dir + "kovra.pdt");
  CPanel panel("");
  ASSERT_TRUE(panel.Create());
  EXPECT_EQ(panel.tree.FilePath(), AppOptions().data_dir + "kovra.pdt");
  panel.DestroyWindow();
}

TEST_F(RegionTreeTest, DamagedFilesAreRefusedWholeAndKeptAside) {
  // A good file to spoil in several ways.
  RegionNode root;
  auto folder = std::make_unique<RegionNode>();
  folder->region.name = "目录";
  auto region = std::make_unique<RegionNode>();
  region->kind = RegionNode::Kind::kRegion;
  region->region = Region("区域", {{1, 2}, {3, 4}, {5, 6}});
  folder->children.push_back(std::move(region));
  root.children.push_back(std::move(folder));
  const std::vector<uint8_t> good = CRegionFile::Encode(root);
  {
    RegionNode back;
    CRegionFile::Decode(good.data(), good.size(), &back);
    ASSERT_EQ(back.children.size(), 1u);
    EXPECT_EQ(back.children[0]->children[0]->region, root.children[0]->children[0]->region);
  }

  auto bytes_of = [](std::initializer_list<std::function<void(ArchiveWriter&)>> parts) {
    ArchiveWriter ar;
    for (auto& p : parts) p(ar);
    return ar.Bytes();
  };
  std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged = {
      {"truncated", std::vector<uint8_t>(good.begin(), good.end() - 5)},
      {"trailing bytes", [&] {
         auto b = good;
         b.push_back(0);
         return b;
       }()},
      {"other schema", bytes_of({[](ArchiveWriter& a) { a.I32(2); }, [](ArchiveWriter& a) { a.U32(0); }})},
      {"count past the end", bytes_of({[](ArchiveWriter& a) { a.I32(1); }, [](ArchiveWriter& a) { a.U32(0x7FFFFFFF); }})},
      {"points past the end", bytes_of({[](ArchiveWriter& a) { a.I32(1); }, [](ArchiveWriter& a) { a.U32(1); },
                                        [](ArchiveWriter& a) {
                                          a.U8(1);
                                          a.String("x");
                                          a.U32(0);
                                          a.U32(0);
                                          a.I32(1);
                                          a.U8(0);
                                          a.U32(1000000);
                                        }})},
      {"unknown kind", bytes_of({[](ArchiveWriter& a) { a.I32(1); }, [](ArchiveWriter& a) { a.U32(1); },
                                 [](ArchiveWriter& a) {
                                   a.U8(7);
                                   a.String("x");
                                   a.U32(0);
                                 }})},
      {"not a number", bytes_of({[](ArchiveWriter& a) { a.I32(1); }, [](ArchiveWriter& a) { a.U32(1); },
                                 [](ArchiveWriter& a) {
                                   a.U8(1);
                                   a.String("x");
                                   a.U32(0);
                                   a.U32(0);
                                   a.I32(1);
                                   a.U8(0);
                                   a.U32(1);
                                   a.F32(std::numeric_limits<float>::infinity());
                                   a.F32(0);
                                 }})},
      {"nested too deep", [] {
         ArchiveWriter a;
         a.I32(1);
         for (int i = 0; i < 100; ++i) {
           a.U32(1);
           a.U8(0);
           a.String("d");
         }
         a.U32(0);
         return a.Bytes();
       }()},
  };
  for (const auto& [what, bytes] : damaged) {
    SCOPED_TRACE(what);
    RegionNode tree;
    EXPECT_THROW(CRegionFile::Decode(bytes.data(), bytes.size(), &tree), ArchiveError);

    const std::string path = dir.File(what + ".pdt");
    test::WriteTestFile(path, std::string(bytes.begin(), bytes.end()));
    CPanel panel(path);
    ASSERT_TRUE(panel.Create());
    EXPECT_EQ(panel.tree.LastLoad(), CRegionFile::LoadResult::kDamaged);
    EXPECT_EQ(panel.tree.GetCount(), 0u);
    // Nothing is written by reading; the first change keeps the damaged bytes aside first.
    EXPECT_EQ(test::ReadTestFile(path), std::string(bytes.begin(), bytes.end()));
    ASSERT_NE(panel.tree.AddRegion(Region("新区域", {{1, 1}, {2, 2}})), 0u);
    EXPECT_EQ(test::ReadTestFile(path + ".damaged"), std::string(bytes.begin(), bytes.end()));
    RegionNode saved;
    std::string now = test::ReadTestFile(path);
    CRegionFile::Decode(reinterpret_cast<const uint8_t*>(now.data()), now.size(), &saved);
    ASSERT_EQ(saved.children.size(), 1u);
    EXPECT_EQ(saved.children[0]->Name(), "新区域");
    panel.DestroyWindow();
  }
}

TEST_F(RegionTreeTest, ADamagedFileThatCannotBeKeptAsideIsNotWrittenOver) {
  const std::string path = dir.File("kovra.pdt");
  test::WriteTestFile(path, "not a region file");
  // A folder where the copy would go: the copy fails, so the file must stay.
  std::filesystem::create_directories(path + ".damaged/inside");
  CPanel panel(path);
  ASSERT_TRUE(panel.Create());
  EXPECT_EQ(panel.tree.LastLoad(), CRegionFile::LoadResult::kDamaged);
  panel.tree.AddFolder("目录");
  EXPECT_EQ(host.LastMessage(), "无法保存区域文件");
  EXPECT_EQ(test::ReadTestFile(path), "not a region file");
  panel.DestroyWindow();
}

TEST_F(RegionTreeTest, RegionListIsRefilledFromTheViewsRegions) {
  CPanel panel(dir.File("kovra.pdt"));
  ASSERT_TRUE(panel.Create());
  ASSERT_EQ(panel.list.GetColumnCount(), 2);
  EXPECT_EQ(panel.list.GetColumnHeading(0), "名称");
  EXPECT_EQ(panel.list.GetColumnHeading(1), "点数");
  panel.list.Refresh();  // no source: empty
  EXPECT_EQ(panel.list.GetItemCount(), 0);

  std::vector<SavedRegion> shown = {Region("青岛-0", {{1, 1}, {2, 2}, {3, 1}}), Region("青岛-1", {{4, 4}, {5, 5}})};
  CRegionList::SetViewRegionSource([&shown] { return shown; });
  panel.list.Refresh();
  ASSERT_EQ(panel.list.GetItemCount(), 2);
  EXPECT_EQ(panel.list.GetItemText(0, 0), "青岛-0");
  EXPECT_EQ(panel.list.GetItemText(0, 1), "3");
  EXPECT_EQ(panel.list.GetRegion(1)->name, "青岛-1");
  EXPECT_EQ(panel.list.GetRegion(2), nullptr);
  // The view's regions change: the list follows only when refreshed, from its own copy.
  shown.pop_back();
  EXPECT_EQ(panel.list.GetRegion(1)->name, "青岛-1");
  panel.list.Refresh();
  EXPECT_EQ(panel.list.GetItemCount(), 1);
  // A region from the list goes into the tree.
  HTREEITEM item = panel.tree.AddRegion(*panel.list.GetRegion(0));
  ASSERT_NE(item, 0u);
  EXPECT_EQ(panel.tree.GetItemText(item), "青岛-0");
  panel.DestroyWindow();
}

}  // namespace
}  // namespace velmora
