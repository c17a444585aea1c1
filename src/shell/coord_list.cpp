// The point list and its exports.
#include "shell/coord_list.h"

#include <cmath>

#include "core/format.h"
#include "core/log.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "terrain/dem_files.h"

namespace velmora {
namespace {

bool UseDms() { return AppOptions().coord_format == 1; }

}  // namespace

CCoordList::CCoordList() {
  SetDisplayCallbacks([this](int item, int sub_item) { return ItemText(item, sub_item); });
  MapCommand(kIdExport, [this] { OnExport(); });
}

void CCoordList::SetUp() {
  if (GetColumnCount() == 0) {
    InsertColumn(0, "序号", LVCFMT_LEFT, 50);
    InsertColumn(1, "经度", LVCFMT_LEFT, 110);
    InsertColumn(2, "纬度", LVCFMT_LEFT, 110);
    InsertColumn(3, "海拔", LVCFMT_LEFT, 70);
  }
  Refresh();
  // The list answers its own right click, whatever the dialog around it maps. The handler
  // finds the list again by id, so a list destroyed before its dialog is never called.
  if (CWnd* parent = GetParent()) {
    const int id = GetDlgCtrlID();
    parent->MapNotify(static_cast<UINT>(id), NM_RCLICK, [parent, id](NMHDR* hdr) -> LRESULT {
      if (auto* list = dynamic_cast<CCoordList*>(parent->GetDlgItem(id)))
        list->ShowContextMenu(reinterpret_cast<NMITEMACTIVATE*>(hdr)->ptAction);
      return 0;
    });
  }
}

void CCoordList::PreSubclassWindow() {
  CListCtrlEx::PreSubclassWindow();
  SetUp();
}

int CCoordList::OnCreate() {
  // Created directly (not from a template): the same looks and columns.
  SetExtendedStyle(GetExtendedStyle() | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  SetUp();
  return CListCtrlEx::OnCreate();
}

void CCoordList::SetPoints(const std::vector<Point3D>* points) {
  points_ = points;
  Refresh();
}

void CCoordList::Refresh() {
  size_t n = points_ ? points_->size() : 0;
  SetItemCountEx(n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(n));
  Invalidate();
}

std::string CCoordList::Coordinate(double value, bool dms) const {
  return dms ? FormatDms(value) : FormatFixed(value, 6);
}

std::string CCoordList::ItemText(int item, int sub_item) const {
  if (!points_ || item < 0 || static_cast<size_t>(item) >= points_->size()) return {};
  const Point3D& p = (*points_)[static_cast<size_t>(item)];
  switch (sub_item) {
    case 0: return std::to_string(item + 1);
    case 1: return Coordinate(p.x, UseDms());
    case 2: return Coordinate(p.y, UseDms());
    case 3: return FormatFixed(p.z, 2);
    default: return {};
  }
}

// The point files are the elevation tools' own formats (terrain/dem_files.h).
std::string CCoordList::TextExport() const {
  return points_ ? FormatPointsText(*points_, UseDms() ? 1 : 0) : std::string(kTextHeader);
}

std::string CCoordList::CsvExport() const { return points_ ? FormatPointsCsv(*points_, UseDms() ? 1 : 0) : std::string(); }

bool CCoordList::ExportExcel(const std::string& path, std::string* written, std::string* error) const {
  static const std::vector<Point3D> kNone;
  return velmora::ExportExcel(path, points_ ? *points_ : kNone, UseDms() ? 1 : 0, written, error);
}

bool CCoordList::ExportFile(const std::string& path, std::string* written, std::string* error) const {
  std::string ext = GetFileExtLower(path);
  if (ext == "xls" || ext == "xlsx") return ExportExcel(path, written, error);
  std::string text = Utf8ToAnsi(ext == "csv" ? CsvExport() : TextExport());
  if (!WriteFileAtomic(path, text.data(), text.size(), error)) return false;
  if (written) *written = path;
  return true;
}

void CCoordList::OnExport() {
  CFileDialog dialog(false, "", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kFilter, this);
  if (dialog.DoModal() != IDOK) return;
  std::string path = dialog.GetPathName();
  // The type follows the chosen filter when the name has no extension of its own.
  if (GetFileExtLower(path).empty()) path += dialog.GetFilterIndex() == 2 ? ".csv" : dialog.GetFilterIndex() == 3 ? ".xlsx" : ".txt";
  std::string written, error;
  if (!ExportFile(path, &written, &error)) {
    AppLog("point export %s: %s", path.c_str(), error.c_str());
    MessageBox(kCannotCreate, kAppTitle, MB_OK | MB_ICONERROR);
  }
}

void CCoordList::ShowContextMenu(POINT screen_point) {
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(points_ && !points_->empty() ? MF_STRING : MF_GRAYED, kIdExport, "导出...");
  UINT chosen = menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, screen_point.x, screen_point.y, this);
  if (chosen == kIdExport) OnExport();
}

}  // namespace velmora
