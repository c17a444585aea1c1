// DXF writer: pairs, entities by dialect, new drawings and splices into existing ones.
#include "exchange/dxf_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/format.h"
#include "exchange/xml_text.h"
#include "platform/text.h"

namespace velmora {
namespace {

// The AutoCAD colour index palette: 1-9 the named colours, 10-249 24 hues in steps of 15° with
// five brightness levels, each full and half saturated, 250-255 greys.
std::array<uint32_t, 256> MakeAciTable() {
  std::array<uint32_t, 256> t{};
  const uint32_t named[10] = {0x000000, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF,
                              0x0000FF, 0xFF00FF, 0xFFFFFF, 0x808080, 0xC0C0C0};
  for (int i = 0; i < 10; ++i) t[i] = named[i];
  const double levels[5] = {255, 165, 127, 76, 38};
  for (int i = 10; i < 250; ++i) {
    const double hue = (i - 10) / 10 * 15.0;
    const int k = (i - 10) % 10;
    const double v = levels[k / 2];
    const double s = (k % 2) ? 0.5 : 1.0;
    const double c = v * s;
    const double x = c * (1 - std::fabs(std::fmod(hue / 60.0, 2.0) - 1));
    const double m = v - c;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(hue / 60.0)) {
      case 0: r = c, g = x; break;
      case 1: r = x, g = c; break;
      case 2: g = c, b = x; break;
      case 3: g = x, b = c; break;
      case 4: r = x, b = c; break;
      default: r = c, b = x; break;
    }
    auto ch = [m](double u) { return static_cast<uint32_t>(std::clamp(u + m, 0.0, 255.0)); };
    t[static_cast<size_t>(i)] = (ch(r) << 16) | (ch(g) << 8) | ch(b);
  }
  const uint32_t greys[6] = {0x333333, 0x505050, 0x696969, 0x828282, 0xBEBEBE, 0xFFFFFF};
  for (int i = 0; i < 6; ++i) t[static_cast<size_t>(250 + i)] = greys[i];
  return t;
}

const std::array<uint32_t, 256>& AciTable() {
  static const std::array<uint32_t, 256> table = MakeAciTable();
  return table;
}

std::string Hex(uint64_t v) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, 16);
  std::string s(buf, end);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Cuts a text into pieces of at most `limit` bytes without splitting a UTF-8 character or a
// "\U+XXXX" escape (MTEXT keeps its text in groups of 250 bytes).
std::vector<std::string> Chunks(const std::string& text, size_t limit) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (text.size() - pos > limit) {
    size_t cut = pos + limit;
    while (cut > pos && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    size_t slash = text.rfind('\\', cut - 1);
    if (slash != std::string::npos && slash >= pos && cut - slash < 7 && slash > pos) cut = slash;
    out.push_back(text.substr(pos, cut - pos));
    pos = cut;
  }
  out.push_back(text.substr(pos));
  return out;
}

}  // namespace

DxfDialect DxfDialect::ForVersion(int version, bool r12_handles, std::string_view codepage) {
  DxfDialect d;
  d.version = version;
  d.subclasses = version >= 1012;
  d.handles = d.subclasses || r12_handles;
  d.lwpolyline = version >= 1014;
  d.true_color = version >= 1018;
  d.utf8 = version >= 1021;
  d.gbk = !d.utf8 && (codepage == "ANSI_936" || codepage == "ansi_936");
  return d;
}

int NearestAci(uint32_t rgb) {
  const auto& t = AciTable();
  const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  int best = 7;
  long best_d = std::numeric_limits<long>::max();
  for (int i = 1; i < 256; ++i) {
    const int dr = r - static_cast<int>((t[static_cast<size_t>(i)] >> 16) & 0xFF);
    const int dg = g - static_cast<int>((t[static_cast<size_t>(i)] >> 8) & 0xFF);
    const int db = b - static_cast<int>(t[static_cast<size_t>(i)] & 0xFF);
    const long d = long(dr) * dr + long(dg) * dg + long(db) * db;
    if (d < best_d) best_d = d, best = i;
  }
  return best;
}

uint32_t AciToRgb(int aci) { return AciTable()[static_cast<size_t>(std::clamp(aci, 0, 255))]; }

