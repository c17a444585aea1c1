// Reply parsers of the web place services: key patterns found by scanning, texts decoded from
// JSON strings, numbers read without the locale, every search bounded by the reply's end.
#include "places/geo_result.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "places/reply_scan.h"
#include "platform/text.h"

namespace velmora {
namespace {

constexpr size_t npos = std::string_view::npos;
constexpr int kMaxBoundsZoom = 22;
constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t SkipBlanks(std::string_view text, size_t pos) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  return pos;
}

// When a key `"name"` starts at `quote`, followed by blanks, ':' and blanks: the position of its
// value; else npos.
size_t ValueAfterKey(std::string_view text, size_t quote, std::string_view name) {
  if (quote >= text.size() || text[quote] != '"') return npos;
  std::string_view rest = text.substr(quote + 1);
  if (rest.size() <= name.size() || rest.substr(0, name.size()) != name || rest[name.size()] != '"') return npos;
  size_t p = SkipBlanks(text, quote + 1 + name.size() + 1);
  if (p >= text.size() || text[p] != ':') return npos;
  return SkipBlanks(text, p + 1);
}

struct KeyHit {
  size_t key = npos;    // the key's opening quote
  size_t value = npos;  // the value's first byte
  bool found() const { return key != npos; }
};

// The first key `"name"` (followed by ':') whose quote lies in [from, limit).
KeyHit FindKey(std::string_view text, std::string_view name, size_t from, size_t limit) {
  limit = std::min(limit, text.size());
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted.push_back('"');
  quoted.append(name);
  quoted.push_back('"');
  // The scan stops at `limit`, so that repeated look-ups inside one result cost that result's
  // length, not the rest of the reply.
  const std::string_view window = text.substr(0, limit);
  size_t at = from;
  while (at < limit) {
    at = window.find(quoted, at);
    if (at == npos) break;
    size_t value = ValueAfterKey(text, at, name);
    if (value != npos) return {at, value};
    ++at;
  }
  return {};
}

// The first key `"name"` in [from, limit) whose value is a string; value = after its quote.
KeyHit FindStringKey(std::string_view text, std::string_view name, size_t from, size_t limit) {
  for (;;) {
    KeyHit hit = FindKey(text, name, from, limit);
    if (!hit.found()) return hit;
    if (hit.value < text.size() && text[hit.value] == '"') return {hit.key, hit.value + 1};
    from = hit.key + 1;
  }
}

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp == '\n' || cp == '\r' || cp == '\t') {
    out.push_back(' ');
  } else if (cp < 0x20 || cp == 0x7F || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    out += kReplacement;
  } else if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Four hexadecimal digits at `pos`.
bool Hex4(std::string_view text, size_t pos, uint32_t* value) {
  if (pos > text.size() || text.size() - pos < 4) return false;
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) {
    char c = text[pos + i];
    uint32_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    else return false;
    v = v * 16 + d;
  }
  *value = v;
  return true;
}

// The string whose text starts at `start` (after its opening quote), decoded, up to the
// closing quote; *end is the position after that quote. False when no closing quote follows.
bool TakeString(std::string_view text, size_t start, std::string* out, size_t* end) {
  out->clear();
  size_t i = start;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      *end = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size()) return false;
      const char e = text[i + 1];
      i += 2;
      switch (e) {
        case 'n': case 'r': case 't': out->push_back(' '); break;
        case 'b': case 'f': *out += kReplacement; break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(text, i, &cp)) {
            *out += kReplacement;
            break;
          }
          i += 4;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            if (i + 1 < text.size() && text[i] == '\\' && text[i + 1] == 'u' && Hex4(text, i + 2, &low) &&
                low >= 0xDC00 && low <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
              i += 6;
            } else {
              cp = 0xFFFD;
            }
          }
          AppendCodePoint(*out, cp);
          break;
        }
        default: out->push_back(e); break;  // \" \\ \/ and unknown escapes: the character
      }
      continue;
    }
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      if (u < 0x20 || u == 0x7F) AppendCodePoint(*out, u);
      else out->push_back(c);
      ++i;
      continue;
    }
    // Each text is checked on its own: a byte that starts no well-formed UTF-8 sequence becomes
    // U+FFFD and the rest of the text stays as it is. (A continuation byte is never a quote,
    // so a sequence cannot run over the closing quote.)
    const size_t n = Utf8SequenceLength(text.substr(i, 4));
    if (n == 0) {
      *out += kReplacement;
      ++i;
    } else {
      out->append(text.substr(i, n));
      i += n;
    }
  }
  return false;
}

