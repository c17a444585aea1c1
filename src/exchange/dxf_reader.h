// Reading ASCII DXF files: the group-code pairs, the sections, and what the program takes from a
// drawing: its version and code page, its layers, the polylines (POLYLINE, LWPOLYLINE, LINE) and
// texts (TEXT, MTEXT) of model space, and where new content may be spliced into the file without
// touching a byte of what it holds (the end of the ENTITIES section, the end of the LAYER table,
// the handle seed and the owner of model-space entities).
//
// The reader trusts nothing in the file: every line and value is bounded, every number is
// checked, counts written in the file (vertex counts) are never used to size anything, and a
// structure that does not close (a section without ENDSEC, a pair cut off by the end of the
// file) fails the read with the line where it happened.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Colour of an entity: an AutoCAD colour index (1-255; 0 by block, 256 by layer) and, from
// DXF R2004 on, an optional true colour 0xRRGGBB.
inline constexpr int kAciByBlock = 0;
inline constexpr int kAciByLayer = 256;

struct DxfVertex {
  double x = 0, y = 0, z = 0;
};

struct DxfPolyline {
  std::string layer = "0";
  int aci = kAciByLayer;
  std::optional<uint32_t> true_color;
  bool closed = false;
  // A 2D polyline lies at `elevation`; a 3D one has a z per vertex.
  bool is_3d = false;
  double elevation = 0;
  // The elevation was written (POLYLINE group 30; LWPOLYLINE and LINE always have one, 0 by
  // default): a POLYLINE head without it has no level of its own.
  bool has_elevation = false;
  std::vector<DxfVertex> points;
};

struct DxfText {
  std::string layer = "0";
  int aci = kAciByLayer;
  std::optional<uint32_t> true_color;
  bool mtext = false;
  double x = 0, y = 0, z = 0;
  double height = 1;
  double rotation = 0;  // degrees
  std::string text;     // UTF-8; DXF control codes (%%d, \P, ...) kept as written
  std::string style;
  // TEXT: horizontal (72) and vertical (73) justification and the alignment point (11/21);
  // MTEXT: attachment point (71) and reference width (41).
  int halign = 0, valign = 0;
  bool has_align_point = false;
  double align_x = 0, align_y = 0;
  int attachment = 1;
  double width = 0;
};

struct DxfLayer {
  std::string name;
  int aci = 7;
};

// Where new content goes into an existing file. Offsets are byte offsets of the start of a
// group-code line in the file.
struct DxfSpliceInfo {
  static constexpr size_t npos = static_cast<size_t>(-1);
  size_t entities_end = npos;   // the "0 / ENDSEC" pair that closes the ENTITIES section
  size_t objects_start = npos;  // the "0 / SECTION" pair that opens the OBJECTS section
  size_t eof = npos;            // the "0 / EOF" pair, else the end of the file
  size_t layer_table_end = npos;  // the "0 / ENDTAB" pair that closes the LAYER table
  std::string layer_table_handle;
  std::string model_space_handle;  // the BLOCK_RECORD "*Model_Space"
  bool has_handseed = false;
  size_t handseed_value = npos;  // offset and length of the $HANDSEED value text (its line)
  size_t handseed_length = 0;
  uint64_t handseed = 0;
  uint64_t max_handle = 0;  // the largest handle the file uses
  bool handling = false;    // R12: $HANDLING 1 (entities carry handles)
  std::string line_end = "\n";  // the file's line ending
};

struct DxfDrawing {
  std::string version = "AC1009";  // $ACADVER; files without one are R12 or older
  std::string codepage;            // $DWGCODEPAGE
  std::vector<DxfLayer> layers;
  std::vector<DxfPolyline> polylines;  // model space only
  std::vector<DxfText> texts;          // model space only
  DxfSpliceInfo splice;
};

struct DxfReadLimits {
  size_t max_file_bytes = size_t(1) << 30;  // 1 GiB
  size_t max_line_bytes = size_t(1) << 20;  // one group code or value line
  size_t max_points = size_t(1) << 26;      // vertices of all polylines together
};

// The DXF release of a version string ("AC1009" R12, "AC1015" R2000, "AC1018" R2004,
// "AC1021" R2007, ...): the number after "AC", 0 when the text is not of that form.
int DxfVersionNumber(std::string_view acadver);

// Reads a DXF file from memory. False with the reason (and line number) in *error for bytes
// that are not an ASCII DXF drawing (binary DXF included) or break a limit.
bool ReadDxf(std::string_view bytes, DxfDrawing* out, std::string* error = nullptr,
             const DxfReadLimits& limits = {});
// Reads the file at `path` (the whole file is read first).
bool ReadDxfFile(const std::string& path, DxfDrawing* out, std::string* error = nullptr,
                 const DxfReadLimits& limits = {});

// A DXF text value of a file of `version` and code page `codepage` as UTF-8: R2007 and later are
// UTF-8 already (bad bytes become U+FFFD); older files are in their code page (ANSI_936 is GBK,
// any other is read as Latin-1), with "\U+XXXX" escapes decoded.
std::string DecodeDxfText(std::string_view value, std::string_view version, std::string_view codepage);

}  // namespace velmora
