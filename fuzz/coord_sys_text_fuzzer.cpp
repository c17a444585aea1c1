// Fuzz entry point: "x,y,z" lines as the coordinate-system converter reads them, converted from
// longitude/latitude to Mercator (the first byte chooses the separator and the skipped columns).
// Every non-blank line becomes one output line: a converted point or an error line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/projection.h"
#include "places/coord_file.h"
#include "places/coord_sys_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  if (size == 0) return 0;
  static const char* const kSeparators[] = {",", ";", " ", "::"};
  CoordSysConvertOptions options;
  options.source = kCoordLonLat;
  options.target = kCoordMercator;
  options.separator = kSeparators[data[0] % 4];
  options.skip_columns = (data[0] >> 2) % 3;
  const std::string text = DecodeCoordFileText(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  size_t lines = 0;
  ForEachCoordLine(text, [&](size_t, std::string_view) { ++lines; });
  CoordSysResult r = ConvertCoordSystemText(text, options);
  if (lines == 0 && r.status != CoordSysStatus::kEmptyInput) __builtin_trap();
  if (lines > 0 && (r.status != CoordSysStatus::kOk || r.points + r.issues.size() != lines)) __builtin_trap();
  return 0;
}
