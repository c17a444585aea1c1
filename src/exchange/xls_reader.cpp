// .xls reader: compound file container (sectors, allocation tables, directory, mini stream)
// and BIFF8 workbook records.
#include "exchange/xls_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/format.h"
#include "exchange/xml_text.h"

namespace velmora {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr uint32_t kFreeSector = 0xFFFFFFFFu;

uint16_t U16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | (static_cast<uint8_t>(p[1]) << 8));
}
uint32_t U32(const char* p) { return uint32_t{U16(p)} | (uint32_t{U16(p + 2)} << 16); }
uint64_t U64(const char* p) { return uint64_t{U32(p)} | (uint64_t{U32(p + 4)} << 32); }
double F64(const char* p) {
  uint64_t bits = U64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// ---- compound file --------------------------------------------------------------------------

class CompoundFile {
 public:
  bool Open(std::string_view bytes, size_t max_stream, std::string* error) {
    b_ = bytes;
    max_stream_ = max_stream;
    if (b_.size() < 512 || b_.substr(0, 8) != std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
      return Fail(error, "not a compound file");
    if (U16(&b_[28]) != 0xFFFE) return Fail(error, "bad byte order mark");
    const uint16_t shift = U16(&b_[30]);
    if (shift != 9 && shift != 12) return Fail(error, "bad sector size");
    if (U16(&b_[32]) != 6 || U32(&b_[56]) != 4096) return Fail(error, "bad mini stream layout");
    sector_ = size_t{1} << shift;
    if (b_.size() <= sector_) return Fail(error, "no sectors");
    sectors_ = (b_.size() - sector_ + sector_ - 1) / sector_;
    const uint32_t fat_count = U32(&b_[44]);
    if (fat_count == 0 || fat_count > sectors_) return Fail(error, "bad allocation table size");

    // The allocation table's sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<uint32_t> fat_sectors;
    for (uint32_t i = 0; i < 109 && fat_sectors.size() < fat_count; ++i) fat_sectors.push_back(U32(&b_[76 + 4 * i]));
    uint32_t difat = U32(&b_[68]);
    for (size_t hops = 0; fat_sectors.size() < fat_count; ++hops) {
      if (difat == kEndOfChain || difat == kFreeSector || hops > sectors_) return Fail(error, "allocation table cut short");
      const char* s = Sector(difat);
      if (!s) return Fail(error, "bad sector number");
      for (size_t i = 0; i + 1 < sector_ / 4 && fat_sectors.size() < fat_count; ++i) fat_sectors.push_back(U32(s + 4 * i));
      difat = U32(s + sector_ - 4);
    }
    fat_.reserve(fat_sectors.size() * (sector_ / 4));
    for (uint32_t f : fat_sectors) {
      const char* s = Sector(f);
      if (!s) return Fail(error, "bad allocation table sector");
      for (size_t i = 0; i < sector_ / 4; ++i) fat_.push_back(U32(s + 4 * i));
    }

    std::string dir;
    if (!Chain(U32(&b_[48]), false, sectors_ * sector_, &dir, error)) return false;
    if (dir.size() < 128) return Fail(error, "no directory");
    dir_ = std::move(dir);
    // The root entry holds the mini stream; the mini allocation table has its own chain.
    const uint64_t root_size = EntrySize(0);
    if (dir_[66] != 5) return Fail(error, "no root entry");
    if (root_size > 0) {
      if (!Chain(EntryStart(0), false, max_stream_, &mini_stream_, error)) return false;
      if (mini_stream_.size() < root_size) return Fail(error, "mini stream cut short");
      mini_stream_.resize(root_size);
      std::string minifat;
      if (U32(&b_[64]) > 0) {
        if (!Chain(U32(&b_[60]), false, sectors_ * sector_, &minifat, error)) return false;
        for (size_t i = 0; i + 4 <= minifat.size(); i += 4) minifat_.push_back(U32(&minifat[i]));
      }
    }
    return true;
  }

  // The stream of that name (ASCII, any case); false when there is none or it is damaged.
  bool Stream(const char* name, std::string* out, std::string* error) {
    for (size_t e = 0; e + 128 <= dir_.size(); e += 128) {
      const size_t index = e / 128;
      if (dir_[e + 66] != 2) continue;
      const uint16_t bytes = U16(&dir_[e + 64]);
      if (bytes < 2 || bytes > 64) continue;
      std::string entry;
      for (size_t i = 0; i + 1 < bytes - 1u; i += 2) {
        uint16_t c = U16(&dir_[e + i]);
        entry.push_back(c < 128 ? static_cast<char>(std::tolower(c)) : '?');
      }
      std::string wanted = name;
      for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (entry != wanted) continue;
      const uint64_t size = EntrySize(index);
      if (size > max_stream_) return Fail(error, "stream too large");
      if (!Chain(EntryStart(index), size < 4096, size, out, error)) return false;
      if (out->size() < size) return Fail(error, "stream cut short");
      out->resize(size);
      return true;
    }
    return Fail(error, std::string("no ") + name + " stream");
  }

 private:
  const char* Sector(uint32_t s) const {
    if (s >= sectors_) return nullptr;
    const size_t at = (size_t{s} + 1) * sector_;
    if (at + sector_ > b_.size()) return nullptr;
    return b_.data() + at;
  }
  uint32_t EntryStart(size_t index) const { return U32(&dir_[index * 128 + 116]); }
  uint64_t EntrySize(size_t index) const {
    const uint64_t size = U64(&dir_[index * 128 + 120]);
    return sector_ == 512 ? (size & 0xFFFFFFFFu) : size;  // version 3 files leave the high half undefined
  }
  // Follows a chain through the allocation table (or the mini one), at most `limit` bytes.
  bool Chain(uint32_t start, bool mini, uint64_t limit, std::string* out, std::string* error) const {
    out->clear();
    const std::vector<uint32_t>& table = mini ? minifat_ : fat_;
    const size_t unit = mini ? 64 : sector_;
    uint32_t s = start;
    for (size_t hops = 0; s != kEndOfChain; ++hops) {
      if (s >= table.size() || hops > table.size()) return Fail(error, "broken sector chain");
      if (out->size() >= limit) break;
      if (mini) {
        const size_t at = size_t{s} * 64;
        if (at + 64 > mini_stream_.size()) return Fail(error, "mini sector outside the mini stream");
        out->append(mini_stream_, at, 64);
      } else {
        const char* p = Sector(s);
        if (!p) return Fail(error, "sector outside the file");
        out->append(p, unit);
      }
      s = table[s];
    }
    return true;
  }

  std::string_view b_;
  size_t max_stream_ = 0;
  size_t sector_ = 512;
  size_t sectors_ = 0;
  std::vector<uint32_t> fat_, minifat_;
  std::string dir_;
  std::string mini_stream_;
};

// ---- BIFF8 ----------------------------------------------------------------------------------

struct Record {
  uint16_t type = 0;
  std::string_view data;
  size_t offset = 0;
};

// A record's data and the CONTINUE records after it, read as one string of bytes whose
// segment borders matter (a character string crossing one gets a new flags byte).
class Segments {
 public:
  explicit Segments(std::vector<std::string_view> segs) : segs_(std::move(segs)) {}
  size_t LeftInSegment() const { return seg_ < segs_.size() ? segs_[seg_].size() - off_ : 0; }
  // Moves to the next segment when the current one is used up; false at the end.
  bool Ensure() {
    while (seg_ < segs_.size() && off_ >= segs_[seg_].size()) ++seg_, off_ = 0;
    return seg_ < segs_.size();
  }
  bool Bytes(size_t n, std::string* out) {
    out->clear();
    while (n > 0) {
      if (!Ensure()) return false;
      size_t take = std::min(n, LeftInSegment());
      out->append(segs_[seg_].substr(off_, take));
      off_ += take;
      n -= take;
    }
    return true;
  }
  bool Skip(size_t n) {
    while (n > 0) {
      if (!Ensure()) return false;
      size_t take = std::min(n, LeftInSegment());
      off_ += take;
      n -= take;
    }
    return true;
  }
  bool U8(uint8_t* v) {
    std::string b;
    if (!Bytes(1, &b)) return false;
    *v = static_cast<uint8_t>(b[0]);
    return true;
  }
  bool U16v(uint16_t* v) {
    std::string b;
    if (!Bytes(2, &b)) return false;
    *v = U16(b.data());
    return true;
  }
  bool U32v(uint32_t* v) {
    std::string b;
    if (!Bytes(4, &b)) return false;
    *v = U32(b.data());
    return true;
  }
  // `count` characters, 1 or 2 bytes each as the flags say; characters that go on in the next
  // segment follow a new flags byte there.
  bool Chars(uint16_t count, bool wide, std::string* utf8) {
    std::u16string text;
    for (;;) {
      const size_t width = wide ? 2 : 1;
      const size_t n = std::min<size_t>(count - text.size(), LeftInSegment() / width);
      if (n > 0) {
        std::string_view s = segs_[seg_].substr(off_, n * width);
        for (size_t i = 0; i < n; ++i)
          text.push_back(wide ? static_cast<char16_t>(U16(&s[2 * i])) : static_cast<char16_t>(static_cast<uint8_t>(s[i])));
        off_ += n * width;
      }
      if (text.size() == count) break;
      if (seg_ + 1 >= segs_.size()) return false;
      ++seg_;
      off_ = 0;
      if (segs_[seg_].empty()) return false;
      wide = static_cast<uint8_t>(segs_[seg_][0]) & 1;
      off_ = 1;
    }
    utf8->clear();
    for (size_t i = 0; i < text.size(); ++i) {
      char32_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = 0xFFFD;
      }
      AppendUtf8(*utf8, c);
    }
    *utf8 = SanitizeXmlText(*utf8);
    return true;
  }
  // An XLUnicodeRichExtendedString (shared strings) or, with `rich_ext` off, an XLUnicodeString.
  bool String(std::string* utf8, bool rich_ext = true) {
    uint16_t count = 0;
    uint8_t flags = 0;
    if (!U16v(&count) || !U8(&flags)) return false;
    uint16_t runs = 0;
    uint32_t ext = 0;
    if (rich_ext && (flags & 8) && !U16v(&runs)) return false;
    if (rich_ext && (flags & 4) && !U32v(&ext)) return false;
    if (!Chars(count, flags & 1, utf8)) return false;
    return Skip(size_t{runs} * 4) && Skip(ext);
  }

 private:
  std::vector<std::string_view> segs_;
  size_t seg_ = 0;
  size_t off_ = 0;
};

class Biff {
 public:
  explicit Biff(std::string_view s) : s_(s) {}
  bool Seek(size_t at) {
    if (at > s_.size()) return false;
    pos_ = at;
    return true;
  }
  // The next record; false at the end or for a record cut off (then *cut is set).
  bool Next(Record* r, bool* cut) {
    *cut = false;
    if (pos_ + 4 > s_.size()) return false;
    r->type = U16(&s_[pos_]);
    const uint16_t length = U16(&s_[pos_ + 2]);
    if (pos_ + 4 + length > s_.size()) {
      *cut = true;
      return false;
    }
    r->offset = pos_;
    r->data = s_.substr(pos_ + 4, length);
    pos_ += 4 + length;
    return true;
  }
  // The data of the record just read and the CONTINUE records that follow it.
  Segments WithContinues(const Record& first) {
    std::vector<std::string_view> segs = {first.data};
    Record r;
    bool cut = false;
    size_t before = pos_;
    while (Next(&r, &cut) && r.type == 0x003C) {
      segs.push_back(r.data);
      before = pos_;
    }
    pos_ = before;
    return Segments(std::move(segs));
  }

 private:
  std::string_view s_;
  size_t pos_ = 0;
};

const char* ErrorText(uint8_t code) {
  switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A: return "#N/A";
    default: return "#ERROR!";
  }
}

