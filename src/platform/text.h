// Text at the boundaries: UTF-8 in memory, GBK (code page 936) where files, archives and web
// replies carry "ANSI" bytes. The only place that calls iconv.
#pragma once
#include <string>
#include <string_view>

namespace velmora {

// GBK bytes -> UTF-8. A byte sequence that is not valid GBK becomes U+FFFD for each bad byte;
// the rest of the text is kept.
std::string AnsiToUtf8(std::string_view gbk);

// UTF-8 -> GBK bytes. Invalid UTF-8 bytes and characters that GBK cannot express become '?'.
std::string Utf8ToAnsi(std::string_view utf8);
void Utf8ToAnsi(std::string& text);  // in place

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Percent-encoding of the UTF-8 bytes: the unreserved set (A-Z a-z 0-9 - _ . ~) is kept,
// every other byte is written as "%" and two upper-case hexadecimal digits.
std::string UrlEncode(std::string_view utf8);

}  // namespace velmora
