// Replies of web services read by the program: the elevation service's JSON (scanned sample by
// sample), the geocoders' status texts, and the checks that tell an HTML error page from a tile.
#include <cmath>
#include <string_view>

#include "core/http.h"
#include "fuzz_support.h"
#include "terrain/elev_cache_db.h"
#include "tiles/tile.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Setup();
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  for (bool quoted : {false, true}) {
    size_t cursor = 0;
    ElevReplySample sample;
    for (int n = 0; n <= static_cast<int>(size); ++n) {
      const size_t before = cursor;
      const int scan = ScanElevationReply(reply, &cursor, quoted, &sample);
      if (scan != 0) break;
      FUZZ_CHECK(cursor > before && cursor <= size);  // always moves on: the walk ends
      FUZZ_CHECK(std::isfinite(sample.elevation) && sample.lat >= -90 && sample.lat <= 90 &&
                 sample.lng >= -180 && sample.lng <= 180);
    }
  }
  for (int source : {8, 111, 112, 0}) {
    const CGeocodeReply::Check check = CGeocodeReply::CheckReply(source, data, size);
    FUZZ_CHECK(!(check.ok && source == 0));
  }
  HttpResult result;
  result.body.assign(data, data + size);
  for (const char* type : {"", "text/html; charset=gbk", "image/png"}) {
    result.content_type = type;
    result.IsHtml();
  }
  CImageTile tile(0, 0);
  tile.CheckErrorPage(data, data + size);
  CGeocodeReply geocode(0, 0);
  geocode.SetData(data, size);
  return 0;
}
