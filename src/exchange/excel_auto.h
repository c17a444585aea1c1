// CExcelAuto: the spreadsheet the exports fill and the imports read, in place of driving a
// spreadsheet program: open a workbook (.xlsx or .xls) or start a new one, read the first
// sheet's used range cell by cell, write cells, save as .xlsx.
#pragma once
#include <string>
#include <string_view>

#include "exchange/spreadsheet.h"

namespace velmora {

class CExcelAuto {
 public:
  // An empty path starts a new workbook of one empty sheet; otherwise the workbook at `path` is
  // read. False (reason in LastError()) when it cannot be read: the object then holds an empty
  // workbook, and that file is never written by Save (saving over a workbook that could not be
  // read would lose it).
  bool Open(const std::string& path = {});

  // The used range of the first sheet counted from A1: one past the last row and column that
  // hold a cell.
  int GetRowCount() const;
  int GetColumnCount() const;
  // The text of the cell at 0-based (row, column): text as it is, numbers as the shortest
  // decimal that reads back the same ("120.5", "3"), TRUE/FALSE; "" for an empty cell or a
  // position outside the sheet.
  std::string GetData(int row, int column) const;
  // Writes a cell of the first sheet: a text that is a plain decimal number (as the exports
  // write longitudes, latitudes and heights) becomes a number, any other text stays text (codes
  // with leading zeros included); an empty text empties the cell. False outside the sheet.
  bool SetData(int row, int column, std::string_view text);
  bool SetNumber(int row, int column, double value);

  // Writes the workbook as .xlsx, atomically. A path ending in ".xls" is saved with the
  // extension ".xlsx" instead (the older format is read, not written); the path written is in
  // *saved_path. False (reason in LastError()) when it cannot be written.
  bool Save(const std::string& path, std::string* saved_path = nullptr);

  const std::string& LastError() const { return error_; }
  const Workbook& GetWorkbook() const { return workbook_; }

 private:
  Sheet& First();
  Workbook workbook_;
  std::string unreadable_;  // a file that Open could not read
  std::string error_;
};

}  // namespace velmora