std::string DxfLayerName(std::string_view name) {
  std::string out = SanitizeXmlText(name);
  for (char& c : out) {
    if (std::string_view("<>/\\\":;?*|=`").find(c) != std::string_view::npos || static_cast<unsigned char>(c) < 0x20)
      c = '_';
  }
  return out.empty() ? std::string("0") : out;
}

DxfWriter::DxfWriter(DxfDialect dialect, uint64_t first_handle, std::string line_end)
    : dialect_(dialect), next_handle_(std::max<uint64_t>(first_handle, 1)), line_end_(std::move(line_end)) {}

void DxfWriter::Pair(int code, std::string_view value) {
  char buf[8];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, code);
  std::string_view c(buf, static_cast<size_t>(end - buf));
  // Codes right-aligned in three columns, as AutoCAD writes them.
  if (c.size() < 3) out_.append(3 - c.size(), ' ');
  out_.append(c);
  out_.append(line_end_);
  out_.append(value);
  out_.append(line_end_);
}

void DxfWriter::Int(int code, long long value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  Pair(code, std::string_view(buf, static_cast<size_t>(end - buf)));
}

void DxfWriter::Real(int code, double value) {
  if (!std::isfinite(value)) value = 0;
  if (value == 0) value = 0;  // no "-0.0"
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  std::string s(buf, ec == std::errc() ? end : buf);
  if (s.find('.') == std::string::npos) s += ".0";
  Pair(code, s);
}

std::string DxfWriter::Encode(std::string_view utf8) const {
  std::string out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c = NextUtf8(utf8, &pos);
    if (c < 0x20 || c == 0x7F) c = ' ';  // a line break would end the value
    if (c < 0x80 || dialect_.utf8) {
      AppendUtf8(out, c);
      continue;
    }
    if (dialect_.gbk) {
      std::string one;
      AppendUtf8(one, c);
      size_t replaced = 0;
      std::string bytes = Utf8ToAnsi(std::string_view(one), &replaced);
      if (replaced == 0) {
        out += bytes;
        continue;
      }
    }
    if (c <= 0xFFFF) {
      out += FormatC("\\U+%04X", static_cast<unsigned>(c));
    } else {
      out += '?';
    }
  }
  return out;
}

void DxfWriter::Text(int code, std::string_view utf8) { Pair(code, Encode(utf8)); }

std::string DxfWriter::NewHandle() { return Hex(next_handle_++); }

std::string DxfWriter::EntityHead(std::string_view type, std::string_view layer, int aci,
                                  const std::optional<uint32_t>& true_color, std::string_view owner) {
  Pair(0, type);
  std::string handle;
  if (dialect_.handles) {
    handle = NewHandle();
    Pair(5, handle);
  }
  if (dialect_.subclasses) {
    if (!owner.empty()) Pair(330, owner);
    Pair(100, "AcDbEntity");
  }
  Text(8, DxfLayerName(layer));
  if (aci >= 0 && aci < 256) Int(62, aci);
  if (true_color && dialect_.true_color) Int(420, static_cast<long long>(*true_color & 0xFFFFFFu));
  return handle;
}

void DxfWriter::Polyline(const DxfPolyline& pl, std::string_view owner) {
  if (pl.points.empty()) return;
  if (!pl.is_3d && dialect_.lwpolyline) {
    EntityHead("LWPOLYLINE", pl.layer, pl.aci, pl.true_color, owner);
    Pair(100, "AcDbPolyline");
    Int(90, static_cast<long long>(pl.points.size()));
    Int(70, pl.closed ? 1 : 0);
    if (pl.elevation != 0) Real(38, pl.elevation);
    for (const DxfVertex& v : pl.points) {
      Real(10, v.x);
      Real(20, v.y);
    }
    return;
  }
  std::string head = EntityHead("POLYLINE", pl.layer, pl.aci, pl.true_color, owner);
  if (dialect_.subclasses) Pair(100, pl.is_3d ? "AcDb3dPolyline" : "AcDb2dPolyline");
  Int(66, 1);
  Real(10, 0);
  Real(20, 0);
  Real(30, pl.is_3d ? 0 : pl.elevation);
  Int(70, (pl.closed ? 1 : 0) | (pl.is_3d ? 8 : 0));
  // Vertices and the end of the sequence are owned by the polyline (by the block in R12).
  std::string_view sub_owner = dialect_.subclasses ? std::string_view(head) : owner;
  for (const DxfVertex& v : pl.points) {
    EntityHead("VERTEX", pl.layer, -1, std::nullopt, sub_owner);
    if (dialect_.subclasses) {
      Pair(100, "AcDbVertex");
      Pair(100, pl.is_3d ? "AcDb3dPolylineVertex" : "AcDb2dVertex");
    }
    Real(10, v.x);
    Real(20, v.y);
    Real(30, pl.is_3d ? v.z : pl.elevation);
    Int(70, pl.is_3d ? 32 : 0);
  }
  EntityHead("SEQEND", pl.layer, -1, std::nullopt, sub_owner);
}