// The position after the closing quote of the string whose opening quote is at `quote`; npos
// when it does not close.
size_t StringEnd(std::string_view text, size_t quote) {
  for (size_t i = quote + 1; i < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    else if (text[i] == '"') return i + 1;
  }
  return npos;
}

// The position after the '}' or ']' that closes the object or array opening at `open`; npos
// when the reply ends first or `open` opens neither.
size_t ContainerEnd(std::string_view text, size_t open) {
  if (open >= text.size() || (text[open] != '{' && text[open] != '[')) return npos;
  size_t depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      i = StringEnd(text, i);
      if (i == npos) return npos;
      --i;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return i + 1;
    }
  }
  return npos;
}

// One record of a result list: an object [begin, end) that holds the record's key itself (not
// only inside a nested object); `value` is where that key's value starts.
struct RecordSpan {
  size_t begin = 0;
  size_t end = 0;
  size_t value = 0;
};

// The closed objects from `from` on that hold the key `name` themselves, in the order in which
// they open. With `one_value` the walk ends where the object or array opening at `from` closes;
// otherwise it runs to the end of the reply (closers without an opener are passed over). An
// object that never closes (a cut reply) is no record: its last number may be cut short too.
std::vector<RecordSpan> FindRecords(std::string_view text, std::string_view name, size_t from, bool one_value) {
  struct Open {
    size_t pos;
    bool object;
    size_t value;
  };
  std::vector<Open> stack;
  std::vector<RecordSpan> records;
  for (size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      const size_t end = StringEnd(text, i);
      if (end == npos) break;
      if (!stack.empty() && stack.back().object && stack.back().value == npos) {
        const size_t value = ValueAfterKey(text, i, name);
        if (value != npos) stack.back().value = value;
      }
      i = end - 1;
    } else if (c == '{' || c == '[') {
      stack.push_back({i, c == '{', npos});
    } else if (c == '}' || c == ']') {
      if (stack.empty()) continue;
      const Open top = stack.back();
      stack.pop_back();
      if (top.object && top.value != npos) records.push_back({top.pos, i + 1, top.value});
      if (stack.empty() && one_value) break;
    }
  }
  std::sort(records.begin(), records.end(), [](const RecordSpan& a, const RecordSpan& b) { return a.begin < b.begin; });
  return records;
}

// A finite number at `pos` (blanks first); *end after it. False when none can be read there.
bool TakeNumber(std::string_view text, size_t pos, double* value, size_t* end) {
  pos = SkipBlanks(text, pos);
  if (pos >= text.size()) return false;
  const char* first = text.data() + pos;
  const char* last = text.data() + text.size();
  // from_chars also reads "inf" and "nan", which no coordinate is.
  if (!((*first >= '0' && *first <= '9') || *first == '-' || *first == '.')) return false;
  double v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::general);
  if (ec != std::errc() || !std::isfinite(v)) return false;
  *value = v;
  *end = static_cast<size_t>(ptr - text.data());
  return true;
}

// A place outside the world is no place: its result is dropped.
bool InWorld(double lat, double lng) { return lat >= -90.0 && lat <= 90.0 && lng >= -180.0 && lng <= 180.0; }

// The number inside the string whose text starts at `start` (after its quote): the whole text
// must be the number.
bool QuotedNumber(std::string_view text, size_t start, double* value) {
  std::string digits;
  size_t end = 0;
  if (!TakeString(text, start, &digits, &end)) return false;
  size_t number_end = 0;
  const std::string_view d = TrimAscii(digits);
  return TakeNumber(d, 0, value, &number_end) && number_end == d.size();
}

