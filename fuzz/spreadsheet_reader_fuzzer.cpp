// Fuzz entry point of the spreadsheet reader (.xlsx through libzip and pugixml, .xls through
// freexl): any bytes must read or fail cleanly, and a workbook that reads must be writable.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "exchange/spreadsheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  SpreadsheetLimits limits;
  limits.max_member_bytes = 4 << 20;
  limits.max_cells = 1 << 16;
  Workbook workbook;
  std::string error;
  if (!ReadSpreadsheet(std::string_view(reinterpret_cast<const char*>(data), size), &workbook, &error, limits))
    return 0;
  for (const Sheet& sheet : workbook.sheets)
    for (uint32_t r = 0; r < sheet.RowCount() && r < 4; ++r)
      for (uint32_t c = 0; c < sheet.ColumnCount() && c < 4; ++c) (void)sheet.Text(r, c);
  // What reads can be written again, and reads back with as many sheets.
  char path[] = "/tmp/velmora-fuzz-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return 0;
  close(fd);
  if (!WriteXlsxFile(workbook, path, &error)) __builtin_trap();
  Workbook again;
  if (!ReadSpreadsheetFile(path, &again, &error) || again.sheets.size() != workbook.sheets.size()) __builtin_trap();
  std::remove(path);
  return 0;
}
