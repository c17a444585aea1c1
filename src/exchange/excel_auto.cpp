// The spreadsheet exports and imports work on.
#include "exchange/excel_auto.h"

#include <filesystem>

#include "core/format.h"

namespace velmora {
namespace {

// A plain decimal number: sign, digits, one point, an exponent; no leading zero before another
// digit (postal codes and identifiers such as "007" stay text), no spaces, finite.
bool IsPlainNumber(std::string_view s, double* value) {
  if (s.empty() || s.size() > 64) return false;
  size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (i + 1 < s.size() && s[i] == '0' && s[i + 1] >= '0' && s[i + 1] <= '9') return false;
  for (char c : s)
    if (c == ' ' || c == '\t') return false;
  auto v = ParseDouble(s);
  if (!v) return false;
  *value = *v;
  return true;
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

}  // namespace

bool CExcelAuto::Open(const std::string& path) {
  workbook_ = Workbook{};
  unreadable_.clear();
  error_.clear();
  if (path.empty()) {
    workbook_.sheets.resize(1);
    return true;
  }
  if (!ReadSpreadsheetFile(path, &workbook_, &error_)) {
    workbook_ = Workbook{};
    workbook_.sheets.resize(1);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) unreadable_ = path;
    return false;
  }
  return true;
}

Sheet& CExcelAuto::First() {
  if (workbook_.sheets.empty()) workbook_.sheets.resize(1);
  return workbook_.sheets.front();
}

int CExcelAuto::GetRowCount() const {
  return workbook_.sheets.empty() ? 0 : static_cast<int>(workbook_.sheets.front().RowCount());
}

int CExcelAuto::GetColumnCount() const {
  return workbook_.sheets.empty() ? 0 : static_cast<int>(workbook_.sheets.front().ColumnCount());
}

std::string CExcelAuto::GetData(int row, int column) const {
  if (workbook_.sheets.empty() || row < 0 || column < 0) return {};
  return workbook_.sheets.front().Text(static_cast<uint32_t>(row), static_cast<uint32_t>(column));
}

bool CExcelAuto::SetData(int row, int column, std::string_view text) {
  if (row < 0 || column < 0 || static_cast<uint32_t>(row) >= Sheet::kMaxRows ||
      static_cast<uint32_t>(column) >= Sheet::kMaxColumns)
    return false;
  if (text.empty()) {
    First().Erase(static_cast<uint32_t>(row), static_cast<uint32_t>(column));
    return true;
  }
  SheetCell cell;
  double value = 0;
  if (IsPlainNumber(text, &value)) {
    cell.kind = SheetCell::Kind::kNumber;
    cell.number = value;
  } else {
    cell.text = std::string(text);
  }
  return First().Set(static_cast<uint32_t>(row), static_cast<uint32_t>(column), std::move(cell));
}

bool CExcelAuto::SetNumber(int row, int column, double value) {
  if (row < 0 || column < 0) return false;
  SheetCell cell;
  cell.kind = SheetCell::Kind::kNumber;
  cell.number = value;
  return First().Set(static_cast<uint32_t>(row), static_cast<uint32_t>(column), std::move(cell));
}

bool CExcelAuto::Save(const std::string& path, std::string* saved_path) {
  std::string target = path;
  if (GetFileExtLower(target) == "xls") target += "x";
  if (!unreadable_.empty() && (SamePath(target, unreadable_) || SamePath(path, unreadable_))) {
    error_ = unreadable_ + ": the workbook could not be read, so it is not written over";
    return false;
  }
  if (!WriteXlsxFile(workbook_, target, &error_)) return false;
  if (saved_path) *saved_path = target;
  return true;
}

}  // namespace velmora
