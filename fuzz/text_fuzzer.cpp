// Text at the boundaries: GBK and UTF-8 conversions, the ASCII trim and compare, and the number
// and angle parsers that read what people type. Conversions always give well-formed text, and a
// parsed number prints back to itself.
#include <cmath>
#include <string>

#include "core/format.h"
#include "fuzz_support.h"
#include "platform/text.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Setup();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t replaced = 0;
  const std::string utf8 = AnsiToUtf8(text, &replaced);
  FUZZ_CHECK(IsValidUtf8(utf8));
  const std::string gbk = Utf8ToAnsi(text, &replaced);
  if (IsValidUtf8(text) && replaced == 0) FUZZ_CHECK(AnsiToUtf8(gbk) == text);
  FUZZ_CHECK(IsValidUtf8(AnsiToUtf8(gbk)));

  const std::string_view trimmed = TrimAscii(text);
  FUZZ_CHECK(trimmed.empty() || (!IsAsciiSpace(trimmed.front()) && !IsAsciiSpace(trimmed.back())));
  FUZZ_CHECK(EqualsNoCaseAscii(text, text));

  if (std::optional<double> v = ParseDouble(text)) {
    FUZZ_CHECK(std::isfinite(*v));
    FUZZ_CHECK(ParseDouble(FormatC("%.17g", *v)) == *v);
  }
  if (std::optional<long long> n = ParseInt(text)) FUZZ_CHECK(ParseInt(std::to_string(*n)) == *n);
  double degrees = 12345.0;
  if (ParseDms(text, &degrees)) {
    FUZZ_CHECK(std::isfinite(degrees));
    double back = 0;
    FUZZ_CHECK(ParseDms(FormatDms(degrees), &back));
    FUZZ_CHECK(std::fabs(back - degrees) <= 1e-4 / 3600 + 1e-9 * std::fabs(degrees));
  } else {
    FUZZ_CHECK(degrees == 12345.0);
  }
  return 0;
}
