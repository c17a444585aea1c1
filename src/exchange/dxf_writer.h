// Writing DXF: group-code pairs in the dialect of a DXF release, the polylines, texts and layer
// records of the program, a whole new drawing, and the splicing of new entities into an existing
// drawing that leaves every byte it held in place.
//
// New drawings are AutoCAD 2004 DXF ("AC1018", the first release with true colours) in the
// Chinese code page ANSI_936 (GBK), characters GBK lacks as AutoCAD's "\U+XXXX" escapes: every
// reader decodes a drawing code page, while UTF-8 drawings (R2007 and later) are still read as
// Latin-1 by GDAL 3.6.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/dxf_reader.h"

namespace velmora {

// What a DXF release allows, by its "AC" number.
struct DxfDialect {
  int version = 1018;
  bool handles = true;      // entities carry handles (always from R13; R12 with $HANDLING 1)
  bool subclasses = true;   // subclass markers and owner handles (R13 and later)
  bool lwpolyline = true;   // LWPOLYLINE (R14 and later)
  bool true_color = true;   // group 420 (R2004 and later)
  bool utf8 = true;         // strings in UTF-8 (R2007 and later), else in the code page
  bool gbk = false;         // the code page is ANSI_936 (GBK); other characters as "\U+XXXX"

  static DxfDialect ForVersion(int version, bool r12_handles, std::string_view codepage = {});
};

// The AutoCAD colour index nearest to an RGB colour (1-255), and the RGB of an index.
int NearestAci(uint32_t rgb);
uint32_t AciToRgb(int aci);
// A layer name as DXF allows it: the characters < > / \ " : ; ? * | = ` become '_', an empty
// name becomes "0".
std::string DxfLayerName(std::string_view name);

// Group-code pairs of one dialect into memory.
class DxfWriter {
 public:
  DxfWriter(DxfDialect dialect, uint64_t first_handle, std::string line_end = "\n");

  void Pair(int code, std::string_view value);
  void Int(int code, long long value);
  // Shortest decimal that reads back to the same double, never in exponent form.
  void Real(int code, double value);
  // A UTF-8 text in the dialect's encoding; line breaks and other controls become spaces.
  void Text(int code, std::string_view utf8);

  std::string NewHandle();
  uint64_t NextHandle() const { return next_handle_; }
  const DxfDialect& dialect() const { return dialect_; }
  std::string& Bytes() { return out_; }

  // Entities and layer records, owned by `owner` (the model-space block record or the LAYER
  // table; ignored by dialects without owners).
  void Polyline(const DxfPolyline& polyline, std::string_view owner);
  void TextEntity(const DxfText& text, std::string_view owner);
  void LayerRecord(const DxfLayer& layer, std::string_view owner);

 private:
  std::string EntityHead(std::string_view type, std::string_view layer, int aci,
                         const std::optional<uint32_t>& true_color, std::string_view owner);
  std::string Encode(std::string_view utf8) const;

  DxfDialect dialect_;
  uint64_t next_handle_;
  std::string line_end_;
  std::string out_;
};

// Content to write: the layers the entities use (with their colours), polylines and texts.
struct DxfContent {
  std::vector<DxfLayer> layers;
  std::vector<DxfPolyline> polylines;
  std::vector<DxfText> texts;
};

// A whole new drawing holding the content: AutoCAD 2004 DXF in code page ANSI_936 with the tables, blocks and objects
// that AutoCAD and other readers require, the view set to the content's extent.
std::string WriteDxfDocument(const DxfContent& content);

// The existing file `original` (read into `drawing`) with the content's entities added at the
// end of its ENTITIES section (a section is made when it has none), the layers it lacks added
// to its LAYER table and its handle seed moved past the new handles; every other byte stays as
// it was. The entities take the dialect of the file's release.
std::string SpliceDxf(std::string_view original, const DxfDrawing& drawing, const DxfContent& content);

}  // namespace velmora
