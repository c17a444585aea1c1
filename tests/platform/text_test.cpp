// GBK boundary conversions, the invalid-byte policy and URL encoding.
#include "platform/text.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(Text, GbkBytesOfSystemTextsAndRoundTrips) {
  // The bytes other GBK programs read and write for the port message.
  const std::string port = "端口不可用,请尝试其他!";
  const std::string port_gbk =
      "\xB6\xCB\xBF\xDA\xB2\xBB\xBF\xC9\xD3\xC3,\xC7\xEB\xB3\xA2\xCA\xD4\xC6\xE4\xCB\xFB!";
  EXPECT_EQ(Utf8ToAnsi(port), port_gbk);
  EXPECT_EQ(AnsiToUtf8(port_gbk), port);
  for (const char* s : {"硬盘空间不足,请重新设置数据目录!", "\tVelmora\n已经存在一个运行实例!", "经纬度 - WGS84", "", "€"}) {
    size_t replaced = 99;
    EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(s, &replaced)), s);
    EXPECT_EQ(replaced, 0u) << s;
  }
  std::string in_place = "行政地名";
  Utf8ToAnsi(in_place);
  EXPECT_EQ(AnsiToUtf8(in_place), "行政地名");
  // Several kilobytes, with a character split across every internal buffer boundary somewhere.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += (i % 7 == 0) ? "a" : "端口";
  std::string gbk = Utf8ToAnsi(std::string_view(text));
  EXPECT_EQ(AnsiToUtf8(gbk), text);
  size_t replaced = 0;
  EXPECT_EQ(AnsiToUtf8(gbk + "\x81", &replaced), text + "\xEF\xBF\xBD");  // cut off at the very end
  EXPECT_EQ(replaced, 1u);
}

TEST(Text, InvalidGbkBecomesOneReplacementPerBadByte) {
  size_t replaced = 0;
  // A lead byte followed by a byte that cannot trail: the ASCII byte is kept.
  EXPECT_EQ(AnsiToUtf8("\x81 b", &replaced), "\xEF\xBF\xBD b");
  EXPECT_EQ(AnsiToUtf8("\xFF\xFF", &replaced), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(replaced, 2u);
  EXPECT_EQ(AnsiToUtf8("\xFF\xB6\xCB", &replaced), "\xEF\xBF\xBD端");  // decoded again after the damage
  EXPECT_TRUE(IsValidUtf8(AnsiToUtf8("\x80\x81\xFE\xFF\xA1")));
}

TEST(Text, InvalidUtf8BecomesQuestionMarks) {
  const std::pair<const char*, const char*> cases[] = {
      {"a\xC3(b", "a?(b"},         // stray lead byte
      {"\xC0\x80", "??"},          // overlong NUL: two bad bytes
      {"\xED\xA0\x80", "???"},     // surrogate
      {"x\xE7\xAB", "x??"},        // cut off at the end
      {"\x80\xB6", "??"},          // continuation bytes alone
      {"端\xF0\x9F\x98\x80口", "\xB6\xCB?\xBF\xDA"},  // a character without a GBK form is one '?'
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Utf8ToAnsi(in), out) << in;
  size_t replaced = 0;
  Utf8ToAnsi("\xED\xA0\x80", &replaced);
  EXPECT_EQ(replaced, 3u);

  EXPECT_TRUE(IsValidUtf8("端口 abc \xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE7\xAB", "\xB6\xCB"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(Text, UrlEncodeKeepsOnlyUnreserved) {
  EXPECT_EQ(UrlEncode("a b-_.~/端"), "a%20b-_.~%2F%E7%AB%AF");
  EXPECT_EQ(UrlEncode("k=v&x=1+2%"), "k%3Dv%26x%3D1%2B2%25");
  EXPECT_EQ(UrlEncode(std::string("\0\xFF", 2)), "%00%FF");
}

TEST(Text, TrimAndCaseInsensitiveCompareFollowAsciiRulesOnly) {
  EXPECT_EQ(TrimAscii(" \t\r\n\v\fkey = value \r\n"), "key = value");
  EXPECT_EQ(TrimAscii(" \t \r\n"), "");
  EXPECT_EQ(TrimAscii(""), "");
  EXPECT_EQ(TrimAscii("a"), "a");
  // Only ASCII blanks go: a NUL, a no-break space (UTF-8 C2 A0, GBK A1 A1) and the GBK bytes of
  // a full-width space stay, and nothing inside is touched.
  EXPECT_EQ(TrimAscii(std::string_view(" \0x\0 ", 5)), std::string_view("\0x\0", 3));
  EXPECT_EQ(TrimAscii("\xC2\xA0北京\xC2\xA0 "), "\xC2\xA0北京\xC2\xA0");
  EXPECT_EQ(TrimAscii(" \xA1\xA1 "), "\xA1\xA1");
  EXPECT_EQ(TrimAscii("a  b"), "a  b");

  EXPECT_TRUE(EqualsNoCaseAscii("Content-Length", "content-LENGTH"));
  EXPECT_TRUE(EqualsNoCaseAscii("", ""));
  EXPECT_FALSE(EqualsNoCaseAscii("Host", "Hosts"));
  EXPECT_FALSE(EqualsNoCaseAscii("Host", "Hosz"));
  // Letters only: '@' and '`', '[' and '{' lie 32 apart as the two cases do, yet differ.
  EXPECT_FALSE(EqualsNoCaseAscii("@", "`"));
  EXPECT_FALSE(EqualsNoCaseAscii("[", "{"));
  // Bytes above 0x7F compare as they are, whatever the locale would make of them.
  EXPECT_TRUE(EqualsNoCaseAscii("黑体", "黑体"));
  EXPECT_FALSE(EqualsNoCaseAscii("\xC4", "\xE4"));
  EXPECT_FALSE(EqualsNoCaseAscii("SimHei", "SimHei "));
}

}  // namespace
}  // namespace velmora
