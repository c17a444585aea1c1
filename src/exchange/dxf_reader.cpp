// ASCII DXF reader: a pull tokenizer of group-code pairs over the file's bytes and a one-pass
// parser of the sections the program uses.
#include "exchange/dxf_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/format.h"
#include "exchange/xml_text.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {
namespace {

std::optional<uint64_t> ParseHex(std::string_view s) {
  s = TrimAscii(s);
  if (s.empty() || s.size() > 16) return std::nullopt;
  uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

struct Pair {
  int code = 0;
  std::string_view value;
  size_t offset = 0;        // start of the code line
  size_t value_offset = 0;  // start of the value line
  size_t line = 0;          // 1-based number of the code line
};

class Tokenizer {
 public:
  Tokenizer(std::string_view bytes, const DxfReadLimits& limits) : bytes_(bytes), limits_(limits) {
    if (bytes_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;  // a byte-order mark of a UTF-8 file
  }

  // The next pair; false at the end of the input or on an error (then error() is set).
  bool Next(Pair* p) {
    if (has_back_) {
      *p = back_;
      has_back_ = false;
      return true;
    }
    if (pos_ >= bytes_.size()) return false;
    Pair pair;
    pair.offset = pos_;
    pair.line = line_ + 1;
    std::string_view code_line;
    if (!ReadLine(&code_line)) return false;
    code_line = TrimAscii(code_line);
    int code = 0;
    auto [end, ec] = std::from_chars(code_line.data(), code_line.data() + code_line.size(), code);
    if (code_line.empty() || ec != std::errc() || end != code_line.data() + code_line.size() || code < 0 ||
        (code > 1071 && code != 999)) {
      return Fail(pair.line, "not a group code");
    }
    pair.code = code;
    if (pos_ >= bytes_.size()) return Fail(pair.line, "group code without a value at the end of the file");
    pair.value_offset = pos_;
    if (!ReadLine(&pair.value)) return false;
    *p = pair;
    return true;
  }
  void PushBack(const Pair& p) {
    back_ = p;
    has_back_ = true;
  }
  bool Fail(size_t line, const std::string& what) {
    if (error_.empty()) error_ = FormatC("line %zu: %s", line, what.c_str());
    return false;
  }
  const std::string& error() const { return error_; }
  const std::string& line_end() const { return line_end_; }

 private:
  bool ReadLine(std::string_view* out) {
    size_t nl = bytes_.find('\n', pos_);
    size_t end = nl == std::string_view::npos ? bytes_.size() : nl;
    if (end - pos_ > limits_.max_line_bytes) return Fail(line_ + 1, "line too long");
    std::string_view line = bytes_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      if (line_ == 0) line_end_ = "\r\n";
    }
    pos_ = nl == std::string_view::npos ? bytes_.size() : nl + 1;
    ++line_;
    *out = line;
    return true;
  }

  std::string_view bytes_;
  const DxfReadLimits& limits_;
  size_t pos_ = 0;
  size_t line_ = 0;
  bool has_back_ = false;
  Pair back_;
  std::string error_;
  std::string line_end_ = "\n";
};

class Parser {
 public:
  Parser(std::string_view bytes, DxfDrawing* out, const DxfReadLimits& limits)
      : bytes_(bytes), tokens_(bytes, limits), out_(out), limits_(limits) {}

  bool Run() {
    Pair p;
    for (;;) {
      if (!tokens_.Next(&p)) {
        if (!tokens_.error().empty()) return false;
        break;  // no EOF marker: accepted when every section was closed
      }
      if (p.code == 999) continue;
      if (p.code != 0) return tokens_.Fail(p.line, "expected a section");
      std::string_view v = TrimAscii(p.value);
      if (v == "EOF") {
        out_->splice.eof = p.offset;
        break;
      }
      if (v != "SECTION") return tokens_.Fail(p.line, "expected SECTION");
      ++sections_;
      Pair name;
      if (!NextPair(&name)) return false;
      if (name.code != 2) return tokens_.Fail(name.line, "section without a name");
      std::string_view section = TrimAscii(name.value);
      bool ok = true;
      if (section == "HEADER") ok = Header();
      else if (section == "TABLES") ok = Tables();
      else if (section == "ENTITIES") ok = Entities();
      else {
        if (section == "OBJECTS") out_->splice.objects_start = p.offset;
        ok = Skip();
      }
      if (!ok) return false;
    }
    if (out_->splice.eof == DxfSpliceInfo::npos) out_->splice.eof = bytes_.size();
    out_->splice.line_end = tokens_.line_end();
    return true;
  }

  const std::string& error() const { return tokens_.error(); }
  int sections() const { return sections_; }

 private:
  // The next pair inside a section: the end of the file there is an error.
  bool NextPair(Pair* p) {
    if (tokens_.Next(p)) {
      if (p->code == 5 || p->code == 105) NoteHandle(p->value);
      return true;
    }
    if (tokens_.error().empty()) tokens_.Fail(0, "the file ends inside a section");
    return false;
  }
  void NoteHandle(std::string_view v) {
    if (auto h = ParseHex(v)) out_->splice.max_handle = std::max(out_->splice.max_handle, *h);
  }
  // A 0 pair that would start another section or end the file where ENDSEC belongs.
  bool IsSectionBreak(const Pair& p) {
    std::string_view v = TrimAscii(p.value);
    if (p.code == 0 && (v == "SECTION" || v == "EOF")) return tokens_.Fail(p.line, "section not closed"), true;
    return false;
  }

  bool Skip() {
    Pair p;
    for (;;) {
      if (!NextPair(&p)) return false;
      if (p.code != 0) continue;
      if (TrimAscii(p.value) == "ENDSEC") return true;
      if (IsSectionBreak(p)) return false;
    }
  }

  bool Header() {
    Pair p;
    std::string_view var;
    for (;;) {
      if (!NextPair(&p)) return false;
      if (p.code == 0) {
        if (TrimAscii(p.value) == "ENDSEC") return true;
        if (IsSectionBreak(p)) return false;
        continue;
      }
      if (p.code == 9) {
        var = TrimAscii(p.value);
        continue;
      }
      if (var == "$ACADVER" && p.code == 1) {
        out_->version = std::string(TrimAscii(p.value));
      } else if (var == "$DWGCODEPAGE" && p.code == 3) {
        out_->codepage = std::string(TrimAscii(p.value));
      } else if (var == "$HANDSEED" && p.code == 5) {
        if (auto h = ParseHex(p.value)) {
          out_->splice.has_handseed = true;
          out_->splice.handseed = *h;
          out_->splice.handseed_value = p.value_offset;
          out_->splice.handseed_length = p.value.size();
        }
      } else if (var == "$HANDLING" && p.code == 70) {
        out_->splice.handling = ParseInt(p.value).value_or(0) != 0;
      }
    }
  }

  bool Tables() {
    Pair p;
    std::string_view table;      // the table being read
    std::string_view record;     // the record type being read ("" in the table's own pairs)
    bool after_table = false;    // the pair after "0 TABLE" names the table
    DxfLayer layer;
    std::string block_name, block_handle;
    auto finish_record = [&] {
      if (record == "LAYER" && !layer.name.empty()) out_->layers.push_back(layer);
      if (record == "BLOCK_RECORD" && EqualsNoCaseAscii(block_name, "*Model_Space"))
        out_->splice.model_space_handle = block_handle;
      layer = DxfLayer{};
      block_name.clear(), block_handle.clear();
    };
    for (;;) {
      if (!NextPair(&p)) return false;
      if (after_table) {
        if (p.code != 2) return tokens_.Fail(p.line, "table without a name");
        table = TrimAscii(p.value);
        after_table = false;
        continue;
      }
      if (p.code == 0) {
        finish_record();
        std::string_view v = TrimAscii(p.value);
        if (v == "ENDSEC") return true;
        if (IsSectionBreak(p)) return false;
        if (v == "TABLE") {
          after_table = true;
          record = {};
        } else if (v == "ENDTAB") {
          if (table == "LAYER") out_->splice.layer_table_end = p.offset;
          table = {}, record = {};
        } else {
          record = v;
        }
        continue;
      }
      if (record.empty()) {
        if (table == "LAYER" && p.code == 5) out_->splice.layer_table_handle = std::string(TrimAscii(p.value));
        continue;
      }
      if (record == "LAYER") {
        if (p.code == 2) layer.name = DecodeDxfText(p.value, out_->version, out_->codepage);
        else if (p.code == 62) layer.aci = std::abs(static_cast<int>(ParseInt(p.value).value_or(7)));
      } else if (record == "BLOCK_RECORD") {
        if (p.code == 2) block_name = std::string(TrimAscii(p.value));
        else if (p.code == 5) block_handle = std::string(TrimAscii(p.value));
      }
    }
  }

  // One entity's pairs after its "0 / TYPE" pair, up to the next 0 pair (pushed back).
  bool Collect(std::vector<Pair>* pairs) {
    pairs->clear();
    Pair p;
    for (;;) {
      if (!NextPair(&p)) return false;
      if (p.code == 0) {
        tokens_.PushBack(p);
        return true;
      }
      pairs->push_back(p);
    }
  }

  bool Number(const Pair& p, double* v) {
    auto d = ParseDouble(p.value);
    if (!d) return tokens_.Fail(p.line, "not a number");
    *v = *d;
    return true;
  }
  bool Integer(const Pair& p, int* v) {
    auto i = ParseInt(p.value);
    if (!i || *i < -2147483647 || *i > 2147483647) return tokens_.Fail(p.line, "not an integer");
    *v = static_cast<int>(*i);
    return true;
  }

  // Groups every entity shares; false on a bad value. Sets *paper for paper-space entities.
  bool Common(const Pair& p, std::string* layer, int* aci, std::optional<uint32_t>* true_color, bool* paper,
              bool* handled) {
    *handled = true;
    int v = 0;
    switch (p.code) {
      case 8: *layer = DecodeDxfText(p.value, out_->version, out_->codepage); return true;
      case 62:
        if (!Integer(p, &v)) return false;
        *aci = std::clamp(std::abs(v), 0, 256);
        return true;
      case 420:
        if (!Integer(p, &v)) return false;
        *true_color = static_cast<uint32_t>(v) & 0xFFFFFFu;
        return true;
      case 67:
        if (!Integer(p, &v)) return false;
        *paper = v == 1;
        return true;
      default: *handled = false; return true;
    }
  }

  bool CountPoints(size_t n, size_t line) {
    points_ += n;
    if (points_ > limits_.max_points) return tokens_.Fail(line, "too many vertices");
    return true;
  }

  bool LwPolyline(const std::vector<Pair>& pairs) {
    DxfPolyline pl;
    bool paper = false, handled = false;
    int flags = 0;
    for (const Pair& p : pairs) {
      if (!Common(p, &pl.layer, &pl.aci, &pl.true_color, &paper, &handled)) return false;
      if (handled) continue;
      double v = 0;
      switch (p.code) {
        case 70: if (!Integer(p, &flags)) return false; break;
        case 38: if (!Number(p, &pl.elevation)) return false; break;
        case 10:
          if (!Number(p, &v) || !CountPoints(1, p.line)) return false;
          pl.points.push_back({v, 0, 0});
          break;
        case 20:
          if (!Number(p, &v)) return false;
          if (pl.points.empty()) return tokens_.Fail(p.line, "y before x");
          pl.points.back().y = v;
          break;
        default: break;
      }
    }
    pl.closed = (flags & 1) != 0;
    pl.has_elevation = true;
    for (DxfVertex& vx : pl.points) vx.z = pl.elevation;
    if (!paper && !pl.points.empty()) out_->polylines.push_back(std::move(pl));
    return true;
  }

  bool Line(const std::vector<Pair>& pairs) {
    DxfPolyline pl;
    bool paper = false, handled = false;
    DxfVertex a, b;
    for (const Pair& p : pairs) {
      if (!Common(p, &pl.layer, &pl.aci, &pl.true_color, &paper, &handled)) return false;
      if (handled) continue;
      double* target = nullptr;
      switch (p.code) {
        case 10: target = &a.x; break;
        case 20: target = &a.y; break;
        case 30: target = &a.z; break;
        case 11: target = &b.x; break;
        case 21: target = &b.y; break;
        case 31: target = &b.z; break;
        default: break;
      }
      if (target && !Number(p, target)) return false;
    }
    if (!CountPoints(2, pairs.empty() ? 0 : pairs.front().line)) return false;
    pl.points = {a, b};
    pl.is_3d = a.z != b.z;
    pl.elevation = a.z;
    pl.has_elevation = true;
    if (!paper) out_->polylines.push_back(std::move(pl));
    return true;
  }

  // POLYLINE, its VERTEX entities and SEQEND.
  bool Polyline(const std::vector<Pair>& head) {
    DxfPolyline pl;
    bool paper = false, handled = false;
    int flags = 0;
    for (const Pair& p : head) {
      if (!Common(p, &pl.layer, &pl.aci, &pl.true_color, &paper, &handled)) return false;
      if (handled) continue;
      if (p.code == 70 && !Integer(p, &flags)) return false;
      if (p.code == 30) {
        if (!Number(p, &pl.elevation)) return false;
        pl.has_elevation = true;
      }
    }
    pl.closed = (flags & 1) != 0;
    pl.is_3d = (flags & 8) != 0;
    // Polygon meshes (16) and polyface meshes (64) are surfaces, not lines.
    const bool keep = !paper && (flags & (16 | 64)) == 0;
    std::vector<Pair> pairs;
    Pair p;
    for (;;) {
      if (!NextPair(&p)) return false;
      if (p.code != 0) return tokens_.Fail(p.line, "expected VERTEX or SEQEND");
      std::string_view type = TrimAscii(p.value);
      if (type != "VERTEX" && type != "SEQEND") {  // SEQEND missing: the polyline ends here
        if (IsSectionBreak(p)) return false;
        tokens_.PushBack(p);
        break;
      }
      if (!Collect(&pairs)) return false;
      if (type == "SEQEND") break;
      DxfVertex v{0, 0, pl.elevation};
      int vflags = 0;
      for (const Pair& q : pairs) {
        if (q.code == 10 && !Number(q, &v.x)) return false;
        if (q.code == 20 && !Number(q, &v.y)) return false;
        if (q.code == 30 && !Number(q, &v.z)) return false;
        if (q.code == 70 && !Integer(q, &vflags)) return false;
      }
      if (vflags & 16) continue;  // spline frame control point: not on the line
      if (!CountPoints(1, p.line)) return false;
      if (!pl.is_3d) v.z = pl.elevation;
      pl.points.push_back(v);
    }
    if (keep && !pl.points.empty()) out_->polylines.push_back(std::move(pl));
    return true;
  }

  bool Text(const std::vector<Pair>& pairs, bool mtext) {
    DxfText t;
    t.mtext = mtext;
    bool paper = false, handled = false;
    std::string chunks, last;
    for (const Pair& p : pairs) {
      if (!Common(p, &t.layer, &t.aci, &t.true_color, &paper, &handled)) return false;
      if (handled) continue;
      bool ok = true;
      switch (p.code) {
        case 10: ok = Number(p, &t.x); break;
        case 20: ok = Number(p, &t.y); break;
        case 30: ok = Number(p, &t.z); break;
        case 40: ok = Number(p, &t.height); break;
        case 41: if (mtext) ok = Number(p, &t.width); break;
        case 50: ok = Number(p, &t.rotation); break;
        case 11: if (!mtext) ok = Number(p, &t.align_x), t.has_align_point = true; break;
        case 21: if (!mtext) ok = Number(p, &t.align_y); break;
        case 71: if (mtext) ok = Integer(p, &t.attachment); break;
        case 72: if (!mtext) ok = Integer(p, &t.halign); break;
        case 73: if (!mtext) ok = Integer(p, &t.valign); break;
        case 7: t.style = std::string(TrimAscii(p.value)); break;
        case 3: if (mtext) chunks.append(p.value); break;
        case 1: last.assign(p.value); break;
        default: break;
      }
      if (!ok) return false;
    }
    if (!std::isfinite(t.height) || t.height <= 0) t.height = 1;
    t.text = DecodeDxfText(chunks + last, out_->version, out_->codepage);
    if (!paper) out_->texts.push_back(std::move(t));
    return true;
  }

  bool Entities() {
    Pair p;
    std::vector<Pair> pairs;
    for (;;) {
      if (!NextPair(&p)) return false;
      if (p.code != 0) continue;  // stray pairs between entities are skipped
      std::string_view type = TrimAscii(p.value);
      if (type == "ENDSEC") {
        out_->splice.entities_end = p.offset;
        return true;
      }
      if (IsSectionBreak(p)) return false;
      if (!Collect(&pairs)) return false;
      bool ok = true;
      if (type == "LWPOLYLINE") ok = LwPolyline(pairs);
      else if (type == "POLYLINE") ok = Polyline(pairs);
      else if (type == "LINE") ok = Line(pairs);
      else if (type == "TEXT") ok = Text(pairs, false);
      else if (type == "MTEXT") ok = Text(pairs, true);
      if (!ok) return false;
    }
  }

  std::string_view bytes_;
  Tokenizer tokens_;
  DxfDrawing* out_;
  const DxfReadLimits& limits_;
  size_t points_ = 0;
  int sections_ = 0;
};

}  // namespace

int DxfVersionNumber(std::string_view acadver) {
  acadver = TrimAscii(acadver);
  if (acadver.size() < 3 || (acadver[0] != 'A' && acadver[0] != 'a') || (acadver[1] != 'C' && acadver[1] != 'c'))
    return 0;
  int n = 0;
  auto [end, ec] = std::from_chars(acadver.data() + 2, acadver.data() + acadver.size(), n);
  if (ec != std::errc() || end != acadver.data() + acadver.size()) return 0;
  return n;
}

std::string DecodeDxfText(std::string_view value, std::string_view version, std::string_view codepage) {
  std::string utf8;
  if (DxfVersionNumber(version) >= 1021) {
    size_t pos = 0;
    while (pos < value.size()) AppendUtf8(utf8, NextUtf8(value, &pos));
  } else if (EqualsNoCaseAscii(TrimAscii(codepage), "ANSI_936")) {
    utf8 = AnsiToUtf8(value);
  } else {
    for (unsigned char c : value) AppendUtf8(utf8, c);
  }
  // "\U+XXXX" escapes of characters outside the code page.
  if (utf8.find("\\U+") == std::string::npos && utf8.find("\\u+") == std::string::npos) return utf8;
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    if (utf8[i] == '\\' && i + 7 <= utf8.size() && (utf8[i + 1] == 'U' || utf8[i + 1] == 'u') && utf8[i + 2] == '+') {
      unsigned v = 0;
      auto [end, ec] = std::from_chars(utf8.data() + i + 3, utf8.data() + i + 7, v, 16);
      if (ec == std::errc() && end == utf8.data() + i + 7 && !(v >= 0xD800 && v <= 0xDFFF)) {
        AppendUtf8(out, v == 0 ? 0xFFFD : v);
        i += 7;
        continue;
      }
    }
    out.push_back(utf8[i++]);
  }
  return out;
}

bool ReadDxf(std::string_view bytes, DxfDrawing* out, std::string* error, const DxfReadLimits& limits) {
  *out = DxfDrawing{};
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    *out = DxfDrawing{};
    return false;
  };
  if (bytes.size() > limits.max_file_bytes) return fail("file too large");
  if (bytes.substr(0, 18) == "AutoCAD Binary DXF") return fail("binary DXF files are not read");
  Parser parser(bytes, out, limits);
  if (!parser.Run()) return fail(parser.error().empty() ? "not a DXF file" : parser.error());
  if (parser.sections() == 0) return fail("not a DXF file: no section");
  return true;
}

bool ReadDxfFile(const std::string& path, DxfDrawing* out, std::string* error, const DxfReadLimits& limits) {
  std::string read_error;
  auto bytes = ReadFileBytes(path, &read_error);
  if (!bytes) {
    *out = DxfDrawing{};
    if (error) *error = read_error;
    return false;
  }
  std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  if (!ReadDxf(view, out, error, limits)) {
    if (error) *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace velmora
