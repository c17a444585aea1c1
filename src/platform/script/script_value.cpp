// Script values as text: the script's number text through std::to_chars, and script strings
// made valid UTF-8.
#include "platform/script/script_value.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/text.h"

namespace velmora {

std::string ScriptValue::ToText() const {
  switch (type) {
    case ScriptType::kUndefined: return "undefined";
    case ScriptType::kNull: return "null";
    case ScriptType::kBoolean: return number != 0 ? "true" : "false";
    case ScriptType::kNumber: return ScriptNumberText(number);
    case ScriptType::kString:
    case ScriptType::kFunction:
    case ScriptType::kObject: return text;
  }
  return text;
}

size_t WriteScriptNumberText(char* buf, double value) {
  char* out = buf;
  auto put = [&](const char* text, size_t n) {
    std::memcpy(out, text, n);
    out += n;
  };
  if (std::isnan(value)) {
    put("NaN", 3);
    return static_cast<size_t>(out - buf);
  }
  if (value == 0) {
    *out++ = '0';
    return 1;
  }
  if (value < 0) {
    *out++ = '-';
    value = -value;
  }
  if (std::isinf(value)) {
    put("Infinity", 8);
    return static_cast<size_t>(out - buf);
  }
  // From 1e-6 up the language writes the shortest digits in plain notation, which is what the
  // shortest fixed form gives directly while the whole part is exact (below 2^53; above, the
  // fixed form writes every digit of the double where the language pads the shortest with 0).
  if (value >= 1e-6 && value < 9007199254740992.0) {
    auto [end, ec] = std::to_chars(out, buf + kScriptNumberTextMax, value, std::chars_format::fixed);
    if (ec == std::errc()) return static_cast<size_t>(end - buf);
  }
  // The shortest round-trip digits in scientific form, "d.ddde+XX" or "de-XX": the same digits
  // that the language's algorithm picks (the fewest that read back, the closest when several).
  char sci[32];
  auto [end, ec] = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  if (ec != std::errc()) {
    put("NaN", 3);
    return static_cast<size_t>(out - buf);
  }
  char digits[20];
  int k = 0;
  const char* p = sci;
  for (; p < end && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9' && k < static_cast<int>(sizeof digits)) digits[k++] = *p;
  int exponent = 0;
  if (p < end) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  // value = 0.d1d2...dk × 10^n
  const int n = exponent + 1;
  if (k <= n && n <= 21) {
    put(digits, static_cast<size_t>(k));
    std::memset(out, '0', static_cast<size_t>(n - k));
    out += n - k;
  } else if (0 < n && n <= 21) {
    put(digits, static_cast<size_t>(n));
    *out++ = '.';
    put(digits + n, static_cast<size_t>(k - n));
  } else if (-6 < n && n <= 0) {
    put("0.", 2);
    std::memset(out, '0', static_cast<size_t>(-n));
    out += -n;
    put(digits, static_cast<size_t>(k));
  } else {
    *out++ = digits[0];
    if (k > 1) {
      *out++ = '.';
      put(digits + 1, static_cast<size_t>(k - 1));
    }
    *out++ = 'e';
    *out++ = n - 1 < 0 ? '-' : '+';
    auto r = std::to_chars(out, buf + kScriptNumberTextMax, std::abs(n - 1));
    out = r.ptr;
  }
  return static_cast<size_t>(out - buf);
}

void AppendScriptNumberText(std::string& out, double value) {
  char buf[kScriptNumberTextMax];
  out.append(buf, WriteScriptNumberText(buf, value));
}

std::string ScriptNumberText(double value) {
  std::string out;
  AppendScriptNumberText(out, value);
  return out;
}

namespace {

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one sequence of up to four bytes without the UTF-8 limits on surrogates (the script
// keeps UTF-16 halves as three-byte sequences). 0 bytes used: not a sequence.
size_t DecodeLoose(std::string_view s, size_t i, uint32_t* cp) {
  const auto byte = [&](size_t j) { return static_cast<unsigned char>(s[j]); };
  unsigned char c = byte(i);
  size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  uint32_t v = n == 1 ? c : n == 2 ? (c & 0x1Fu) : n == 3 ? (c & 0x0Fu) : (c & 0x07u);
  for (size_t j = 1; j < n; ++j) {
    if ((byte(i + j) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (byte(i + j) & 0x3Fu);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[n] || v > 0x10FFFF) return 0;
  *cp = v;
  return n;
}

}  // namespace

void AssignScriptText(std::string& out, std::string_view s) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  if (i == s.size() || IsValidUtf8(s.substr(i)))
    out.assign(s.data(), s.size());
  else
    out = ScriptTextToUtf8(s);
}

std::string ScriptTextToUtf8(std::string_view s) {
  if (IsValidUtf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t n = DecodeLoose(s, i, &cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      uint32_t low = 0;
      size_t m = i + n < s.size() ? DecodeLoose(s, i + n, &low) : 0;
      if (m != 0 && low >= 0xDC00 && low <= 0xDFFF) {
        AppendCodePoint(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
        i += n + m;
        continue;
      }
      out += "\xEF\xBF\xBD";
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      out += "\xEF\xBF\xBD";
    } else {
      AppendCodePoint(out, cp);
    }
    i += n;
  }
  return out;
}

}  // namespace velmora
