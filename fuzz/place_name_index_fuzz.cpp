// Fuzz entry point: the place-name tree's index ("adn.kan") from arbitrary bytes. Whatever parses
// encodes to bytes that parse again to the same groups, and every value read is in its range.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "places/place_name_index.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<velmora::PlaceIndexGroup> groups;
  std::string error;
  if (!velmora::ParsePlaceIndex(data, size, &groups, &error)) {
    if (!groups.empty() || error.empty()) __builtin_trap();  // a refusal leaves nothing and says why
    return 0;
  }
  auto check = [](const velmora::PlaceRecord& r) {
    if (!velmora::IsPlaceLevel(r.type) || r.id < 0 || r.parent_id < 0 || !velmora::IsValidUtf8(r.name)) __builtin_trap();
    for (double v : {r.lng, r.lat, r.west, r.north, r.east, r.south})
      if (!std::isfinite(v)) __builtin_trap();
  };
  for (const velmora::PlaceIndexGroup& g : groups) {
    check(g.top);
    for (const velmora::PlaceRecord& c : g.children) check(c);
  }
  const std::vector<uint8_t> again = velmora::EncodePlaceIndex(groups);
  std::vector<velmora::PlaceIndexGroup> reread;
  if (!velmora::ParsePlaceIndex(again.data(), again.size(), &reread, &error) || reread != groups) __builtin_trap();
  return 0;
}
