// Fuzz entry point: the placemark reader of the place-name import on arbitrary bytes. Every place
// read has UTF-8 texts within their limit, a level of the table, a position within ±180/±90 and a
// box that is either whole and in range or all 0; the reader always comes to an end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "places/kml_place_reader.h"
#include "places/place_record.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  velmora::CKmlPlaceReader reader(text);
  if (!velmora::IsValidUtf8(reader.DocumentName())) __builtin_trap();
  velmora::KmlPlacemark place;
  size_t count = 0;
  while (reader.Next(&place)) {
    if (++count > size) __builtin_trap();  // a place takes at least one byte of the text
    if (!velmora::IsValidUtf8(place.name) || !velmora::IsValidUtf8(place.style)) __builtin_trap();
    if (place.name.size() > velmora::CKmlPlaceReader::kMaxTextBytes) __builtin_trap();
    if (place.level != 0 && (place.level < velmora::kPlaceCapital || place.level > velmora::kPlaceVillage)) __builtin_trap();
    if (!(std::fabs(place.lng) <= 180) || !(std::fabs(place.lat) <= 90)) __builtin_trap();
    if (place.has_box) {
      if (!(std::fabs(place.north) <= 90) || !(std::fabs(place.south) <= 90) || !(std::fabs(place.east) <= 180) ||
          !(std::fabs(place.west) <= 180))
        __builtin_trap();
    } else if (place.north != 0 || place.south != 0 || place.east != 0 || place.west != 0) {
      __builtin_trap();
    }
    if (reader.Position() > reader.Size()) __builtin_trap();
  }
  return 0;
}
