// Workbook model, .xlsx reader (libzip + pugixml) and .xlsx writer (libxlsxwriter); the .xls
// reader is in xls_reader.cpp.
#include "exchange/spreadsheet.h"

#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <pugixml.hpp>
#include <set>

#include "core/format.h"
#include "exchange/xls_reader.h"
#include "exchange/xml_text.h"
#include "platform/fs.h"

namespace velmora {
namespace {

uint64_t CellKey(uint32_t row, uint32_t column) { return (uint64_t{row} << 16) | column; }

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// ---- .xlsx ------------------------------------------------------------------------------------

class ZipArchive {
 public:
  ~ZipArchive() {
    if (zip_) zip_discard(zip_);
  }
  bool Open(std::string_view bytes, std::string* error) {
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &ze);
    if (!src) {
      zip_error_fini(&ze);
      return Fail(error, "cannot read the archive");
    }
    zip_ = zip_open_from_source(src, ZIP_RDONLY, &ze);
    if (!zip_) {
      zip_source_free(src);
      std::string why = std::string("not a spreadsheet archive: ") + zip_error_strerror(&ze);
      zip_error_fini(&ze);
      return Fail(error, why);
    }
    zip_error_fini(&ze);
    return true;
  }
  // The unpacked member; false with *missing set when the archive has no such member.
  bool Read(const std::string& name, size_t limit, std::string* out, bool* missing, std::string* error) {
    *missing = false;
    zip_int64_t index = zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
    if (index < 0) {
      *missing = true;
      return Fail(error, name + ": missing");
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &st) != 0) return Fail(error, name + ": unreadable");
    if ((st.valid & ZIP_STAT_SIZE) && st.size > limit) return Fail(error, name + ": too large");
    zip_file_t* f = zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0);
    if (!f) return Fail(error, name + ": cannot be unpacked");
    out->clear();
    char buf[65536];
    for (;;) {
      zip_int64_t n = zip_fread(f, buf, sizeof buf);
      if (n < 0) {
        zip_fclose(f);
        return Fail(error, name + ": damaged");
      }
      if (n == 0) break;
      if (out->size() + static_cast<size_t>(n) > limit) {
        zip_fclose(f);
        return Fail(error, name + ": too large");
      }
      out->append(buf, static_cast<size_t>(n));
    }
    if (zip_fclose(f) != 0) return Fail(error, name + ": damaged");
    return true;
  }

 private:
  zip_t* zip_ = nullptr;
};

bool ParseXml(const std::string& text, pugi::xml_document* doc, const std::string& name, std::string* error) {
  // No document type processing: entity declarations (and so entity expansion) are not read.
  pugi::xml_parse_result r = doc->load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata);
  if (!r) return Fail(error, name + ": " + r.description());
  return true;
}

// Element names without their namespace prefix.
bool Is(const pugi::xml_node& n, const char* local) {
  const char* name = n.name();
  const char* colon = std::strrchr(name, ':');
  return std::strcmp(colon ? colon + 1 : name, local) == 0;
}
pugi::xml_node Child(const pugi::xml_node& n, const char* local) {
  for (pugi::xml_node c : n.children())
    if (Is(c, local)) return c;
  return {};
}
// An attribute by local name ("r:id" is found as "id" with any prefix).
const char* Attr(const pugi::xml_node& n, const char* local) {
  for (pugi::xml_attribute a : n.attributes()) {
    const char* name = a.name();
    const char* colon = std::strrchr(name, ':');
    if (std::strcmp(colon ? colon + 1 : name, local) == 0) return a.value();
  }
  return nullptr;
}

