// Text files of sources and connections: the map-source catalogue (every bad line reported and
// skipped, every record kept usable, its tile addresses buildable) and the proxy list
// "proxy.txt".
#include "core/proxy_list.h"
#include "fuzz_support.h"
#include "tiles/map_source.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::Setup();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const MapCatalogue catalogue = ParseMapCatalogue(text, "fuzz");
  for (const MapSourceDef& source : catalogue.sources) {
    FUZZ_CHECK(source.min_zoom <= source.max_zoom);
    FUZZ_CHECK(catalogue.group_names.size() == 26 && source.group >= 1 && source.group <= 25);
    if (!source.IsGeocoder()) BuildTileUrl(source, 3, 5, source.max_zoom);
  }
  fuzz::WriteFile(dir + "proxy.txt", text);
  CProxyList proxies;
  FUZZ_CHECK(proxies.Load(dir + "proxy.txt"));
  return 0;
}