double RkValue(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    uint64_t bits = uint64_t{rk & 0xFFFFFFFCu} << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 1) ? v / 100 : v;
}

struct SheetEntry {
  std::string name;
  uint32_t offset = 0;
};

class Reader {
 public:
  Reader(std::string_view stream, Workbook* out, const SpreadsheetLimits& limits)
      : biff_(stream), out_(out), cells_left_(limits.max_cells), limits_(limits) {}

  bool Run(std::string* error) {
    error_ = error;
    Record r;
    bool cut = false;
    if (!biff_.Next(&r, &cut) || r.type != 0x0809 || r.data.size() < 4) return Fail(error_, "no workbook record");
    if (U16(r.data.data()) != 0x0600) return Fail(error_, "only Excel 97-2003 workbooks (BIFF8) are read");
    std::vector<SheetEntry> sheets;
    for (;;) {
      if (!biff_.Next(&r, &cut)) return Fail(error_, cut ? "record cut off" : "workbook records end early");
      if (r.type == 0x000A) break;  // end of the workbook globals
      if (r.type == 0x002F) return Fail(error_, "the workbook is encrypted");
      if (r.type == 0x0085) {
        if (r.data.size() < 8) return Fail(error_, "bad sheet record");
        if (static_cast<uint8_t>(r.data[5]) != 0) continue;  // a chart or macro sheet
        Segments s({r.data.substr(6)});
        uint8_t count = 0, flags = 0;
        SheetEntry e;
        e.offset = U32(r.data.data());
        if (!s.U8(&count) || !s.U8(&flags) || !s.Chars(count, flags & 1, &e.name)) return Fail(error_, "bad sheet name");
        if (sheets.size() >= limits_.max_sheets) return Fail(error_, "too many sheets");
        sheets.push_back(std::move(e));
      } else if (r.type == 0x00FC) {
        if (!SharedStrings(r)) return false;
      }
    }
    if (sheets.empty()) return Fail(error_, "the workbook lists no sheet");
    for (const SheetEntry& e : sheets)
      if (!ReadSheet(e)) return false;
    return true;
  }

