// Fuzz entry point of the DXF reader (the reader of drawings that DXF output adds to and merges
// from). Any bytes must read or fail cleanly; a drawing that reads must stay readable after new
// entities are spliced into it, with every byte it held kept.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "exchange/dxf_reader.h"
#include "exchange/dxf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DxfReadLimits limits;
  limits.max_line_bytes = 1 << 16;
  limits.max_points = 1 << 16;
  DxfDrawing drawing;
  std::string error;
  if (!ReadDxf(bytes, &drawing, &error, limits)) return 0;

  DxfContent content;
  content.layers = {{"等高线", 3}};
  DxfPolyline line;
  line.layer = "等高线";
  line.elevation = 100;
  line.true_color = 0x3C8D2F;
  line.points = {{0, 0, 100}, {1.5, 2.25, 100}};
  content.polylines.push_back(line);
  DxfText text;
  text.text = "100 <&>";
  content.texts.push_back(text);
  const std::string spliced = SpliceDxf(bytes, drawing, content);
  if (spliced.size() < size) __builtin_trap();  // bytes were lost
  DxfDrawing again;
  limits.max_points = 1 << 17;
  if (!ReadDxf(spliced, &again, &error, limits)) __builtin_trap();  // the splice broke the file
  if (again.polylines.size() != drawing.polylines.size() + 1) __builtin_trap();
  return 0;
}