// OOXML writes characters XML cannot hold as "_xHHHH_".
std::string DecodeOoxmlEscapes(std::string text) {
  if (text.find("_x") == std::string::npos) return text;
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (i + 7 <= text.size() && text[i] == '_' && text[i + 1] == 'x' && text[i + 6] == '_') {
      unsigned v = 0;
      auto [end, ec] = std::from_chars(text.data() + i + 2, text.data() + i + 6, v, 16);
      if (ec == std::errc() && end == text.data() + i + 6) {
        AppendUtf8(out, v >= 0xD800 && v <= 0xDFFF ? 0xFFFD : v);
        i += 7;
        continue;
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

// The text of a shared or inline string: its <t>, or the <t> of each run (phonetic runs left out).
std::string StringItem(const pugi::xml_node& si) {
  std::string text;
  for (pugi::xml_node c : si.children()) {
    if (Is(c, "t")) text += c.text().get();
    else if (Is(c, "r"))
      if (pugi::xml_node t = Child(c, "t")) text += t.text().get();
  }
  return DecodeOoxmlEscapes(std::move(text));
}

// "B12" -> row 11, column 1.
bool ParseCellRef(const char* ref, uint32_t* row, uint32_t* column) {
  uint32_t col = 0, r = 0;
  size_t i = 0;
  for (; ref[i] >= 'A' && ref[i] <= 'Z'; ++i) {
    if (i >= 3) return false;
    col = col * 26 + static_cast<uint32_t>(ref[i] - 'A' + 1);
  }
  if (i == 0) return false;
  size_t digits = 0;
  for (; ref[i] >= '0' && ref[i] <= '9'; ++i, ++digits) {
    if (digits >= 7) return false;
    r = r * 10 + static_cast<uint32_t>(ref[i] - '0');
  }
  if (ref[i] != 0 || digits == 0 || r == 0 || col > Sheet::kMaxColumns || r > Sheet::kMaxRows) return false;
  *row = r - 1;
  *column = col - 1;
  return true;
}

std::string MemberPath(const char* target) {
  std::string t = target ? target : "";
  if (!t.empty() && t[0] == '/') return t.substr(1);
  return "xl/" + t;
}

bool ReadSheetXml(const pugi::xml_document& doc, const std::vector<std::string>& shared, Sheet* sheet,
                  size_t* cells_left, const std::string& member, std::string* error) {
  pugi::xml_node data = Child(Child(doc, "worksheet"), "sheetData");
  uint32_t next_row = 0;
  for (pugi::xml_node row : data.children()) {
    if (!Is(row, "row")) continue;
    uint32_t r = next_row;
    if (const char* rr = Attr(row, "r")) {
      auto n = ParseInt(rr);
      if (!n || *n < 1 || *n > Sheet::kMaxRows) return Fail(error, member + ": bad row number");
      r = static_cast<uint32_t>(*n - 1);
    }
    next_row = r + 1;
    uint32_t next_col = 0;
    for (pugi::xml_node c : row.children()) {
      if (!Is(c, "c")) continue;
      uint32_t cr = r, cc = next_col;
      if (const char* ref = Attr(c, "r")) {
        if (!ParseCellRef(ref, &cr, &cc)) return Fail(error, member + ": bad cell reference");
      }
      if (cc >= Sheet::kMaxColumns) return Fail(error, member + ": too many columns");
      next_col = cc + 1;
      const char* type = Attr(c, "t");
      std::string t = type ? type : "n";
      pugi::xml_node v = Child(c, "v");
      SheetCell cell;
      if (pugi::xml_node f = Child(c, "f")) cell.formula = f.text().get();
      if (t == "s") {
        auto index = ParseInt(v.text().get());
        if (!index || *index < 0 || static_cast<size_t>(*index) >= shared.size())
          return Fail(error, member + ": shared string out of range");
        cell.text = shared[static_cast<size_t>(*index)];
      } else if (t == "inlineStr") {
        cell.text = StringItem(Child(c, "is"));
      } else if (t == "str") {
        cell.text = DecodeOoxmlEscapes(v.text().get());
      } else if (t == "b") {
        cell.kind = SheetCell::Kind::kBool;
        cell.number = std::strcmp(v.text().get(), "1") == 0 ? 1 : 0;
        cell.text = cell.number != 0 ? "TRUE" : "FALSE";
      } else if (t == "e") {
        cell.kind = SheetCell::Kind::kError;
        cell.text = v.text().get();
      } else {
        if (!v) continue;  // a cell with a style and no value is empty
        auto number = ParseDouble(v.text().get());
        if (!number) return Fail(error, member + ": bad number");
        cell.kind = SheetCell::Kind::kNumber;
        cell.number = *number;
      }
      if (*cells_left == 0) return Fail(error, "too many cells");
      --*cells_left;
      sheet->Set(cr, cc, std::move(cell));
    }
  }
  return true;
}

bool ReadXlsx(std::string_view bytes, Workbook* out, std::string* error, const SpreadsheetLimits& limits) {
  ZipArchive zip;
  if (!zip.Open(bytes, error)) return false;
  std::string text;
  bool missing = false;
  pugi::xml_document workbook, rels;
  if (!zip.Read("xl/workbook.xml", limits.max_member_bytes, &text, &missing, error) ||
      !ParseXml(text, &workbook, "xl/workbook.xml", error))
    return false;
  std::map<std::string, std::string> targets;
  if (zip.Read("xl/_rels/workbook.xml.rels", limits.max_member_bytes, &text, &missing, error)) {
    if (!ParseXml(text, &rels, "xl/_rels/workbook.xml.rels", error)) return false;
    for (pugi::xml_node r : Child(rels, "Relationships").children())
      if (Is(r, "Relationship") && Attr(r, "Id")) targets[Attr(r, "Id")] = MemberPath(Attr(r, "Target"));
  } else if (!missing) {
    return false;
  }
  std::vector<std::string> shared;
  if (zip.Read("xl/sharedStrings.xml", limits.max_member_bytes, &text, &missing, error)) {
    pugi::xml_document sst;
    if (!ParseXml(text, &sst, "xl/sharedStrings.xml", error)) return false;
    for (pugi::xml_node si : Child(sst, "sst").children())
      if (Is(si, "si")) shared.push_back(StringItem(si));
  } else if (!missing) {
    return false;
  }
  size_t cells_left = limits.max_cells;
  int number = 0;
  for (pugi::xml_node s : Child(Child(workbook, "workbook"), "sheets").children()) {
    if (!Is(s, "sheet")) continue;
    ++number;
    if (out->sheets.size() >= limits.max_sheets) return Fail(error, "too many sheets");
    const char* id = Attr(s, "id");
    std::string member = id && targets.count(id) ? targets[id] : FormatC("xl/worksheets/sheet%d.xml", number);
    pugi::xml_document doc;
    if (!zip.Read(member, limits.max_member_bytes, &text, &missing, error) || !ParseXml(text, &doc, member, error))
      return false;
    Sheet sheet;
    sheet.name = SanitizeXmlText(Attr(s, "name") ? Attr(s, "name") : "");
    if (!ReadSheetXml(doc, shared, &sheet, &cells_left, member, error)) return false;
    out->sheets.push_back(std::move(sheet));
  }
  if (out->sheets.empty()) return Fail(error, "the workbook lists no sheet");
  return true;
}

bool IsXls(std::string_view bytes) { return bytes.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8); }
bool IsZip(std::string_view bytes) { return bytes.substr(0, 4) == std::string_view("PK\x03\x04", 4); }

// ---- writing ----------------------------------------------------------------------------------

// Excel's rules: at most 31 characters, none of []:*?/\, not empty, unique (case-insensitive).
std::string SheetName(const std::string& wanted, int number, std::set<std::string>* used) {
  std::string name;
  size_t chars = 0, pos = 0;
  std::string clean = SanitizeXmlText(wanted);
  while (pos < clean.size() && chars < 31) {
    char32_t c = NextUtf8(clean, &pos);
    if (c < 0x20 || std::u32string_view(U"[]:*?/\\").find(c) != std::u32string_view::npos) c = '_';
    AppendUtf8(name, c);
    ++chars;
  }
  if (!name.empty() && name.front() == '\'') name.front() = '_';
  if (!name.empty() && name.back() == '\'') name.back() = '_';
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  if (name.empty() || used->count(lower(name))) {
    for (int n = number;; ++n) {
      std::string candidate = FormatC("Sheet%d", n);
      if (!used->count(lower(candidate))) {
        name = candidate;
        break;
      }
    }
  }
  used->insert(lower(name));
  return name;
}

// At most Excel's 32,767 characters of XML-clean text.
std::string CellText(const std::string& text) {
  std::string clean = SanitizeXmlText(text);
  size_t pos = 0, chars = 0;
  while (pos < clean.size() && chars < 32767) {
    NextUtf8(clean, &pos);
    ++chars;
  }
  clean.resize(pos);
  return clean;
}

}  // namespace

std::string FormatCellNumber(double value) {
  if (!std::isfinite(value)) return "#NUM!";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, ec == std::errc() ? end : buf);
}

