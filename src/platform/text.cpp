// GBK <-> UTF-8 through iconv, one converter per thread and direction; the ASCII trim and compare.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace velmora {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when the bytes there do
// not form one (stray continuation byte, overlong form, surrogate, value above U+10FFFF,
// sequence cut short).
size_t WellFormedUtf8Length(std::string_view s) {
  if (s.empty()) return 0;
  unsigned char c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return 1;
  size_t n = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
  if (n == 0 || n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  unsigned char c1 = static_cast<unsigned char>(s[1]);
  if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
  if (c == 0xED && c1 >= 0xA0) return 0;  // UTF-16 surrogate
  if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
  if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
  return n;
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; where iconv stops at an invalid, unconvertible or cut-off sequence, appends
  // `replacement` and skips `skip_on_error(rest)` bytes (at least one) of the input.
  template <typename Skip>
  std::string Run(std::string_view in, std::string_view replacement, Skip skip_on_error,
                  size_t* replaced) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    size_t count = 0;
    std::string out;
    out.reserve(in.size() * 3 / 2 + 8);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buf[1024];
    while (left > 0) {
      char* dst = buf;
      size_t room = sizeof buf;
      size_t rc = iconv(cd_, &src, &left, &dst, &room);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
      // EILSEQ, or EINVAL for a sequence cut off by the end of the input.
      out.append(replacement);
      ++count;
      size_t skip = skip_on_error(std::string_view(src, left));
      if (skip == 0 || skip > left) skip = 1;
      src += skip;
      left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t room = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (replaced) *replaced = count;
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string AnsiToUtf8(std::string_view gbk, size_t* replaced) {
  thread_local Converter conv("UTF-8", "GBK");
  return conv.Run(gbk, "\xEF\xBF\xBD", [](std::string_view) { return size_t{1}; }, replaced);
}

std::string AnsiToUtf8(std::string_view gbk) { return AnsiToUtf8(gbk, nullptr); }

std::string Utf8ToAnsi(std::string_view utf8, size_t* replaced) {
  thread_local Converter conv("GBK", "UTF-8");
  // A well-formed character that GBK lacks is skipped whole (one '?'); a malformed byte alone.
  return conv.Run(utf8, "?", [](std::string_view rest) { return WellFormedUtf8Length(rest); },
                  replaced);
}

std::string Utf8ToAnsi(std::string_view utf8) { return Utf8ToAnsi(utf8, nullptr); }

void Utf8ToAnsi(std::string& text) { text = Utf8ToAnsi(std::string_view(text)); }

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    size_t n = WellFormedUtf8Length(text.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

size_t Utf8SequenceLength(std::string_view text) { return WellFormedUtf8Length(text); }

std::string_view TrimAscii(std::string_view text) {
  while (!text.empty() && IsAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string UrlEncode(std::string_view utf8) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() * 3);
  for (char ch : utf8) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

}  // namespace velmora
