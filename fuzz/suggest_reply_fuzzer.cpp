// Fuzz entry point: the suggestion reply parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "places/geo_result.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::AddressHitList hits;
  velmora::ParseSuggestReply(std::string_view(reinterpret_cast<const char*>(data), size), hits);
  for (const velmora::AddressHit& h : hits) {
    if (h.lat < -90 || h.lat > 90 || h.lng < -180 || h.lng > 180) __builtin_trap();
  }
  return 0;
}