const SheetCell* Sheet::Find(uint32_t row, uint32_t column) const {
  auto it = cells_.find(CellKey(row, column));
  return it == cells_.end() ? nullptr : &it->second;
}

bool Sheet::Set(uint32_t row, uint32_t column, SheetCell cell) {
  if (row >= kMaxRows || column >= kMaxColumns) return false;
  cells_[CellKey(row, column)] = std::move(cell);
  rows_ = std::max(rows_, row + 1);
  columns_ = std::max(columns_, column + 1);
  return true;
}

void Sheet::Erase(uint32_t row, uint32_t column) {
  if (cells_.erase(CellKey(row, column))) Recount();
}

void Sheet::Recount() {
  rows_ = columns_ = 0;
  for (const auto& [key, cell] : cells_) {
    rows_ = std::max(rows_, RowOf(key) + 1);
    columns_ = std::max(columns_, ColumnOf(key) + 1);
  }
}

std::string Sheet::Text(uint32_t row, uint32_t column) const {
  const SheetCell* c = Find(row, column);
  if (!c) return {};
  return c->kind == SheetCell::Kind::kNumber ? FormatCellNumber(c->number) : c->text;
}

bool ReadSpreadsheet(std::string_view bytes, Workbook* out, std::string* error, const SpreadsheetLimits& limits) {
  *out = Workbook{};
  bool ok = false;
  if (bytes.size() > limits.max_file_bytes) ok = Fail(error, "file too large");
  else if (IsZip(bytes)) ok = ReadXlsx(bytes, out, error, limits);
  else if (IsXls(bytes)) ok = ReadXls(bytes, out, error, limits);
  else ok = Fail(error, "not an .xlsx or .xls workbook");
  if (!ok) *out = Workbook{};
  return ok;
}

