// Fuzz entry point: the geocoder reply parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>

#include "places/geo_result.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::deque<velmora::GeoResult> out;
  velmora::ParseGeocoderReply(std::string_view(reinterpret_cast<const char*>(data), size), out);
  for (const velmora::GeoResult& r : out) {
    if (r.zoom < 0 || r.zoom > 22 || r.lat < -90 || r.lat > 90 || r.lng < -180 || r.lng > 180) __builtin_trap();
  }
  return 0;
}
