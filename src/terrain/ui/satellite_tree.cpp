// The satellite library panel: loading, the tree's items, the commands and the saves.
#include "terrain/ui/satellite_tree.h"

#include <filesystem>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "shell/dlg_sat_edit.h"
#include "shell/kovra_home_ex_app.h"
#include "view/child_view.h"

namespace velmora {

CSatelliteTree::CSatelliteTree()
    : host_(std::make_unique<CPanelHost>(*this, [this](NMHDR* hdr) { return OnReflectedNotify(hdr); })) {
  MapCommand(ID_IMPORT_ORBIT, [this] { OnImportOrbit(); });
  MapCommand(ID_UPDATE_LIBRARY, [this] { OnUpdateLibrary(); });
  MapCommand(ID_MODIFY, [this] { OnModify(); });
  MapCommand(ID_DELETE, [this] { OnDelete(); });
  MapCommand(ID_LOCATE, [this] { OnLocate(); });
  MapCommand(ID_CUT, [this] { OnCut(); });
  MapCommand(ID_PASTE, [this] { OnPaste(); });
}

CSatelliteTree::~CSatelliteTree() {
  if (host_) host_->DestroyWindow();
  DestroyWindow();
}

void CSatelliteTree::SetLibraryPath(std::string path, std::string seed) {
  path_ = std::move(path);
  seed_ = std::move(seed);
}

bool CSatelliteTree::CreatePanel(CWnd* parent) {
  return host_->CreatePanel(parent, kPanelId, kPanelName, kTreeId);
}

int CSatelliteTree::OnCreate() {
  if (CKovraHomeExApp* app = GetApp()) SetImageList(&app->CheckStateImages());
  if (path_.empty()) SetLibraryPath(AppOptions().data_dir + kSatLibraryFileName, AppOptions().program_dir + kSatLibraryFileName);
  load_result_ = LoadSatLibrary(path_, seed_, AppOptions().program_dir, &root_);
  for (const auto& child : root_.Children()) InsertTreeItem(child.get(), TVI_ROOT);
  return 0;
}

void CSatelliteTree::OnDestroy() {
  DeleteAllItems();
  handles_.clear();
  cut_ = nullptr;
}

HTREEITEM CSatelliteTree::InsertTreeItem(CSatTreeItem* item, HTREEITEM parent) {
  const HTREEITEM handle = InsertItem(item->Text(), item->Image(), item->Image(), parent, TVI_LAST);
  if (!handle) return 0;
  SetItemData(handle, reinterpret_cast<uintptr_t>(item));
  handles_[item] = handle;
  if (item->Type() == 0)
    for (const auto& child : static_cast<CSatFolderItem*>(item)->Children()) InsertTreeItem(child.get(), handle);
  return handle;
}

void CSatelliteTree::ForgetTreeItems(CSatTreeItem* item) {
  handles_.erase(item);
  if (item->Type() == 0)
    for (const auto& child : static_cast<CSatFolderItem*>(item)->Children()) ForgetTreeItems(child.get());
}

CSatTreeItem* CSatelliteTree::ItemOf(HTREEITEM item) const {
  return item && ItemExists(item) ? reinterpret_cast<CSatTreeItem*>(GetItemData(item)) : nullptr;
}

HTREEITEM CSatelliteTree::HandleOf(const CSatTreeItem* item) const {
  if (item == &root_) return TVI_ROOT;
  auto it = handles_.find(item);
  return it == handles_.end() ? 0 : it->second;
}

void CSatelliteTree::UpdateImages() {
  for (const auto& [item, handle] : handles_) SetItemImage(handle, item->Image(), item->Image());
  Invalidate();
}

std::vector<SatElements> CSatelliteTree::ShownSatellites() const {
  std::vector<SatElements> out;
  root_.CollectShown(out);
  return out;
}

IChildView* CSatelliteTree::CurrentView() const {
  if (view_source_) return view_source_();
  CKovraHomeExApp* app = GetApp();
  return app ? app->GetCurrentView() : nullptr;
}

bool CSatelliteTree::SaveLibrary() {
  if (path_.empty()) SetLibraryPath(AppOptions().data_dir + kSatLibraryFileName, AppOptions().program_dir + kSatLibraryFileName);
  return SaveSatLibrary(path_, AppOptions().program_dir, root_);
}

// ---- notifications -----------------------------------------------------------------------------

LRESULT CSatelliteTree::OnReflectedNotify(NMHDR* hdr) {
  switch (hdr->code) {
    case NM_CLICK:
      if (LastClickHit() == TVHT_ONITEMICON) ToggleItem(reinterpret_cast<NMTREEVIEW*>(hdr)->itemNew);
      return 0;
    case NM_DBLCLK:
      OnLocate();
      return 0;
    case NM_RCLICK:
      OnContextMenu();
      return 0;
    default:
      return 0;
  }
}

void CSatelliteTree::OnContextMenu() {
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, ID_UPDATE_LIBRARY, "更新卫星库");
  // The front end routes no commands to side-bar panels: the panel's own commands are offered
  // here as well, so that a person can reach them.
  menu.AppendSeparator();
  menu.AppendMenu(MF_STRING, ID_IMPORT_ORBIT, "导入轨道文件...");
  CSatTreeItem* item = ItemOf(GetSelectedItem());
  const UINT on_satellite = item && item->Type() == 1 ? MF_STRING : MF_STRING | MF_GRAYED;
  const UINT on_item = item ? MF_STRING : MF_STRING | MF_GRAYED;
  menu.AppendMenu(on_satellite, ID_MODIFY, "修改...");
  menu.AppendMenu(on_satellite, ID_LOCATE, "定位");
  menu.AppendMenu(on_item, ID_DELETE, "删除");
  menu.AppendMenu(on_item, ID_CUT, "剪切");
  menu.AppendMenu(cut_ ? MF_STRING : MF_STRING | MF_GRAYED, ID_PASTE, "粘贴");
  const UINT id = static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this));
  if (id != 0) SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