bool ReadSpreadsheetFile(const std::string& path, Workbook* out, std::string* error,
                         const SpreadsheetLimits& limits) {
  *out = Workbook{};
  std::string why;
  auto bytes = ReadFileBytes(path, &why);
  if (!bytes) return Fail(error, why);
  std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  if (!ReadSpreadsheet(view, out, &why, limits)) return Fail(error, path + ": " + why);
  return true;
}

bool WriteXlsxFile(const Workbook& workbook, const std::string& path, std::string* error) {
  // libxlsxwriter writes a file of its own: a temporary one beside the target, whose bytes then
  // replace the target atomically.
  static std::atomic<unsigned> serial{0};
  std::filesystem::path target(path);
  std::string name(1, '.');
  name.append(target.filename().string());
  name.append(FormatC(".xlsx%d-%u", static_cast<int>(::getpid()), serial++));
  const std::string tmp = (target.parent_path() / name).string();
  lxw_workbook_options options{};
  options.constant_memory = LXW_FALSE;
  lxw_workbook* wb = workbook_new_opt(tmp.c_str(), &options);
  if (!wb) return Fail(error, path + ": cannot create the workbook");
  std::set<std::string> used;
  std::vector<Sheet> empty(1);
  const std::vector<Sheet>& sheets = workbook.sheets.empty() ? empty : workbook.sheets;
  lxw_error failure = LXW_NO_ERROR;
  int number = 1;
  for (const Sheet& sheet : sheets) {
    std::string name = SheetName(sheet.name, number++, &used);
    lxw_worksheet* ws = workbook_add_worksheet(wb, name.c_str());
    if (!ws) ws = workbook_add_worksheet(wb, nullptr);
    if (!ws) {
      failure = LXW_ERROR_MEMORY_MALLOC_FAILED;
      break;
    }
    for (const auto& [key, cell] : sheet.Cells()) {
      const lxw_row_t r = Sheet::RowOf(key);
      const lxw_col_t c = static_cast<lxw_col_t>(Sheet::ColumnOf(key));
      lxw_error e = LXW_NO_ERROR;
      switch (cell.kind) {
        case SheetCell::Kind::kNumber:
          if (!cell.formula.empty()) e = worksheet_write_formula_num(ws, r, c, CellText(cell.formula).c_str(), nullptr, cell.number);
          else if (std::isfinite(cell.number)) e = worksheet_write_number(ws, r, c, cell.number, nullptr);
          else e = worksheet_write_string(ws, r, c, "#NUM!", nullptr);
          break;
        case SheetCell::Kind::kBool: e = worksheet_write_boolean(ws, r, c, cell.number != 0, nullptr); break;
        case SheetCell::Kind::kError:
        case SheetCell::Kind::kText:
          if (!cell.text.empty()) e = worksheet_write_string(ws, r, c, CellText(cell.text).c_str(), nullptr);
          break;
      }
      if (e != LXW_NO_ERROR && failure == LXW_NO_ERROR) failure = e;
    }
  }
  lxw_error closed = workbook_close(wb);
  if (failure == LXW_NO_ERROR) failure = closed;
  bool ok = failure == LXW_NO_ERROR;
  std::string why;
  if (ok) {
    auto bytes = ReadFileBytes(tmp, &why);
    ok = bytes && WriteFileAtomic(path, *bytes, &why);
  } else {
    why = path + ": " + lxw_strerror(failure);
  }
  std::error_code ec;
  std::filesystem::remove(tmp, ec);
  return ok || Fail(error, why);
}

}  // namespace velmora
