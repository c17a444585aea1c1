// The place-name tree panel: filling, loading level by level, jumps and the KML import.
#include "places/ui/place_name_tree.h"

#include <filesystem>

#include "core/log.h"
#include "core/settings.h"
#include "places/place_name_index.h"
#include "places/ui/view_jump.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/wait_cursor.h"
#include "shell/dlg_progress.h"
#include "shell/dlg_worker_base.h"

namespace velmora {

namespace {

// The import's reports on the progress dialog.
class CProgressSink : public IPlaceImportSink {
 public:
  explicit CProgressSink(CDlgProgress& dialog) : dialog_(dialog) {}
  void AddLine(const std::string& line) override { dialog_.AddLine("%s", line.c_str()); }
  void SetProgress(float fraction) override { dialog_.SetProgress(fraction); }
  bool StopRequested() override { return dialog_.Thread().QuitRequested(); }

 private:
  CDlgProgress& dialog_;
};

// The folder of a path ("" when it names none).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

CPlaceNameTree::CPlaceNameTree()
    : host_(std::make_unique<CPanelHost>(*this, [this](NMHDR* hdr) { return OnReflectedNotify(hdr); })) {}

CPlaceNameTree::~CPlaceNameTree() {
  if (host_) host_->DestroyWindow();
  DestroyWindow();
}

bool CPlaceNameTree::CreatePanel(CWnd* parent) {
  return host_->CreatePanel(parent, kPanelId, kPanelName, kTreeId);
}

int CPlaceNameTree::OnCreate() {
  if (!OpenDatabase()) AppLog("the place-name tree stays empty: its database cannot be opened");
  // The index fills the first two levels at once; without it (or when it is damaged, or the
  // database is new) they come from the database and the index is written again.
  std::vector<PlaceIndexGroup> groups;
  const bool fresh = IsNewDatabase();
  if (!fresh && LoadPlaceIndex(IndexPath(), &groups) == ArchiveLoad::kOk) {
    ClearItems();
    for (const PlaceIndexGroup& group : groups) {
      const HTREEITEM top = AddPlaceItem(group.top, TVI_ROOT);
      for (const PlaceRecord& child : group.children) AddPlaceItem(child, top);
    }
    filled_from_index_ = true;
  } else {
    FillTree();
    filled_from_index_ = false;
  }
  return 0;
}

void CPlaceNameTree::OnDestroy() { ClearItems(); }

void CPlaceNameTree::ClearItems() {
  DeleteAllItems();
  records_.clear();
  loaded_.clear();
}

HTREEITEM CPlaceNameTree::AddPlaceItem(const PlaceRecord& record, HTREEITEM parent) {
  records_.push_back(record);
  const HTREEITEM item = InsertItem(record.name, parent, TVI_LAST);
  if (item) SetItemData(item, reinterpret_cast<uintptr_t>(&records_.back()));
  return item;
}

const PlaceRecord* CPlaceNameTree::RecordOf(HTREEITEM item) const {
  return item && ItemExists(item) ? reinterpret_cast<const PlaceRecord*>(GetItemData(item)) : nullptr;
}

HTREEITEM CPlaceNameTree::FindChild(HTREEITEM parent, const std::string& name) const { return FindChildItem(parent, name); }

void CPlaceNameTree::FillTree() {
  CWaitCursor wait;
  ClearItems();
  if (!IsOpen()) return;
  std::vector<PlaceIndexGroup> groups;
  for (PlaceRecord& province : Provinces()) {
    PlaceIndexGroup group;
    group.top = std::move(province);
    for (PlaceRecord& child : ChildrenOf(group.top.id))
      if (IsPlaceLevel(child.type)) group.children.push_back(std::move(child));
    const HTREEITEM top = AddPlaceItem(group.top, TVI_ROOT);
    for (const PlaceRecord& child : group.children) AddPlaceItem(child, top);
    groups.push_back(std::move(group));
  }
  std::string error;
  if (!SavePlaceIndex(IndexPath(), groups, &error)) AppLog("place-name index: %s", error.c_str());
}

LRESULT CPlaceNameTree::OnReflectedNotify(NMHDR* hdr) {
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
    default:
      return 0;
  }
}

void CPlaceNameTree::OnSelChanged(HTREEITEM item) {
  const PlaceRecord* record = RecordOf(item);
  if (!record || ItemHasChildren(item) || loaded_.count(item)) return;
  loaded_.insert(item);
  CWaitCursor wait;
  std::vector<PlaceRecord> children;
  // The levels below each level: a provincial capital's and a county-level city's towns, a city's
  // county-level cities and counties, otherwise the next level.
  switch (record->type) {
    case kPlaceCapital:
    case kPlaceCountyCity:
      children = PlacesInBox({kPlaceTown}, record->west, record->east, record->south, record->north);
      break;
    case kPlaceCity:
      children = PlacesInBox({kPlaceCountyCity, kPlaceCounty}, record->west, record->east, record->south, record->north);
      break;
    default:
      if (IsPlaceLevel(record->type + 1))
        children = PlacesInBox({record->type + 1}, record->west, record->east, record->south, record->north);
      break;
  }
  for (const PlaceRecord& child : children) AddPlaceItem(child, item);
  if (!children.empty()) Expand(item, TVE_EXPAND);
}

void CPlaceNameTree::OnDoubleClick() {
  const PlaceRecord* record = RecordOf(GetSelectedItem());
  // A place without a position ((0, 0): none was read) is not a place to go to.
  if (record && record->HasPosition()) JumpCurrentView(record->lng, record->lat, 0);
}

void CPlaceNameTree::OnContextMenu() {
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, ID_IMPORT_FOLDER, "导入");
  menu.AppendMenu(MF_STRING, ID_IMPORT_FILE, "导入文件");
  switch (static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this))) {
    case ID_IMPORT_FOLDER: OnImport(); break;
    case ID_IMPORT_FILE: OnImportFile(); break;
    default: break;
  }
}

void CPlaceNameTree::OnImport() {
  const std::string last = ProgramSettings().GetString(kImportPathKey, "");
  std::string folder;
  if (!BrowseForFolder(kImportTitle, FolderOf(last), &folder, this)) return;
  ImportPath(folder);
}

void CPlaceNameTree::OnImportFile() {
  CFileDialog dialog(true, "kml", ProgramSettings().GetString(kImportPathKey, ""), OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                     "kml file(*.kml)|*.kml||", this);
  if (dialog.DoModal() != IDOK || dialog.GetPathName().empty()) return;
  ProgramSettings().SetString(kImportPathKey, dialog.GetPathName());
  ImportPath(dialog.GetPathName());
}

PlaceImportResult CPlaceNameTree::ImportPath(const std::string& path) {
  PlaceImportResult result;
  {
    CDlgProgress dialog(kImportTitle, this);
    CProgressSink sink(dialog);
    if (!dialog.StartThread("ImportAddrName", [this, &path, &sink, &result] { result = ImportPlaceNameKml(*this, path, sink); })) {
      AppLog("the place-name import could not start");
      return result;
    }
    dialog.DoModal();
    // Cancel stops the worker; a worker that closed the dialog itself ends at once.
    StopWorkerPumping(dialog.Thread());
  }
  AppLog("place-name import of %s: %d files, %d places, %d files passed over, %d failed%s", path.c_str(), result.files,
         result.places, result.files_skipped, result.files_failed, result.stopped ? ", stopped" : "");
  FillTree();
  return result;
}

}  // namespace velmora
