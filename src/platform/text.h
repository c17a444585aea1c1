// Text at the boundaries: UTF-8 in memory, GBK (code page 936) where files, archives and web
// replies carry "ANSI" bytes. The only place that calls iconv. Also the program's one trim and
// one case-insensitive compare (ASCII rules, so no locale changes them).
//
// Invalid-byte policy (the same in every function here, so that damaged input never stops a
// reader and never grows into something else):
// - GBK -> UTF-8: each byte that does not start a valid GBK character becomes U+FFFD; the
//   decoder then resynchronises on the next byte, so an ASCII byte after a broken lead byte is
//   kept.
// - UTF-8 -> GBK: each byte that does not start a well-formed UTF-8 sequence becomes '?', and
//   each well-formed character that GBK cannot express becomes one '?'.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// GBK bytes -> UTF-8.
std::string AnsiToUtf8(std::string_view gbk);
// The same; *replaced receives the number of U+FFFD written for bad bytes.
std::string AnsiToUtf8(std::string_view gbk, size_t* replaced);

// UTF-8 -> GBK bytes.
std::string Utf8ToAnsi(std::string_view utf8);
// The same; *replaced receives the number of '?' written for bad or unencodable input.
std::string Utf8ToAnsi(std::string_view utf8, size_t* replaced);
// In place. Being the exact match for a std::string lvalue, this overload is the one such a call
// picks: write Utf8ToAnsi(std::string_view(s)) for a converted copy.
void Utf8ToAnsi(std::string& text);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Length of the well-formed UTF-8 sequence at the start of `text` (1-4), 0 when the bytes there
// do not start one (stray continuation byte, overlong form, surrogate, value above U+10FFFF,
// sequence cut short) or the text is empty.
size_t Utf8SequenceLength(std::string_view text);

// Space, tab, line feed, carriage return, vertical tab and form feed.
constexpr bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
// The text without ASCII blanks (IsAsciiSpace) at either end.
std::string_view TrimAscii(std::string_view text);
// True when the texts are equal with the ASCII letters A-Z and a-z compared without case; every
// other byte (also of UTF-8 and GBK characters) must be equal as it is.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);

// Percent-encoding of the UTF-8 bytes: the unreserved set (A-Z a-z 0-9 - _ . ~) is kept,
// every other byte is written as "%" and two upper-case hexadecimal digits.
std::string UrlEncode(std::string_view utf8);

}  // namespace velmora
