// Text bound for XML files (KML, the parts of a spreadsheet): well-formed UTF-8 with only the
// characters XML 1.0 allows, and its escaping.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The text as XML may hold it: bytes that do not start a well-formed UTF-8 character (overlong
// forms, surrogates and values above U+10FFFF included) become U+FFFD; control characters other
// than tab, line feed and carriage return, and U+FFFE and U+FFFF, are dropped.
std::string SanitizeXmlText(std::string_view text);

// SanitizeXmlText, then & < > " ' written as entities.
std::string XmlEscape(std::string_view text);

// Decodes the UTF-8 character at text[*pos] and advances *pos past it; a byte that does not
// start a well-formed character gives U+FFFD and advances by one.
char32_t NextUtf8(std::string_view text, size_t* pos);
// Appends the UTF-8 bytes of a code point.
void AppendUtf8(std::string& out, char32_t c);

}  // namespace velmora
