// The bounded scanners of the web reply parsers (places/geo_result.cpp), for readers of other
// reply forms: each search stays inside [from, limit) and the reply's end, texts are decoded
// from JSON strings as UTF-8, numbers are read without the locale.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::reply_scan {

inline constexpr size_t npos = std::string_view::npos;

// The reply as UTF-8: itself when it is valid UTF-8, else decoded as GBK into `storage`.
std::string_view Utf8Text(std::string_view reply, std::string& storage);
// The first key `"name"` followed by ':' whose quote lies in [from, limit): its position, and in
// *value the position of its value's first byte; npos when none.
size_t FindKeyValue(std::string_view text, std::string_view name, size_t from, size_t limit, size_t* value);
// The first key `"name"` in [from, limit) whose value is a string: the decoded text, *end after
// its closing quote. False when there is none or its closing quote is missing.
bool StringValue(std::string_view text, std::string_view name, size_t from, size_t limit, std::string* out,
                 size_t* end);
// The number of the first key `"name"` in [from, limit); false when none can be read there.
bool NumberValue(std::string_view text, std::string_view name, size_t from, size_t limit, double* out,
                 size_t* end);
// A finite number at `pos` (blanks first).
bool NumberAt(std::string_view text, size_t pos, double* out, size_t* end);
// Coordinates outside the world are unreadable: 0.
double LatOrZero(double v);
double LngOrZero(double v);

}  // namespace velmora::reply_scan
