// Fuzz entry point: the placemark reader of the place-name import on arbitrary bytes. Every place
// read has UTF-8 texts within their limit, a level of the table or none, a position within
// ±180/±90 and a box that is either whole and in range or all 0; the reader always comes to an end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "places/kml_place_reader.h"
#include "places/place_record.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  velmora::CKmlPlaceReader reader(text);
  FUZZ_CHECK(velmora::IsValidUtf8(reader.DocumentName()));
  velmora::KmlPlacemark place;
  size_t count = 0;
  while (reader.Next(&place)) {
    FUZZ_CHECK(++count <= size);  // a place takes at least one byte of the text
    FUZZ_CHECK(velmora::IsValidUtf8(place.name) && velmora::IsValidUtf8(place.style));
    FUZZ_CHECK(place.name.size() <= velmora::CKmlPlaceReader::kMaxTextBytes);
    FUZZ_CHECK(place.level == 0 || (place.level >= velmora::kPlaceCapital && place.level <= velmora::kPlaceVillage));
    FUZZ_CHECK(std::fabs(place.lng) <= 180 && std::fabs(place.lat) <= 90);
    if (place.has_box) {
      FUZZ_CHECK(std::fabs(place.north) <= 90 && std::fabs(place.south) <= 90);
      FUZZ_CHECK(std::fabs(place.east) <= 180 && std::fabs(place.west) <= 180);
    } else {
      FUZZ_CHECK(place.north == 0 && place.south == 0 && place.east == 0 && place.west == 0);
    }
    FUZZ_CHECK(reader.Position() <= reader.Size());
  }
  return 0;
}
