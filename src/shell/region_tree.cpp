// The saved-region tree and the view's region list.
#include "shell/region_tree.h"

#include <cmath>
#include <mutex>

#include "core/log.h"

namespace velmora {
namespace {

bool UsableRegion(const SavedRegion& region) {
  if (region.points.empty()) return false;
  for (const PointF& p : region.points)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  return true;
}

void Collect(const RegionNode& node, std::vector<const SavedRegion*>* out) {
  if (!node.IsFolder()) {
    out->push_back(&node.region);
    return;
  }
  for (const auto& child : node.children) Collect(*child, out);
}

std::mutex& SourceMutex() {
  static std::mutex m;
  return m;
}
CRegionList::RegionSource& Source() {
  static CRegionList::RegionSource source;
  return source;
}

}  // namespace

// ---- tree ----

CRegionTree::CRegionTree() {
  images_.Create(16, 16);
  images_.Add("region_folder.png");
  images_.Add("region_polygon.png");
}

void CRegionTree::ResetWindowState() {
  CTreeCtrl::ResetWindowState();
  loaded_ = false;
}

int CRegionTree::OnCreate() {
  Reload();
  return CTreeCtrl::OnCreate();
}

void CRegionTree::PreSubclassWindow() {
  if (!loaded_) Reload();
}

CRegionFile::LoadResult CRegionTree::Reload() {
  if (path_.empty()) path_ = CRegionFile::DefaultPath();
  last_load_ = file_.Load(path_, &root_);
  loaded_ = true;
  Rebuild();
  return last_load_;
}

void CRegionTree::Rebuild() {
  DeleteAllItems();
  SetImageList(&images_);
  for (auto& child : root_.children) InsertNode(*child, TVI_ROOT);
}

HTREEITEM CRegionTree::InsertNode(RegionNode& node, HTREEITEM parent) {
  int image = node.IsFolder() ? kImageFolder : kImageRegion;
  HTREEITEM item = InsertItem(node.Name(), image, image, parent, TVI_LAST);
  if (!item) return 0;
  SetItemData(item, reinterpret_cast<uintptr_t>(&node));
  for (auto& child : node.children) InsertNode(*child, item);
  return item;
}

RegionNode* CRegionTree::NodeOf(HTREEITEM item) const {
  if (item == 0 || item == TVI_ROOT || !ItemExists(item)) return nullptr;
  return reinterpret_cast<RegionNode*>(GetItemData(item));
}

RegionNode* CRegionTree::FolderFor(HTREEITEM item, HTREEITEM* tree_parent) const {
  RegionNode* node = NodeOf(item);
  if (!node) {
    *tree_parent = TVI_ROOT;
    return const_cast<RegionNode*>(&root_);
  }
  if (node->IsFolder()) {
    *tree_parent = item;
    return node;
  }
  // A region: its own folder.
  HTREEITEM up = GetParentItem(item);
  return FolderFor(up ? up : TVI_ROOT, tree_parent);
}

HTREEITEM CRegionTree::AddRegion(const SavedRegion& region, HTREEITEM parent) {
  if (!UsableRegion(region)) return 0;
  auto node = std::make_unique<RegionNode>();
  node->kind = RegionNode::Kind::kRegion;
  node->region = region;
  return AddNode(std::move(node), parent);
}

HTREEITEM CRegionTree::AddFolder(const std::string& name, HTREEITEM parent) {
  auto node = std::make_unique<RegionNode>();
  node->kind = RegionNode::Kind::kFolder;
  node->region.name = name;
  return AddNode(std::move(node), parent);
}

HTREEITEM CRegionTree::AddNode(std::unique_ptr<RegionNode> node, HTREEITEM parent) {
  HTREEITEM tree_parent = TVI_ROOT;
  RegionNode* folder = FolderFor(parent, &tree_parent);
  RegionNode& added = *node;
  folder->children.push_back(std::move(node));
  HTREEITEM item = InsertNode(added, tree_parent);
  if (tree_parent != TVI_ROOT) Expand(tree_parent, TVE_EXPAND);
  SelectItem(item);
  Save();
  return item;
}

bool CRegionTree::ReplaceRegion(HTREEITEM item, const SavedRegion& region) {
  RegionNode* node = NodeOf(item);
  if (!node || node->IsFolder() || !UsableRegion(region)) return false;
  node->region = region;
  SetItemText(item, region.name);
  return Save();
}

bool CRegionTree::RenameItem(HTREEITEM item, const std::string& name) {
  RegionNode* node = NodeOf(item);
  if (!node) return false;
  node->region.name = name;
  SetItemText(item, name);
  return Save();
}

bool CRegionTree::DeleteRegionItem(HTREEITEM item) {
  RegionNode* node = NodeOf(item);
  if (!node) return false;
  HTREEITEM up = GetParentItem(item);
  RegionNode* folder = up ? NodeOf(up) : &root_;
  if (!folder) return false;
  auto& siblings = folder->children;
  for (auto it = siblings.begin(); it != siblings.end(); ++it) {
    if (it->get() != node) continue;
    DeleteItem(item);  // the items first: they point at the nodes
    siblings.erase(it);
    return Save();
  }
  return false;
}

const SavedRegion* CRegionTree::GetRegion(HTREEITEM item) const {
  RegionNode* node = NodeOf(item);
  return node && !node->IsFolder() ? &node->region : nullptr;
}

bool CRegionTree::IsFolder(HTREEITEM item) const {
  RegionNode* node = NodeOf(item);
  return node && node->IsFolder();
}

std::vector<const SavedRegion*> CRegionTree::CollectRegions(HTREEITEM item) const {
  std::vector<const SavedRegion*> out;
  const RegionNode* node = item == TVI_ROOT || item == 0 ? &root_ : NodeOf(item);
  if (node) Collect(*node, &out);
  return out;
}

bool CRegionTree::Save() {
  if (path_.empty()) path_ = CRegionFile::DefaultPath();
  std::string error;
  if (file_.Save(path_, root_, &error)) return true;
  MessageBox(kCannotSave, kAppTitle, MB_OK | MB_ICONERROR);
  return false;
}

// ---- list ----

void CRegionList::SetViewRegionSource(RegionSource source) {
  std::lock_guard lock(SourceMutex());
  Source() = std::move(source);
}

CRegionList::CRegionList() = default;

void CRegionList::SetUpColumns() {
  if (GetColumnCount() > 0) return;
  InsertColumn(0, "名称", LVCFMT_LEFT, 120);
  InsertColumn(1, "点数", LVCFMT_LEFT, 60);
}

void CRegionList::PreSubclassWindow() {
  CListCtrlEx::PreSubclassWindow();
  SetUpColumns();
}

int CRegionList::OnCreate() {
  SetExtendedStyle(GetExtendedStyle() | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  SetUpColumns();
  return CListCtrlEx::OnCreate();
}

void CRegionList::Refresh() {
  RegionSource source;
  {
    std::lock_guard lock(SourceMutex());
    source = Source();
  }
  // The view's lock is the view's business: the source is called without ours.
  std::vector<SavedRegion> regions = source ? source() : std::vector<SavedRegion>{};
  regions_ = std::move(regions);
  DeleteAllItems();
  for (size_t i = 0; i < regions_.size(); ++i) {
    int row = InsertItem(static_cast<int>(i), regions_[i].name);
    SetItemText(row, 1, std::to_string(regions_[i].points.size()));
    SetItemData(row, i);
  }
}

const SavedRegion* CRegionList::GetRegion(int row) const {
  if (row < 0 || row >= GetItemCount()) return nullptr;
  uintptr_t index = GetItemData(row);
  return index < regions_.size() ? &regions_[index] : nullptr;
}

}  // namespace velmora