void DxfWriter::TextEntity(const DxfText& t, std::string_view owner) {
  if (t.mtext && dialect_.subclasses) {
    EntityHead("MTEXT", t.layer, t.aci, t.true_color, owner);
    Pair(100, "AcDbMText");
    Real(10, t.x);
    Real(20, t.y);
    Real(30, t.z);
    Real(40, t.height);
    if (t.width > 0) Real(41, t.width);
    Int(71, std::clamp(t.attachment, 1, 9));
    std::vector<std::string> chunks = Chunks(Encode(t.text), 250);
    for (size_t i = 0; i + 1 < chunks.size(); ++i) Pair(3, chunks[i]);
    Pair(1, chunks.back());
    Pair(7, "Standard");
    if (t.rotation != 0) Real(50, t.rotation);
    return;
  }
  std::string text;
  if (t.mtext) {  // no MTEXT in R12: its paragraphs on one line
    for (size_t i = 0; i < t.text.size(); ++i) {
      if (t.text[i] == '\\' && i + 1 < t.text.size() && t.text[i + 1] == 'P') {
        text += ' ';
        ++i;
      } else {
        text += t.text[i];
      }
    }
  } else {
    text = t.text;
  }
  EntityHead("TEXT", t.layer, t.aci, t.true_color, owner);
  if (dialect_.subclasses) Pair(100, "AcDbText");
  Real(10, t.x);
  Real(20, t.y);
  Real(30, t.z);
  Real(40, t.height);
  Text(1, text);
  if (t.rotation != 0) Real(50, t.rotation);
  Pair(7, dialect_.subclasses ? "Standard" : "STANDARD");
  if (!t.mtext && t.halign != 0) Int(72, t.halign);
  if (!t.mtext && t.has_align_point) {
    Real(11, t.align_x);
    Real(21, t.align_y);
    Real(31, t.z);
  }
  if (dialect_.subclasses) Pair(100, "AcDbText");
  if (!t.mtext && t.valign != 0) Int(73, t.valign);
}

void DxfWriter::LayerRecord(const DxfLayer& layer, std::string_view owner) {
  Pair(0, "LAYER");
  if (dialect_.handles) Pair(5, NewHandle());
  if (dialect_.subclasses) {
    if (!owner.empty()) Pair(330, owner);
    Pair(100, "AcDbSymbolTableRecord");
    Pair(100, "AcDbLayerTableRecord");
  }
  Text(2, DxfLayerName(layer.name));
  Int(70, 0);
  Int(62, std::clamp(layer.aci, 1, 255));
  Pair(6, dialect_.subclasses ? "Continuous" : "CONTINUOUS");
}

namespace {

struct Extent {
  double min_x = 0, min_y = 0, min_z = 0, max_x = 0, max_y = 0, max_z = 0;
  bool any = false;
  void Add(double x, double y, double z) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return;
    if (!any) {
      min_x = max_x = x, min_y = max_y = y, min_z = max_z = z, any = true;
      return;
    }
    min_x = std::min(min_x, x), max_x = std::max(max_x, x);
    min_y = std::min(min_y, y), max_y = std::max(max_y, y);
    min_z = std::min(min_z, z), max_z = std::max(max_z, z);
  }
};

// A symbol table's own pairs (R2000 form).
std::string TableHead(DxfWriter& w, std::string_view name, int count) {
  w.Pair(0, "TABLE");
  w.Pair(2, name);
  std::string handle = w.NewHandle();
  w.Pair(5, handle);
  w.Pair(330, "0");
  w.Pair(100, "AcDbSymbolTable");
  w.Int(70, count);
  return handle;
}

