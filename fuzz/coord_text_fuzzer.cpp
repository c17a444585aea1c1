// Fuzz entry point: coordinate text as the format converter reads it from a file. The first byte
// chooses the source notation and separator; the rest are the file's bytes (GBK or UTF-8). Every
// non-blank line becomes exactly one output line, a point inside the longitude/latitude range or
// an error line.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "places/coord_file.h"
#include "places/coord_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  CoordFormatSettings s;
  s.source_format = mode % 3;
  static const char* const kSeparators[] = {",", " ", "\t", ";;", "，"};
  s.source_separator = kSeparators[(mode / 3) % 5];
  s.source_lat_first = (mode & 0x20) != 0;
  s.skip_columns = (mode & 0x40) ? 1 : 0;
  s.target_format = (mode & 0x80) ? kNotationDms : kNotationDegrees;
  const std::string text = DecodeCoordFileText(bytes);

  size_t lines = 0;
  CCoordLineReader reader(s);
  ForEachCoordLine(text, [&](size_t, std::string_view line) {
    ++lines;
    GeoPoint p;
    if (reader.Read(line, &p) == CoordLineError::kNone &&
        !(std::fabs(p.lng) <= 180.0 && std::fabs(p.lat) <= 90.0))
      __builtin_trap();
  });
  for (CoordTextEncoding encoding : {CoordTextEncoding::kUtf8, CoordTextEncoding::kGbk}) {
    CoordTextResult r = ConvertCoordText(text, s, encoding);
    if (r.points + r.issues.size() != lines) __builtin_trap();
    size_t breaks = 0;
    for (size_t at = r.output.find("\r\n"); at != std::string::npos; at = r.output.find("\r\n", at + 2)) ++breaks;
    if (breaks < lines) __builtin_trap();
  }
  double v = 0;
  if (ParsePackedDms(bytes, &v) && !std::isfinite(v)) __builtin_trap();
  return 0;
}
