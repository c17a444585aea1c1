// Two-line element sets: the reader walks through a whole file of sets, and every set it takes
// must propagate to finite positions or report a status, never NaN.
#include <cmath>
#include <string_view>

#include "fuzz_support.h"
#include "terrain/sat_orbit.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Setup();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (int sets = 0; !text.empty() && sets < 64; ++sets) {
    CSatOrbit orbit;
    size_t consumed = 0;
    const int read = orbit.ParseTle(text, &consumed);
    if (read != 1) break;
    FUZZ_CHECK(consumed > 0 && consumed <= text.size());
    text.remove_prefix(consumed);
    const double epoch = orbit.Elements().epoch_julian;
    for (double minutes : {0.0, 97.5, -1440.0, 10080.0}) {
      if (!orbit.ComputeAt(epoch + minutes / 1440.0)) continue;
      const SatState& s = orbit.Last();
      FUZZ_CHECK(std::isfinite(s.latitude) && std::isfinite(s.longitude) && std::isfinite(s.height));
      FUZZ_CHECK(s.latitude >= -90.0 && s.latitude <= 90.0 && s.longitude >= -180.0 && s.longitude <= 180.0);
    }
  }
  return 0;
}