void RecordHead(DxfWriter& w, std::string_view type, std::string_view owner, std::string_view subclass) {
  w.Pair(0, type);
  w.Pair(5, w.NewHandle());
  w.Pair(330, owner);
  w.Pair(100, "AcDbSymbolTableRecord");
  w.Pair(100, subclass);
}

}  // namespace

std::string WriteDxfDocument(const DxfContent& content) {
  const DxfDialect dialect = DxfDialect::ForVersion(1018, true, "ANSI_936");
  DxfWriter w(dialect, 1);
  Extent extent;
  for (const DxfPolyline& pl : content.polylines)
    for (const DxfVertex& v : pl.points) extent.Add(v.x, v.y, pl.is_3d ? v.z : pl.elevation);
  for (const DxfText& t : content.texts) extent.Add(t.x, t.y, t.z);
  if (!extent.any) extent.Add(0, 0, 0);

  // Handles of the objects that others point at, taken first.
  const std::string root_dict = w.NewHandle();
  const std::string group_dict = w.NewHandle();
  const std::string model_record = w.NewHandle();
  const std::string paper_record = w.NewHandle();

  w.Pair(0, "SECTION");
  w.Pair(2, "CLASSES");
  w.Pair(0, "ENDSEC");

  w.Pair(0, "SECTION");
  w.Pair(2, "TABLES");
  {
    std::string vport = TableHead(w, "VPORT", 1);
    RecordHead(w, "VPORT", vport, "AcDbViewportTableRecord");
    w.Pair(2, "*Active");
    w.Int(70, 0);
    w.Real(10, 0), w.Real(20, 0), w.Real(11, 1), w.Real(21, 1);
    w.Real(12, (extent.min_x + extent.max_x) / 2), w.Real(22, (extent.min_y + extent.max_y) / 2);
    w.Real(13, 0), w.Real(23, 0), w.Real(14, 10), w.Real(24, 10), w.Real(15, 10), w.Real(25, 10);
    w.Real(16, 0), w.Real(26, 0), w.Real(36, 1), w.Real(17, 0), w.Real(27, 0), w.Real(37, 0);
    const double width = extent.max_x - extent.min_x, height = extent.max_y - extent.min_y;
    w.Real(40, std::max({height, width / 1.5, 1.0}) * 1.1);
    w.Real(41, 1.5), w.Real(42, 50), w.Real(43, 0), w.Real(44, 0), w.Real(50, 0), w.Real(51, 0);
    w.Int(71, 0), w.Int(72, 100), w.Int(73, 1), w.Int(74, 3), w.Int(75, 0), w.Int(76, 0), w.Int(77, 0), w.Int(78, 0);
    w.Pair(0, "ENDTAB");

    std::string ltype = TableHead(w, "LTYPE", 3);
    for (const char* name : {"ByBlock", "ByLayer", "Continuous"}) {
      RecordHead(w, "LTYPE", ltype, "AcDbLinetypeTableRecord");
      w.Pair(2, name);
      w.Int(70, 0);
      w.Pair(3, std::string_view(name) == "Continuous" ? "Solid line" : "");
      w.Int(72, 65);
      w.Int(73, 0);
      w.Real(40, 0);
    }
    w.Pair(0, "ENDTAB");

    std::vector<DxfLayer> layers = {{"0", 7}};
    for (const DxfLayer& l : content.layers) {
      std::string name = DxfLayerName(l.name);
      auto same = [&](const DxfLayer& o) { return DxfLayerName(o.name) == name; };
      if (std::find_if(layers.begin(), layers.end(), same) == layers.end()) layers.push_back({name, l.aci});
    }
    std::string layer_table = TableHead(w, "LAYER", static_cast<int>(layers.size()));
    for (const DxfLayer& l : layers) w.LayerRecord(l, layer_table);
    w.Pair(0, "ENDTAB");

    std::string style = TableHead(w, "STYLE", 1);
    RecordHead(w, "STYLE", style, "AcDbTextStyleTableRecord");
    w.Pair(2, "Standard");
    w.Int(70, 0);
    w.Real(40, 0), w.Real(41, 1), w.Real(50, 0);
    w.Int(71, 0);
    w.Real(42, 2.5);
    w.Pair(3, "txt");
    w.Pair(4, "");
    w.Pair(0, "ENDTAB");

    TableHead(w, "VIEW", 0);
    w.Pair(0, "ENDTAB");
    TableHead(w, "UCS", 0);
    w.Pair(0, "ENDTAB");

    std::string appid = TableHead(w, "APPID", 1);
    RecordHead(w, "APPID", appid, "AcDbRegAppTableRecord");
    w.Pair(2, "ACAD");
    w.Int(70, 0);
    w.Pair(0, "ENDTAB");

    std::string dimstyle = TableHead(w, "DIMSTYLE", 1);
    w.Pair(100, "AcDbDimStyleTable");
    w.Pair(0, "DIMSTYLE");
    w.Pair(105, w.NewHandle());
    w.Pair(330, dimstyle);
    w.Pair(100, "AcDbSymbolTableRecord");
    w.Pair(100, "AcDbDimStyleTableRecord");
    w.Pair(2, "Standard");
    w.Int(70, 0);
    w.Pair(0, "ENDTAB");

    std::string records = TableHead(w, "BLOCK_RECORD", 2);
    for (const auto& [handle, name] : {std::pair{model_record, "*Model_Space"}, std::pair{paper_record, "*Paper_Space"}}) {
      w.Pair(0, "BLOCK_RECORD");
      w.Pair(5, handle);
      w.Pair(330, records);
      w.Pair(100, "AcDbSymbolTableRecord");
      w.Pair(100, "AcDbBlockTableRecord");
      w.Pair(2, name);
    }
    w.Pair(0, "ENDTAB");
  }
  w.Pair(0, "ENDSEC");

  w.Pair(0, "SECTION");
  w.Pair(2, "BLOCKS");
  struct BlockDef {
    const std::string& owner;
    const char* name;
    bool paper;
  };
  for (const BlockDef& block : {BlockDef{model_record, "*Model_Space", false}, BlockDef{paper_record, "*Paper_Space", true}}) {
    const std::string& owner = block.owner;
    const char* name = block.name;
    const bool paper = block.paper;
    w.Pair(0, "BLOCK");
    w.Pair(5, w.NewHandle());
    w.Pair(330, owner);
    w.Pair(100, "AcDbEntity");
    if (paper) w.Int(67, 1);
    w.Pair(8, "0");
    w.Pair(100, "AcDbBlockBegin");
    w.Pair(2, name);
    w.Int(70, 0);
    w.Real(10, 0), w.Real(20, 0), w.Real(30, 0);
    w.Pair(3, name);
    w.Pair(1, "");
    w.Pair(0, "ENDBLK");
    w.Pair(5, w.NewHandle());
    w.Pair(330, owner);
    w.Pair(100, "AcDbEntity");
    if (paper) w.Int(67, 1);
    w.Pair(8, "0");
    w.Pair(100, "AcDbBlockEnd");
  }
  w.Pair(0, "ENDSEC");

  w.Pair(0, "SECTION");
  w.Pair(2, "ENTITIES");
  for (const DxfPolyline& pl : content.polylines) w.Polyline(pl, model_record);
  for (const DxfText& t : content.texts) w.TextEntity(t, model_record);
  w.Pair(0, "ENDSEC");

  w.Pair(0, "SECTION");
  w.Pair(2, "OBJECTS");
  w.Pair(0, "DICTIONARY");
  w.Pair(5, root_dict);
  w.Pair(330, "0");
  w.Pair(100, "AcDbDictionary");
  w.Int(281, 1);
  w.Pair(3, "ACAD_GROUP");
  w.Pair(350, group_dict);
  w.Pair(0, "DICTIONARY");
  w.Pair(5, group_dict);
  w.Pair(330, root_dict);
  w.Pair(100, "AcDbDictionary");
  w.Int(281, 1);
  w.Pair(0, "ENDSEC");
  w.Pair(0, "EOF");

  // The header last: the handle seed is known only now.
  DxfWriter h(dialect, 1);
  h.Pair(0, "SECTION");
  h.Pair(2, "HEADER");
  h.Pair(9, "$ACADVER");
  h.Pair(1, "AC1018");
  h.Pair(9, "$DWGCODEPAGE");
  h.Pair(3, "ANSI_936");
  h.Pair(9, "$INSBASE");
  h.Real(10, 0), h.Real(20, 0), h.Real(30, 0);
  h.Pair(9, "$EXTMIN");
  h.Real(10, extent.min_x), h.Real(20, extent.min_y), h.Real(30, extent.min_z);
  h.Pair(9, "$EXTMAX");
  h.Real(10, extent.max_x), h.Real(20, extent.max_y), h.Real(30, extent.max_z);
  h.Pair(9, "$HANDSEED");
  h.Pair(5, Hex(w.NextHandle()));
  h.Pair(0, "ENDSEC");
  return h.Bytes() + w.Bytes();
}

