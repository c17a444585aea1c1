// The coordinate correction service as the tests play it: the number a request's query names,
// and a reply that carries the corrected longitude and latitude as base64 texts (encoded here on
// its own, not by the reader under test).
#pragma once
#include <cmath>
#include <cstdint>
#include <string>

#include "core/format.h"

namespace velmora::test {

inline std::string Base64(const std::string& bytes) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    out += abc[(group >> 18) & 63];
    out += abc[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? abc[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? abc[group & 63] : '=';
  }
  return out;
}

// The number after `name=` in a query; NaN when it is missing or not a number.
inline double QueryValue(const std::string& query, const std::string& name) {
  size_t at = query.find(name + "=");
  if (at == std::string::npos) return NAN;
  size_t end = query.find('&', at);
  return ParseDouble(query.substr(at + name.size() + 1, end == std::string::npos ? std::string::npos
                                                                                 : end - at - name.size() - 1))
      .value_or(NAN);
}

// A good reply: x and y written with `format` ("%.10f") and base64-encoded.
inline std::string CoordFixReply(double x, double y, const char* format = "%.10f") {
  return "{\"error\":0,\"x\":\"" + Base64(FormatC(format, x)) + "\",\"y\":\"" + Base64(FormatC(format, y)) + "\"}";
}

}  // namespace velmora::test