 private:
  bool SharedStrings(const Record& r) {
    Segments s = biff_.WithContinues(r);
    uint32_t total = 0, unique = 0;
    if (!s.U32v(&total) || !s.U32v(&unique)) return Fail(error_, "bad shared string table");
    std::string text;
    for (uint32_t i = 0; i < unique; ++i) {
      if (!s.String(&text)) break;  // fewer strings than announced: keep those read
      if (strings_.size() >= limits_.max_cells) return Fail(error_, "too many strings");
      strings_.push_back(text);
    }
    return true;
  }

  bool Put(Sheet* sheet, uint16_t row, uint16_t col, SheetCell cell) {
    if (cells_left_ == 0) return Fail(error_, "too many cells");
    --cells_left_;
    sheet->Set(row, col, std::move(cell));
    return true;
  }

  bool ReadSheet(const SheetEntry& e) {
    Sheet sheet;
    sheet.name = e.name;
    Record r;
    bool cut = false;
    if (!biff_.Seek(e.offset) || !biff_.Next(&r, &cut) || r.type != 0x0809)
      return Fail(error_, "sheet record not found");
    bool pending_string = false;
    uint16_t pending_row = 0, pending_col = 0;
    while (biff_.Next(&r, &cut) && r.type != 0x000A && r.type != 0x0809) {
      const std::string_view d = r.data;
      SheetCell cell;
      if (r.type == 0x0207) {  // the text result of the formula before
        Segments s = biff_.WithContinues(r);
        if (pending_string && s.String(&cell.text, false) && !Put(&sheet, pending_row, pending_col, cell)) return false;
        pending_string = false;
        continue;
      }
      pending_string = false;
      if (d.size() < 6) continue;
      const uint16_t row = U16(d.data()), col = U16(d.data() + 2);
      switch (r.type) {
        case 0x00FD: {  // a shared string
          if (d.size() < 10) return Fail(error_, "bad cell record");
          const uint32_t index = U32(d.data() + 6);
          if (index >= strings_.size()) return Fail(error_, "shared string out of range");
          cell.text = strings_[index];
          if (!Put(&sheet, row, col, std::move(cell))) return false;
          break;
        }
        case 0x0204:
        case 0x00D6: {  // a string in the cell
          Segments s({d.substr(6)});
          if (!s.String(&cell.text, false)) return Fail(error_, "bad text cell");
          if (!Put(&sheet, row, col, std::move(cell))) return false;
          break;
        }
        case 0x0203:  // a number
          if (d.size() < 14) return Fail(error_, "bad number cell");
          cell.kind = SheetCell::Kind::kNumber;
          cell.number = F64(d.data() + 6);
          if (!Put(&sheet, row, col, std::move(cell))) return false;
          break;
        case 0x027E:  // a number in 30 bits
          if (d.size() < 10) return Fail(error_, "bad number cell");
          cell.kind = SheetCell::Kind::kNumber;
          cell.number = RkValue(U32(d.data() + 6));
          if (!Put(&sheet, row, col, std::move(cell))) return false;
          break;
        case 0x00BD: {  // numbers of consecutive cells of a row
          const size_t n = (d.size() - 6) / 6;
          for (size_t i = 0; i < n; ++i) {
            SheetCell c;
            c.kind = SheetCell::Kind::kNumber;
            c.number = RkValue(U32(d.data() + 4 + 6 * i + 2));
            if (col + i >= Sheet::kMaxColumns) break;
            if (!Put(&sheet, row, static_cast<uint16_t>(col + i), std::move(c))) return false;
          }
          break;
        }
        case 0x0205:  // a boolean or an error
          if (d.size() < 8) return Fail(error_, "bad cell record");
          if (d[7]) {
            cell.kind = SheetCell::Kind::kError;
            cell.text = ErrorText(static_cast<uint8_t>(d[6]));
          } else {
            cell.kind = SheetCell::Kind::kBool;
            cell.number = d[6] ? 1 : 0;
            cell.text = d[6] ? "TRUE" : "FALSE";
          }
          if (!Put(&sheet, row, col, std::move(cell))) return false;
          break;
        case 0x0006: {  // a formula: its last result
          if (d.size() < 20) return Fail(error_, "bad formula cell");
          const char* v = d.data() + 6;
          if (U16(v + 6) != 0xFFFF) {
            cell.kind = SheetCell::Kind::kNumber;
            cell.number = F64(v);
          } else if (v[0] == 0) {
            pending_string = true, pending_row = row, pending_col = col;
            break;
          } else if (v[0] == 1) {
            cell.kind = SheetCell::Kind::kBool;
            cell.number = v[2] ? 1 : 0;
            cell.text = v[2] ? "TRUE" : "FALSE";
          } else if (v[0] == 2) {
            cell.kind = SheetCell::Kind::kError;
            cell.text = ErrorText(static_cast<uint8_t>(v[2]));
          } else {
            break;  // an empty result
          }
          if (!Put(&sheet, row, col, std::move(cell))) return false;
          break;
        }
        default: break;
      }
    }
    if (cut) return Fail(error_, "record cut off");
    out_->sheets.push_back(std::move(sheet));
    return true;
  }

  Biff biff_;
  Workbook* out_;
  size_t cells_left_;
  const SpreadsheetLimits& limits_;
  std::vector<std::string> strings_;
  std::string* error_ = nullptr;
};

}  // namespace

bool ReadXls(std::string_view bytes, Workbook* out, std::string* error, const SpreadsheetLimits& limits) {
  CompoundFile cfb;
  std::string stream;
  if (!cfb.Open(bytes, limits.max_member_bytes, error)) return false;
  if (!cfb.Stream("Workbook", &stream, error)) {
    std::string older;
    if (cfb.Stream("Book", &older, nullptr)) return Fail(error, "only Excel 97-2003 workbooks (BIFF8) are read");
    return false;
  }
  Reader reader(stream, out, limits);
  return reader.Run(error);
}

}  // namespace velmora