// The number of a key `"name"` in [from, limit); *end after the number.
bool KeyNumber(std::string_view text, std::string_view name, size_t from, size_t limit, double* value,
               size_t* end) {
  KeyHit hit = FindKey(text, name, from, limit);
  return hit.found() && TakeNumber(text, hit.value, value, end);
}

// Zoom of one axis: 1 + bit count of trunc(full / span); 0 when the span says nothing.
int AxisZoom(double span, double full) {
  span = std::fabs(span);
  if (!(span > 0) || !std::isfinite(span)) return 0;
  const double n = std::trunc(full / span);
  if (n < 1) return 1;
  if (n >= double(1u << 30)) return kMaxBoundsZoom;
  return 1 + std::bit_width(static_cast<uint32_t>(n));
}

std::string JoinNameAddress(const std::string& name, const std::string& address) {
  std::string text = name;
  text += " - ";
  text += address;
  return text;
}

}  // namespace

int ZoomFromBounds(double lat1, double lng1, double lat2, double lng2) {
  const int zx = AxisZoom(lng2 - lng1, 360.0);
  const int zy = AxisZoom(lat2 - lat1, 180.0);
  return std::min(std::max(zx, zy), kMaxBoundsZoom);
}

bool ParseGeocoderReply(std::string_view text, std::deque<GeoResult>& out) {
  GeoResult* current = nullptr;  // always out.front(): results are added at the front
  bool located = false;          // the current result has taken its location
  bool dropped = false;          // the current result has a place that cannot be right
  auto close_result = [&] {
    if (current != nullptr && dropped) out.pop_front();
    current = nullptr;
    located = dropped = false;
  };
  // The end of the current result's text: where the next result's components begin. Found once
  // per result (the walk only moves forward).
  size_t next_result = 0;
  bool next_result_known = false;
  auto result_end = [&](size_t from) {
    if (!next_result_known || next_result < from) {
      next_result = text.find("\"address_components\"", from);
      if (next_result == npos) next_result = text.size();
      next_result_known = true;
    }
    return next_result;
  };
  // The object that a key's value opens, [value, end); empty when the value is no closed object.
  auto object_end = [&](size_t value) {
    const size_t end = value < text.size() && text[value] == '{' ? ContainerEnd(text, value) : npos;
    return end == npos ? value : end;
  };
  size_t pos = 0;
  while ((pos = text.find('"', pos)) != npos) {
    const std::string_view rest = text.substr(pos + 1);
    if (rest.starts_with("address_components\"")) {
      close_result();
      out.emplace_front();
      current = &out.front();
      pos += 20;
      continue;
    }
    size_t value = ValueAfterKey(text, pos, "long_name");
    if (value != npos && value < text.size() && text[value] == '"') {
      std::string name;
      size_t end = 0;
      if (!TakeString(text, value + 1, &name, &end)) break;
      pos = end;
      if (current == nullptr) continue;  // a component outside any result
      // Only the first type of the component's own list counts; the search stops at the next
      // component so that a component without types does not take its neighbour's.
      const size_t limit = std::min(text.find("\"long_name\"", pos), result_end(pos));
      int type = kAddrUnknown;
      KeyHit types = FindKey(text, "types", pos, limit);
      if (types.found() && types.value < text.size() && text[types.value] == '[') {
        size_t q = SkipBlanks(text, types.value + 1);
        std::string type_name;
        size_t type_end = 0;
        if (q < text.size() && text[q] == '"' && TakeString(text, q + 1, &type_name, &type_end))
          type = AddressTypeFromName(type_name);
      }
      if (type == kAddrPostalCode || type == kAddrPostalCodePrefix) continue;
      current->components.push_front({std::move(name), type});
      continue;
    }
    value = ValueAfterKey(text, pos, "location");
    if (value != npos) {
      if (current == nullptr || located) {
        close_result();
        return false;
      }
      // Latitude and longitude are read inside the location object, in either order. Neither
      // leaves the place unknown (0, 0); one alone, or one outside the world, would give a
      // plainly wrong place, so the result is dropped.
      const size_t limit = object_end(value);
      double lat = 0, lng = 0;
      size_t lat_end = value, lng_end = value;
      const bool has_lat = KeyNumber(text, "lat", value, limit, &lat, &lat_end);
      const bool has_lng = KeyNumber(text, "lng", value, limit, &lng, &lng_end);
      if (has_lat && has_lng && InWorld(lat, lng)) {
        current->lat = lat;
        current->lng = lng;
        located = true;
      } else if (has_lat || has_lng) {
        dropped = true;
        located = true;
      }
      pos = std::max({lat_end, lng_end, value});
      continue;
    }
    value = ValueAfterKey(text, pos, "bounds");
    if (value != npos) {
      if (current == nullptr || current->zoom != 0) {
        close_result();
        return false;
      }
      const size_t limit = object_end(value);
      double v[4] = {0, 0, 0, 0};
      size_t end = value;
      static constexpr std::string_view kKeys[4] = {"lat", "lng", "lat", "lng"};
      int read = 0;
      while (read < 4 && KeyNumber(text, kKeys[read], end, limit, &v[read], &end)) ++read;
      if (read == 4) current->zoom = ZoomFromBounds(v[0], v[1], v[2], v[3]);
      pos = std::max(end, value);
      continue;
    }
    ++pos;
  }
  close_result();
  return true;
}

