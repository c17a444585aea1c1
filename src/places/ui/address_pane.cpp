// The address library pane: the tree, its library file, renames, the rebuild and the export.
#include "places/ui/address_pane.h"

#include "core/log.h"
#include "core/settings.h"
#include "exchange/ui/dlg_export_region_set.h"
#include "places/ui/view_jump.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/wait_cursor.h"
#include "shell/dialog_ex.h"
#include "shell/dlg_progress.h"
#include "shell/dlg_worker_base.h"
#include "shell/file_dialog_ex.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"

namespace velmora {

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char a = text[text.size() - tail.size() + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != tail[i]) return false;
  }
  return true;
}

DialogTemplate RenameTemplate() {
  DialogTemplate t;
  t.id = CAddressPane::kRenameTemplateId;
  t.caption = "重命名";
  t.cx = 160;
  t.cy = 50;
  t.controls = {{ControlKind::kEdit, CAddressPane::kIdRenameEdit, "", 8, 8, 144, 14, 0},
                {ControlKind::kDefButton, IDOK, "确定", 44, 30, 50, 14, 0},
                {ControlKind::kButton, IDCANCEL, "取消", 102, 30, 50, 14, 0}};
  return t;
}

class CDlgRename : public CDialogEx {
 public:
  CDlgRename(std::string name, CWnd* parent) : CDialogEx(RenameTemplate(), parent), name(std::move(name)) {}
  std::string name;

 protected:
  bool OnInitDialog() override {
    SetDlgItemText(CAddressPane::kIdRenameEdit, name);
    return true;
  }
  void OnOK() override {
    name = GetDlgItemText(CAddressPane::kIdRenameEdit);
    EndDialog(IDOK);
  }
};

}  // namespace

CAddressPane::CAddressPane(CTileManager* tiles)
    : tiles_(tiles),
      host_(std::make_unique<CPanelHost>(*this, [this](NMHDR* hdr) { return OnReflectedNotify(hdr); })),
      root_(std::make_unique<CAddressRecord>("root")) {}

CAddressPane::~CAddressPane() {
  if (host_) host_->DestroyWindow();
  DestroyWindow();
}

CTileManager& CAddressPane::Tiles() const { return tiles_ ? *tiles_ : TileManager(); }

bool CAddressPane::CreatePanel(CWnd* parent) {
  return host_->CreatePanel(parent, kPanelId, kPanelName, kTreeId);
}

int CAddressPane::OnCreate() {
  // The context help id (kHelpId) and the shared font are the front end's: it gives every panel
  // the application's font.
  id_ = GetProfileInt(kProfileSection, kProfileKey, 8);
  LoadLibrary();
  return 0;
}

void CAddressPane::OnDestroy() {
  AskAndSave();
  DeleteAllItems();
  filled_.clear();
  root_ = std::make_unique<CAddressRecord>("root");
}

void CAddressPane::AskAndSave() {
  if (modified_ && ShowMessageBox(kAskSave, MB_YESNO | MB_ICONQUESTION) == IDYES) SaveLibrary();
  modified_ = false;
}

CAddressRecord* CAddressPane::RecordOf(HTREEITEM item) const {
  return item && ItemExists(item) ? reinterpret_cast<CAddressRecord*>(GetItemData(item)) : nullptr;
}

HTREEITEM CAddressPane::FindChild(HTREEITEM parent, const std::string& name) const { return FindChildItem(parent, name); }

void CAddressPane::LoadLibrary() {
  DeleteAllItems();
  filled_.clear();
  root_ = std::make_unique<CAddressRecord>("root");
  modified_ = false;
  std::string error;
  const std::string path = AddressLibraryPath(id_);
  if (LoadAddressLibrary(path, *root_, &error) == LibraryLoad::kDamaged)
    AppLog("address library %s: %s", path.c_str(), error.c_str());
  FillTree(*root_, TVI_ROOT);
}

bool CAddressPane::SaveLibrary() {
  std::string error;
  const std::string path = AddressLibraryPath(id_);
  if (!SaveAddressLibrary(path, *root_, &error)) {
    AppLog("address library %s: %s", path.c_str(), error.c_str());
    return false;
  }
  modified_ = false;
  return true;
}

