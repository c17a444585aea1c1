// Fuzz entry point: a reply of the coordinate conversion service. A reply that decodes gives two
// finite numbers; base64 that decodes has the length its padding says.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "places/coord_batch_fix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  double x = 0, y = 0;
  if (DecodeCoordFixReply(reply, &x, &y) && !(std::isfinite(x) && std::isfinite(y))) __builtin_trap();
  std::string decoded;
  if (DecodeBase64(reply, &decoded)) {
    size_t padding = (reply.back() == '=') + (reply.size() >= 2 && reply[reply.size() - 2] == '=');
    if (decoded.size() != reply.size() / 4 * 3 - padding) __builtin_trap();
  }
  float lng = 0, lat = 0;
  if (CorrectCoordFix(120.0f, 36.0f, x, y, &lng, &lat) && !(std::fabs(lng) <= 180.0f && std::fabs(lat) <= 90.0f))
    __builtin_trap();
  return 0;
}
