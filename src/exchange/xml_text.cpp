// UTF-8 clean-up and escaping of text bound for XML.
#include "exchange/xml_text.h"

namespace velmora {

char32_t NextUtf8(std::string_view text, size_t* pos) {
  const size_t i = *pos;
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(i);
  *pos = i + 1;
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t c = 0, min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) extra = 1, c = b0 & 0x1F, min = 0x80;
  else if (b0 >= 0xE0 && b0 <= 0xEF) extra = 2, c = b0 & 0x0F, min = 0x800;
  else if (b0 >= 0xF0 && b0 <= 0xF4) extra = 3, c = b0 & 0x07, min = 0x10000;
  else return 0xFFFD;
  if (i + static_cast<size_t>(extra) >= text.size()) return 0xFFFD;  // cut short
  for (int k = 1; k <= extra; ++k) {
    unsigned char b = byte(i + static_cast<size_t>(k));
    if ((b & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  *pos = i + 1 + static_cast<size_t>(extra);
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

namespace {

bool AllowedInXml(char32_t c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
  return c != 0xFFFE && c != 0xFFFF;
}

template <class Emit>
void ForEachXmlChar(std::string_view text, Emit emit) {
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = NextUtf8(text, &pos);
    if (AllowedInXml(c)) emit(c);
  }
}

}  // namespace

std::string SanitizeXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachXmlChar(text, [&](char32_t c) { AppendUtf8(out, c); });
  return out;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  ForEachXmlChar(text, [&](char32_t c) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: AppendUtf8(out, c);
    }
  });
  return out;
}

}  // namespace velmora