bool ParsePlaceSearchReply(std::string_view text, std::deque<GeoResult>& out) {
  KeyHit results = FindKey(text, "results", 0, npos);
  while (results.found() && (results.value >= text.size() || text[results.value] != '['))
    results = FindKey(text, "results", results.key + 1, npos);
  if (!results.found()) return true;
  // Each object of the list that holds a "name" is one result; its other keys are looked for
  // inside it, in any order. A result that lacks one is skipped, and the next one is read.
  for (const RecordSpan& record : FindRecords(text, "name", results.value, true)) {
    std::string name, address;
    size_t end = 0;
    if (record.value >= text.size() || text[record.value] != '"' ||
        !TakeString(text, record.value + 1, &name, &end))
      continue;
    double lat = 0, lng = 0;
    size_t lat_end = 0, lng_end = 0;
    if (!KeyNumber(text, "lat", record.begin, record.end, &lat, &lat_end) ||
        !KeyNumber(text, "lng", record.begin, record.end, &lng, &lng_end) || !InWorld(lat, lng))
      continue;
    KeyHit address_key = FindStringKey(text, "address", record.begin, record.end);
    if (!address_key.found() || !TakeString(text, address_key.value, &address, &end)) continue;
    GeoResult result;
    result.components.push_back({JoinNameAddress(name, address), kAddrPointOfInterest});
    result.lat = lat;
    result.lng = lng;
    out.push_front(std::move(result));
  }
  return true;
}

bool ParsePoiSearchReply(std::string_view text, std::deque<GeoResult>& out) {
  if (text.find("\":\"E0\"") == npos) return false;
  // Each object that holds an "address" is one place; its name and its "y" and "x" (numbers
  // in strings) are looked for inside it, in any order. A place that lacks one is skipped.
  for (const RecordSpan& record : FindRecords(text, "address", 0, false)) {
    std::string address, name;
    size_t end = 0;
    if (record.value >= text.size() || text[record.value] != '"' ||
        !TakeString(text, record.value + 1, &address, &end))
      continue;
    KeyHit name_key = FindStringKey(text, "name", record.begin, record.end);
    KeyHit y_key = FindStringKey(text, "y", record.begin, record.end);
    KeyHit x_key = FindStringKey(text, "x", record.begin, record.end);
    double lat = 0, lng = 0;
    if (!name_key.found() || !TakeString(text, name_key.value, &name, &end) || !y_key.found() ||
        !x_key.found() || !QuotedNumber(text, y_key.value, &lat) || !QuotedNumber(text, x_key.value, &lng) ||
        !InWorld(lat, lng))
      continue;
    GeoResult result;
    result.components.push_back({JoinNameAddress(name, address), kAddrPointOfInterest});
    result.lat = lat;
    result.lng = lng;
    out.push_front(std::move(result));
  }
  return true;
}

