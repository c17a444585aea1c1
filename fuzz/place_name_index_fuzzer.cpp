// Fuzz entry point: the place-name tree's index ("adn.kan") from arbitrary bytes. A refusal
// leaves nothing and says why; whatever parses has every value in its range and encodes to bytes
// that parse again to the same groups.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "places/place_name_index.h"
#include "platform/text.h"

namespace {

void CheckRecord(const velmora::PlaceRecord& r) {
  FUZZ_CHECK(velmora::IsPlaceLevel(r.type));
  FUZZ_CHECK(r.id >= 0 && r.parent_id >= 0);
  FUZZ_CHECK(velmora::IsValidUtf8(r.name));
  for (double v : {r.lng, r.lat, r.west, r.north, r.east, r.south}) FUZZ_CHECK(std::isfinite(v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<velmora::PlaceIndexGroup> groups;
  std::string error;
  if (!velmora::ParsePlaceIndex(data, size, &groups, &error)) {
    FUZZ_CHECK(groups.empty() && !error.empty());
    return 0;
  }
  for (const velmora::PlaceIndexGroup& g : groups) {
    CheckRecord(g.top);
    for (const velmora::PlaceRecord& c : g.children) CheckRecord(c);
  }
  const std::vector<uint8_t> again = velmora::EncodePlaceIndex(groups);
  std::vector<velmora::PlaceIndexGroup> reread;
  FUZZ_CHECK(velmora::ParsePlaceIndex(again.data(), again.size(), &reread, &error));
  FUZZ_CHECK(reread == groups);
  return 0;
}
