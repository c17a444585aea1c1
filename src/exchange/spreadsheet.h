// Spreadsheet files: a workbook of sheets of cells in memory, read from Office Open XML (.xlsx,
// through libzip and pugixml) and from the older Excel format (.xls, Excel 97-2003, our own
// reader: xls_reader.h), and written as .xlsx (through libxlsxwriter). The reader trusts nothing in the file: archive
// members, strings, cell counts and cell positions are bounded, and references to shared
// strings are checked.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct SheetCell {
  enum class Kind { kText, kNumber, kBool, kError };
  Kind kind = Kind::kText;
  std::string text;     // kText and kError: the text (UTF-8); kBool: "TRUE" or "FALSE"
  double number = 0;    // kNumber (also the value of a formula's result)
  std::string formula;  // the formula that gave the value, without "="; empty when none
};

// The shortest decimal text that reads back to the number (120.5 -> "120.5", 3 -> "3").
std::string FormatCellNumber(double value);

class Sheet {
 public:
  static constexpr uint32_t kMaxRows = 1048576;
  static constexpr uint32_t kMaxColumns = 16384;

  std::string name;

  // Cells are kept by position, so a sheet with one cell at its far corner stays small.
  const SheetCell* Find(uint32_t row, uint32_t column) const;
  // Creates or replaces a cell; false outside the sheet's limits.
  bool Set(uint32_t row, uint32_t column, SheetCell cell);
  void Erase(uint32_t row, uint32_t column);
  // The used range counted from A1: one past the last row and column that hold a cell.
  uint32_t RowCount() const { return rows_; }
  uint32_t ColumnCount() const { return columns_; }
  size_t CellCount() const { return cells_.size(); }
  // The text a cell shows: text, the number as FormatCellNumber writes it, TRUE/FALSE; "" when
  // empty.
  std::string Text(uint32_t row, uint32_t column) const;
  // Cells by row, then column.
  const std::map<uint64_t, SheetCell>& Cells() const { return cells_; }
  static uint32_t RowOf(uint64_t key) { return static_cast<uint32_t>(key >> 16); }
  static uint32_t ColumnOf(uint64_t key) { return static_cast<uint32_t>(key & 0xFFFF); }

 private:
  void Recount();
  std::map<uint64_t, SheetCell> cells_;
  uint32_t rows_ = 0;
  uint32_t columns_ = 0;
};

struct Workbook {
  std::vector<Sheet> sheets;
};

struct SpreadsheetLimits {
  size_t max_file_bytes = size_t(256) << 20;    // the file itself
  size_t max_member_bytes = size_t(256) << 20;  // one member of an .xlsx archive, unpacked
  size_t max_cells = size_t(16) << 20;          // cells of all sheets
  size_t max_sheets = 256;
};

// Reads an .xlsx or .xls workbook from memory (told apart by their first bytes). False (reason
// in *error) for anything else, a damaged or encrypted file, or a file beyond the limits.
bool ReadSpreadsheet(std::string_view bytes, Workbook* out, std::string* error = nullptr,
                     const SpreadsheetLimits& limits = {});
bool ReadSpreadsheetFile(const std::string& path, Workbook* out, std::string* error = nullptr,
                         const SpreadsheetLimits& limits = {});

// Writes the workbook as .xlsx to `path` atomically (the old file stays until the new one is
// complete). Texts are cleaned for XML and cut at Excel's 32,767 characters; sheet names are
// made valid and unique. A workbook without sheets gets one empty sheet.
bool WriteXlsxFile(const Workbook& workbook, const std::string& path, std::string* error = nullptr);

}  // namespace velmora