void CAddressPane::FillTree(const CAddressRecord& record, HTREEITEM parent) {
  for (const auto& [key, child] : record.Children()) {
    const HTREEITEM item = InsertItem(key, parent, TVI_LAST);
    if (item) SetItemData(item, reinterpret_cast<uintptr_t>(child.get()));
  }
  SortChildren(parent);
  if (parent != TVI_ROOT) filled_.insert(parent);
}

LRESULT CAddressPane::OnReflectedNotify(NMHDR* hdr) {
  switch (hdr->code) {
    case TVN_SELCHANGED:
      OnSelChanged(reinterpret_cast<NMTREEVIEW*>(hdr)->itemNew);
      return 0;
    case NM_DBLCLK:
      OnDoubleClick();
      return 0;
    case NM_RCLICK:
      OnContextMenu();
      return 0;
    case TVN_ENDLABELEDIT: {
      auto* edit = reinterpret_cast<NMTVENDLABELEDIT*>(hdr);
      return edit->text != nullptr && EndLabelEdit(edit->item, edit->text) ? 1 : 0;
    }
    default:
      return 0;
  }
}

void CAddressPane::OnSelChanged(HTREEITEM item) {
  const CAddressRecord* record = RecordOf(item);
  if (!record || ItemHasChildren(item) || filled_.count(item)) return;
  FillTree(*record, item);
}

void CAddressPane::OnDoubleClick() {
  if (const CAddressRecord* record = RecordOf(GetSelectedItem()))
    JumpCurrentView(record->lng, record->lat, record->zoom);
}

bool CAddressPane::EndLabelEdit(HTREEITEM item, const std::string& text) {
  CAddressRecord* record = RecordOf(item);
  if (!record || text.empty()) return false;
  const HTREEITEM parent_item = GetParentItem(item);
  CAddressRecord* parent = parent_item ? RecordOf(parent_item) : root_.get();
  if (!parent || !parent->RenameChild(text, record)) return false;
  SetItemText(item, text);
  modified_ = true;
  return true;
}

bool CAddressPane::OnRename() {
  const HTREEITEM item = GetSelectedItem();
  if (!RecordOf(item)) return false;
  CDlgRename dialog(GetItemText(item), this);
  return dialog.DoModal() == IDOK && EndLabelEdit(item, dialog.name);
}

void CAddressPane::OnSelectLibrary(UINT command) {
  if (command < ID_LIBRARY_FIRST || command > ID_LIBRARY_LAST) return;
  // An entry beyond the geocoder list changes nothing.
  const MapSourceDef* source = LayerManager().GeocoderAt(static_cast<int>(command - ID_LIBRARY_FIRST));
  if (!source || source->id == id_) return;
  AskAndSave();
  id_ = source->id;
  WriteProfileInt(kProfileSection, kProfileKey, id_);
  LoadLibrary();
}

void CAddressPane::OnContextMenu() {
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, ID_REBUILD, "重构地址库");
  menu.AppendSeparator();
  if (RecordOf(GetSelectedItem())) menu.AppendMenu(MF_STRING, ID_RENAME, "重命名...");
  menu.AppendMenu(MF_STRING, ID_EXPORT, "导出地址...");
  menu.AppendSeparator();
  const CLayerManager& layers = LayerManager();
  for (int n = 0; n < layers.GeocoderCount() && ID_LIBRARY_FIRST + static_cast<UINT>(n) <= ID_LIBRARY_LAST; ++n) {
    const MapSourceDef* source = layers.GeocoderAt(n);
    if (!source) continue;
    menu.AppendMenu(MF_STRING | (source->id == id_ ? MF_CHECKED : MF_UNCHECKED), ID_LIBRARY_FIRST + n,
                    "地址库: " + source->name);
  }
  const UINT command = static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this));
  if (command == ID_REBUILD) OnRebuild();
  else if (command == ID_EXPORT) OnExport();
  else if (command == ID_RENAME) OnRename();
  else if (command >= ID_LIBRARY_FIRST && command <= ID_LIBRARY_LAST) OnSelectLibrary(command);
}

