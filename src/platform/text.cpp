// GBK <-> UTF-8 through iconv, one converter per thread and direction.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace velmora {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; at an invalid or unconvertible sequence appends `replacement` and skips
  // `skip_on_error(in)` bytes of the input.
  template <typename Skip>
  std::string Run(std::string_view in, std::string_view replacement, Skip skip_on_error) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
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
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a truncated sequence at the end): replace and go on.
      out.append(replacement);
      size_t skip = skip_on_error(std::string_view(src, left));
      src += skip;
      left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t room = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence starting at s[0], or 1 when it is not a valid sequence.
size_t Utf8SequenceLength(std::string_view s) {
  if (s.empty()) return 0;
  unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || n > s.size()) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  return n;
}

}  // namespace

std::string AnsiToUtf8(std::string_view gbk) {
  thread_local Converter conv("UTF-8", "GBK");
  return conv.Run(gbk, "\xEF\xBF\xBD", [](std::string_view) { return size_t{1}; });
}

std::string Utf8ToAnsi(std::string_view utf8) {
  thread_local Converter conv("GBK", "UTF-8");
  return conv.Run(utf8, "?", [](std::string_view rest) { return Utf8SequenceLength(rest); });
}

void Utf8ToAnsi(std::string& text) { text = Utf8ToAnsi(std::string_view(text)); }

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = Utf8SequenceLength(text.substr(i));
    if (n == 1 && c >= 0x80) return false;
    if (n == 2 && c < 0xC2) return false;  // overlong
    if (n == 3) {
      unsigned char c1 = static_cast<unsigned char>(text[i + 1]);
      if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) return false;
    }
    if (n == 4) {
      unsigned char c1 = static_cast<unsigned char>(text[i + 1]);
      if (c > 0xF4 || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)) return false;
    }
    i += n;
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