std::string SpliceDxf(std::string_view original, const DxfDrawing& drawing, const DxfContent& content) {
  const DxfSpliceInfo& info = drawing.splice;
  const DxfDialect dialect =
      DxfDialect::ForVersion(DxfVersionNumber(drawing.version), info.handling && info.has_handseed, drawing.codepage);
  uint64_t first = std::max(info.has_handseed ? info.handseed : 0, info.max_handle + 1);
  DxfWriter layers(dialect, first, info.line_end);
  if (info.layer_table_end != DxfSpliceInfo::npos) {
    for (const DxfLayer& l : content.layers) {
      const std::string name = DxfLayerName(l.name);
      bool known = false;
      for (const DxfLayer& existing : drawing.layers) {
        // Layer names compare without regard to case.
        if (existing.name.size() == name.size() &&
            std::equal(name.begin(), name.end(), existing.name.begin(),
                       [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) ==
                                                   std::toupper(static_cast<unsigned char>(b)); }))
          known = true;
      }
      if (!known) layers.LayerRecord({name, l.aci}, info.layer_table_handle);
    }
  }
  DxfWriter entities(dialect, layers.NextHandle(), info.line_end);
  for (const DxfPolyline& pl : content.polylines) entities.Polyline(pl, info.model_space_handle);
  for (const DxfText& t : content.texts) entities.TextEntity(t, info.model_space_handle);
  std::string entity_bytes = std::move(entities.Bytes());
  if (info.entities_end == DxfSpliceInfo::npos) {
    DxfWriter section(dialect, 0, info.line_end);
    section.Pair(0, "SECTION");
    section.Pair(2, "ENTITIES");
    DxfWriter end(dialect, 0, info.line_end);
    end.Pair(0, "ENDSEC");
    entity_bytes = section.Bytes() + entity_bytes + end.Bytes();
  }

  struct Edit {
    size_t at;
    size_t remove;
    std::string insert;
  };
  std::vector<Edit> edits;
  if (dialect.handles && info.has_handseed && entities.NextHandle() > info.handseed)
    edits.push_back({info.handseed_value, info.handseed_length, Hex(entities.NextHandle())});
  if (!layers.Bytes().empty()) edits.push_back({info.layer_table_end, 0, layers.Bytes()});
  size_t entities_at = info.entities_end != DxfSpliceInfo::npos ? info.entities_end
                       : info.objects_start != DxfSpliceInfo::npos ? info.objects_start
                                                                    : info.eof;
  if (entities_at == original.size() && !original.empty() && original.back() != '\n')
    entity_bytes.insert(0, info.line_end);  // the last line had no line end
  edits.push_back({entities_at, 0, entity_bytes});
  std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });

  std::string out;
  out.reserve(original.size() + entity_bytes.size() + layers.Bytes().size() + 64);
  size_t pos = 0;
  for (const Edit& e : edits) {
    out.append(original.substr(pos, e.at - pos));
    out.append(e.insert);
    pos = e.at + e.remove;
  }
  out.append(original.substr(pos));
  // A file that ended without its EOF pair (some writers omit it) gets one after the new section.
  if (info.entities_end == DxfSpliceInfo::npos && info.objects_start == DxfSpliceInfo::npos &&
      info.eof == original.size()) {
    DxfWriter eof(dialect, 0, info.line_end);
    eof.Pair(0, "EOF");
    out += eof.Bytes();
  }
  return out;
}

}  // namespace velmora