// ---- commands ----------------------------------------------------------------------------------

int CSatelliteTree::AddFromText(const std::string& title, std::string_view text) {
  const std::vector<SatElements> sets = ReadElementSets(text);
  if (sets.empty()) return 0;
  auto folder = std::make_unique<CSatFolderItem>(title);
  for (const SatElements& e : sets) folder->Add(std::make_unique<CSatelliteItem>(e, 0));
  folder->RefreshState();
  CSatTreeItem* added = root_.Add(std::move(folder));
  root_.RefreshState();
  if (IsWindow()) InsertTreeItem(added, TVI_ROOT);
  return static_cast<int>(sets.size());
}

int CSatelliteTree::ImportFile(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    MessageBox("无法读取文件: " + path, kAppTitle, MB_OK | MB_ICONERROR);
    return 0;
  }
  if (size > kSatImportMaxBytes) {
    MessageBox(kTooLargeMessage, kAppTitle, MB_OK | MB_ICONWARNING);
    return 0;
  }
  std::string why;
  const auto bytes = ReadFileBytes(path, &why);
  if (!bytes) {
    MessageBox("无法读取文件: " + why, kAppTitle, MB_OK | MB_ICONERROR);
    return 0;
  }
  std::string title = GetFileNamePart(path);
  if (const size_t dot = title.rfind('.'); dot != std::string::npos && dot > 0) title.resize(dot);
  const int added = AddFromText(title, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (added == 0) {
    MessageBox(kNothingReadMessage, kAppTitle, MB_OK | MB_ICONWARNING);
    return 0;
  }
  SaveLibrary();
  UpdateImages();
  return added;
}

void CSatelliteTree::OnImportOrbit() {
  const std::string last = GetProfileString("recent", "orbit", "");
  CFileDialog dialog(true, "txt", last, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, kImportFilter, this);
  if (dialog.DoModal() != IDOK || dialog.GetPathName().empty()) return;
  WriteProfileString("recent", "orbit", dialog.GetPathName());
  ImportFile(dialog.GetPathName());
}

void CSatelliteTree::ToggleItem(HTREEITEM handle) {
  CSatTreeItem* item = ItemOf(handle);
  if (!item) return;
  item->Toggle();
  const uint32_t shown = item->Image() != 0 ? 1 : 0;
  std::vector<CSatelliteItem*> satellites;
  item->CollectSatellites(satellites);
  if (IChildView* view = CurrentView())
    for (CSatelliteItem* s : satellites) view->ShowSatellites(s->Record(), shown != 0);
  if (item->Parent()) item->Parent()->RefreshUp();
  SaveLibrary();
  UpdateImages();
}