bool CAddressPane::OnRebuild() {
  if (ShowMessageBox(kAskRebuild, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  CTileStore* store = Tiles().OpenStore(id_);
  if (!store) {
    AppLog("address library: the store of source %d cannot be opened", id_);
    return false;
  }
  // Built privately: the library shown and its file stay as they are unless the rebuild ends.
  auto rebuilt = std::make_unique<CAddressRecord>("root");
  LibraryScan scan;
  {
    CDlgProgress dialog("重构地址库...", this);
    const int id = id_;
    CAddressRecord* root = rebuilt.get();
    if (!dialog.StartThread("RebuildAddressThread", [&dialog, &scan, store, id, root] {
          LibraryScanHooks hooks;
          hooks.stop = [&dialog] { return dialog.Thread().QuitRequested(); };
          hooks.progress = [&dialog](uint64_t done, uint64_t total) {
            dialog.SetProgress(total ? static_cast<float>(double(done) / double(total)) : 1.0f);
          };
          scan = RebuildAddressLibrary(*store, id, *root, hooks);
          dialog.Close();
        })) {
      AppLog("address library: the rebuild could not start");
      return false;
    }
    dialog.DoModal();
    StopWorkerPumping(dialog.Thread());
  }
  AppLog("address library %d: %llu replies, %llu read, %llu unreadable%s", id_,
         static_cast<unsigned long long>(scan.replies), static_cast<unsigned long long>(scan.parsed),
         static_cast<unsigned long long>(scan.unparsed), scan.completed ? "" : ", stopped");
  if (!scan.completed) return false;
  DeleteAllItems();
  filled_.clear();
  root_ = std::move(rebuilt);
  SaveLibrary();
  FillTree(*root_, TVI_ROOT);
  return true;
}

bool CAddressPane::OnExport() {
  CDlgExportRegionSet region(this);
  if (region.DoModal() != IDOK) return false;
  const ExportBox box{region.top_left.lng, region.top_left.lat, region.bottom_right.lng, region.bottom_right.lat};
  const std::string last = ProgramSettings().GetString(kExportPathKey, "addrexport");
  CFileDialogEx file(false, "txt", last, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     CFileDialogEx::PutMatchingFilterFirst(kExportFilter, last), this);
  if (file.DoModal() != IDOK || file.GetPathName().empty()) return false;
  const std::string path = file.GetPathName();
  ProgramSettings().SetString(kExportPathKey, path);
  CTileStore* store = Tiles().OpenStore(id_);
  if (!store) {
    AppLog("address export: the store of source %d cannot be opened", id_);
    return false;
  }
  bool written = false;
  std::string saved = path, error;
  INT_PTR end = IDCANCEL;
  {
    CDlgProgress dialog("地址库导出...", this);
    const int id = id_;
    if (!dialog.StartThread("AddressExportThread", [&, store, id] {
          LibraryScanHooks hooks;
          hooks.stop = [&dialog] { return dialog.Thread().QuitRequested(); };
          hooks.progress = [&dialog](uint64_t done, uint64_t total) {
            dialog.SetProgress(total ? static_cast<float>(double(done) / double(total)) : 1.0f);
          };
          std::vector<ExportPlace> places;
          if (CollectExportPlaces(*store, id, box, hooks, &places).completed) {
            written = EndsWithNoCase(path, ".xls") || EndsWithNoCase(path, ".xlsx")
                          ? WriteExportSheet(path, places, &saved, &error)
                          : WriteExportText(path, places, &error);
          }
          dialog.Close();
        })) {
      AppLog("address export could not start");
      return false;
    }
    end = dialog.DoModal();
    StopWorkerPumping(dialog.Thread());
  }
  if (!written) {
    if (!error.empty()) {
      AppLog("address export %s: %s", path.c_str(), error.c_str());
      ShowMessageBox("无法创建文件", MB_OK | MB_ICONWARNING);
    }
    return false;
  }
  if (end == IDOK && file.AutoOpen()) GetUiHost().OpenDocument(saved);
  return true;
}

}  // namespace velmora