bool ParseSuggestReply(std::string_view text, AddressHitList& out) {
  constexpr std::string_view kQuery = "query:\"";
  constexpr std::string_view kLat = "lat_e7:";
  constexpr std::string_view kLng = "lng_e7:";
  // An integer in 1e-7 degree between `from` and `to`, blanks around allowed.
  auto e7 = [&](size_t from, size_t to, int64_t limit, double* degrees) {
    std::string_view digits = text.substr(from, to - from);
    while (!digits.empty() && IsBlank(digits.front())) digits.remove_prefix(1);
    while (!digits.empty() && IsBlank(digits.back())) digits.remove_suffix(1);
    int64_t v = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (ec != std::errc() || ptr != digits.data() + digits.size() || v < -limit || v > limit) return false;
    *degrees = static_cast<double>(v) / 1e7;
    return true;
  };
  size_t pos = 0;
  for (;;) {
    const size_t query = text.find(kQuery, pos);
    if (query == npos) break;
    std::string suggestion;
    size_t after = 0;
    if (!TakeString(text, query + kQuery.size(), &suggestion, &after)) break;
    const size_t next = text.find(kQuery, after);
    const size_t entry_end = next == npos ? text.size() : next;
    // Every look-up stays inside the entry: a missing key or delimiter skips to the next entry,
    // and ends the walk in the last one.
    const std::string_view entry = text.substr(0, entry_end);
    const size_t lat_at = entry.find(kLat, after);
    const size_t comma = lat_at == npos ? npos : entry.find(',', lat_at + kLat.size());
    const size_t lng_at = comma == npos ? npos : entry.find(kLng, comma);
    const size_t brace = lng_at == npos ? npos : entry.find('}', lng_at + kLng.size());
    if (brace == npos) {
      if (next == npos) break;
      pos = entry_end;
      continue;
    }
    double lat = 0, lng = 0;
    if (e7(lat_at + kLat.size(), comma, 900000000, &lat) && e7(lng_at + kLng.size(), brace, 1800000000, &lng)) {
      AddressHit hit;
      hit.name = std::move(suggestion);
      hit.type = kAddrPointOfInterest;
      hit.lng = lng;
      hit.lat = lat;
      out.push_back(std::move(hit));
    }
    pos = brace + 1;
  }
  return true;
}

bool ParseSearchReply(int geocoder_id, std::string_view reply, std::deque<GeoResult>& out) {
  switch (geocoder_id) {
    case 8: return ParseGeocoderReply(reply, out);
    case 111: return ParsePlaceSearchReply(reply, out);
    case 112: return ParsePoiSearchReply(reply, out);
    default: return false;
  }
}


// ---- the scanners for other reply readers (places/reply_scan.h) ----------------------------------

namespace reply_scan {

std::string_view Utf8Text(std::string_view reply, std::string& storage) {
  if (IsValidUtf8(reply)) return reply;
  storage = AnsiToUtf8(reply);
  return storage;
}

size_t FindKeyValue(std::string_view text, std::string_view name, size_t from, size_t limit, size_t* value) {
  KeyHit hit = FindKey(text, name, from, limit);
  if (value) *value = hit.value;
  return hit.key;
}

bool StringValue(std::string_view text, std::string_view name, size_t from, size_t limit, std::string* out,
                 size_t* end) {
  KeyHit hit = FindStringKey(text, name, from, limit);
  return hit.found() && TakeString(text, hit.value, out, end);
}

bool NumberValue(std::string_view text, std::string_view name, size_t from, size_t limit, double* out,
                 size_t* end) {
  return KeyNumber(text, name, from, limit, out, end);
}

bool NumberAt(std::string_view text, size_t pos, double* out, size_t* end) { return TakeNumber(text, pos, out, end); }

double LatOrZero(double v) { return v >= -90.0 && v <= 90.0 ? v : 0.0; }
double LngOrZero(double v) { return v >= -180.0 && v <= 180.0 ? v : 0.0; }

}  // namespace reply_scan

}  // namespace velmora