void CSatelliteTree::OnUpdateLibrary() {
  MessageBox(std::string(kUpdateMessage) + "\n" + kContactLine, kAppTitle, MB_OK | MB_ICONINFORMATION);
}

void CSatelliteTree::Locate(const CSatelliteItem& satellite) {
  IChildView* view = CurrentView();
  if (!view) return;
  CSatOrbit orbit(satellite.Record());
  // The present moment as a Julian date from the calendar, never through a two-digit year.
  const double now = clock_ ? clock_() : JulianDateNow();
  if (!orbit.ComputeAt(now)) {
    AppLog("satellite %u: no position now", satellite.Record().satellite_number);
    return;
  }
  view->SetCamera(orbit.Last().longitude, orbit.Last().latitude, 0.0, true);
}

void CSatelliteTree::OnLocate() {
  CSatTreeItem* item = ItemOf(GetSelectedItem());
  if (!item || item->Type() != 1) return;
  auto* satellite = static_cast<CSatelliteItem*>(item);
  if (satellite->Shown()) Locate(*satellite);
}

void CSatelliteTree::OnModify() {
  const HTREEITEM handle = GetSelectedItem();
  CSatTreeItem* item = ItemOf(handle);
  if (!item || item->Type() != 1) return;
  auto* satellite = static_cast<CSatelliteItem*>(item);
  SatElements record = satellite->Record();
  CDlgSatEdit dialog(&record, this);
  if (dialog.DoModal() != IDOK) return;
  // The dialog may have freed nothing, but its pumping may have run other commands: look the
  // item up again.
  if (ItemOf(handle) != satellite) return;
  satellite->Record() = record;
  SetItemText(handle, satellite->Text());
  if (satellite->Shown()) {
    if (IChildView* view = CurrentView()) view->ShowSatellites(record, true);
    Locate(*satellite);
  }
  SaveLibrary();
}

void CSatelliteTree::OnDelete() {
  const HTREEITEM handle = GetSelectedItem();
  CSatTreeItem* item = ItemOf(handle);
  if (!item || !item->Parent()) return;
  // Shown satellites leave the view with their items.
  std::vector<CSatelliteItem*> satellites;
  item->CollectSatellites(satellites);
  if (IChildView* view = CurrentView())
    for (CSatelliteItem* s : satellites)
      if (s->Shown()) view->ShowSatellites(s->Record(), false);
  // A cut item at or under the deleted one would be pasted after it is freed.
  if (cut_ && item->Contains(cut_)) cut_ = nullptr;
  CSatFolderItem* parent = item->Parent();
  ForgetTreeItems(item);
  DeleteItem(handle);
  std::unique_ptr<CSatTreeItem> removed = parent->Remove(item);
  parent->RefreshUp();
  SaveLibrary();
  UpdateImages();
}

void CSatelliteTree::OnCut() {
  CSatTreeItem* item = ItemOf(GetSelectedItem());
  if (item) cut_ = item;
}

void CSatelliteTree::OnPaste() {
  if (!cut_ || !cut_->Parent()) return;
  CSatTreeItem* selected = ItemOf(GetSelectedItem());
  CSatFolderItem* target = &root_;
  if (selected) target = selected->Type() == 0 ? static_cast<CSatFolderItem*>(selected) : selected->Parent();
  if (!target) return;
  // Into itself or a folder under it would make the folder its own ancestor.
  if (cut_->Contains(target)) {
    MessageBox(kPasteIntoItselfMessage, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  CSatTreeItem* item = cut_;
  cut_ = nullptr;
  CSatFolderItem* from = item->Parent();
  const HTREEITEM old_handle = HandleOf(item);
  ForgetTreeItems(item);
  if (old_handle) DeleteItem(old_handle);
  std::unique_ptr<CSatTreeItem> moved = from->Remove(item);
  from->RefreshUp();
  CSatTreeItem* placed = target->Add(std::move(moved));
  target->RefreshUp();
  const HTREEITEM parent_handle = HandleOf(target);
  if (const HTREEITEM handle = InsertTreeItem(placed, parent_handle)) {
    if (parent_handle != TVI_ROOT) Expand(parent_handle, TVE_EXPAND);
    SelectItem(handle);
  }
  SaveLibrary();
  UpdateImages();
}

}  // namespace velmora
