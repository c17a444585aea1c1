// CCoordList: the list of points (columns 序号, 经度, 纬度, 海拔) that shows the point vector its
// owner hands it, one virtual row per point, and exports it to a text file, a CSV file or a
// spreadsheet. Longitudes and latitudes show and export in the global coordinate format (decimal
// degrees or degrees-minutes-seconds); heights with three decimals in files.
//
// The list takes its own right click (as a list reflects NM_RCLICK): a menu with "导出..." opens
// the save dialog.
#pragma once
#include <string>
#include <vector>

#include "core/settings.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

class CCoordList : public CListCtrlEx {
 public:
  static constexpr UINT kIdExport = 0xE103;  // "导出..." of the list's menu
  static constexpr const char* kFilter =
      "文本文件 (*.txt)|*.txt|CSV 文件 (*.csv)|*.csv|Excel 文件 (*.xlsx;*.xls)|*.xlsx;*.xls||";
  static constexpr const char* kCannotCreate = "无法创建文件";
  // The header line of text exports, as the elevation tools write and read it.
  static constexpr const char* kTextHeader = ";经度        \t纬度        \t高度\n";

  CCoordList();

  // The owner's points: x longitude, y latitude, z height in metres. The vector must outlive
  // the list's window (or be replaced); null empties the list. Refresh after changing it.
  void SetPoints(const std::vector<Point3D>* points);
  const std::vector<Point3D>* Points() const { return points_; }
  void Refresh();

  // The text of a row's column, as the list shows it.
  std::string ItemText(int item, int sub_item) const;

  // Exports by the file's extension: "txt" (and anything else) as text, "csv", "xls"/"xlsx" as
  // a spreadsheet (an ".xls" name is written as ".xlsx"). Text files are GBK, as the program's
  // other point files; each file is written whole and atomically. False (and *error) when it
  // cannot be written. *written receives the path written.
  bool ExportFile(const std::string& path, std::string* written = nullptr, std::string* error = nullptr) const;
  // The three formats.
  std::string TextExport() const;
  std::string CsvExport() const;
  bool ExportExcel(const std::string& path, std::string* written, std::string* error) const;

  // "导出...": the save dialog (text, CSV or spreadsheet), then ExportFile; a failure shows
  // kCannotCreate.
  void OnExport();
  // The list's menu at a screen point.
  void ShowContextMenu(POINT screen_point);

 protected:
  void PreSubclassWindow() override;
  int OnCreate() override;

 private:
  void SetUp();
  std::string Coordinate(double value, bool dms) const;
  const std::vector<Point3D>* points_ = nullptr;
};

}  // namespace velmora
