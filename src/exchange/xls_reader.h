// Reading the older Excel workbooks (.xls, Excel 97 to 2003): the compound file container and
// the BIFF8 records of the workbook stream (sheet list, shared strings, cell values, cached
// formula results). Every sector number, chain, record length and string length is checked
// against the bytes at hand before it is used.
#pragma once
#include <string>
#include <string_view>

#include "exchange/spreadsheet.h"

namespace velmora {

// Reads a BIFF8 workbook from memory into `out`. False (reason in *error) for anything else:
// another container, a damaged one, an older BIFF version, an encrypted workbook, limits
// broken. Dates come back as the serial numbers Excel stores.
bool ReadXls(std::string_view bytes, Workbook* out, std::string* error, const SpreadsheetLimits& limits);

}  // namespace velmora
