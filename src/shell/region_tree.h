// CRegionTree: the saved-region tree, folders and regions kept in "kovra.pdt" (region_file.h);
// every change is saved at once. CRegionList: the list of the regions the map view shows now,
// refilled on request from the view's regions.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/image_list.h"
#include "platform/ui/tree_ctrl.h"
#include "shell/list_ctrl_ex.h"
#include "shell/region_file.h"

namespace velmora {

class CRegionTree : public CTreeCtrl {
 public:
  // Said when a change cannot be saved.
  static constexpr const char* kCannotSave = "无法保存区域文件";
  static constexpr int kImageFolder = 0, kImageRegion = 1;

  CRegionTree();

  // The file (before the window is created); the data folder's "kovra.pdt" by default.
  void SetFilePath(const std::string& path) { path_ = path; }
  const std::string& FilePath() const { return path_; }

  // Adds a region at the end of `parent` (a folder item; 0 or TVI_ROOT for the top; a region
  // item adds beside it, in its folder) and saves. Returns the new item, 0 when the region has
  // no points or a point is not finite. The new item is selected.
  HTREEITEM AddRegion(const SavedRegion& region, HTREEITEM parent = TVI_ROOT);
  // Adds a folder item the same way.
  HTREEITEM AddFolder(const std::string& name, HTREEITEM parent = TVI_ROOT);
  // Replaces the region of a region item (the name shown follows) and saves.
  bool ReplaceRegion(HTREEITEM item, const SavedRegion& region);
  // Deletes the item (a folder with its contents) and saves.
  bool DeleteRegionItem(HTREEITEM item);
  bool RenameItem(HTREEITEM item, const std::string& name);

  // The region of a region item; null for folders and unknown items.
  const SavedRegion* GetRegion(HTREEITEM item) const;
  bool IsFolder(HTREEITEM item) const;
  // Every region at or below the item (TVI_ROOT: all), in tree order.
  std::vector<const SavedRegion*> CollectRegions(HTREEITEM item = TVI_ROOT) const;

  // Writes the tree to its file; false (and a message) when it cannot be written.
  bool Save();
  // Reads the file again and rebuilds the items.
  CRegionFile::LoadResult Reload();
  CRegionFile::LoadResult LastLoad() const { return last_load_; }

 protected:
  void PreSubclassWindow() override;
  int OnCreate() override;
  void ResetWindowState() override;

 private:
  RegionNode* NodeOf(HTREEITEM item) const;
  RegionNode* FolderFor(HTREEITEM item, HTREEITEM* tree_parent) const;
  HTREEITEM InsertNode(RegionNode& node, HTREEITEM parent);
  // Files a new node under `parent` (a region: its folder), shows, selects and saves it.
  HTREEITEM AddNode(std::unique_ptr<RegionNode> node, HTREEITEM parent);
  void Rebuild();

  std::string path_;
  RegionNode root_;
  CRegionFile file_;
  CRegionFile::LoadResult last_load_ = CRegionFile::LoadResult::kMissing;
  bool loaded_ = false;
  CImageList images_;
};

class CRegionList : public CListCtrlEx {
 public:
  // Where the regions come from: the map view plugs its boundary regions in (any thread may
  // set it; Refresh calls it on the UI thread). Empty: no regions.
  using RegionSource = std::function<std::vector<SavedRegion>()>;
  static void SetViewRegionSource(RegionSource source);

  CRegionList();

  // Refills the list from the view's regions: one row per region, "名称" and "点数".
  void Refresh();
  int GetRegionCount() const { return static_cast<int>(regions_.size()); }
  // The region of a row, null when out of range.
  const SavedRegion* GetRegion(int row) const;

 protected:
  void PreSubclassWindow() override;
  int OnCreate() override;

 private:
  void SetUpColumns();
  std::vector<SavedRegion> regions_;
};

}  // namespace velmora
