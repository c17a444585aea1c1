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

  for (const char* s : {"硬盘空间不足,请重新设置数据目录!", "\tVelmora\n已经存在一个运行实例!",
                        "经纬度 - WGS84", "卫星库", "行政地名", "黑体", "abc 123", "", "€"}) {
    size_t replaced = 99;
    std::string gbk = Utf8ToAnsi(s, &replaced);
    EXPECT_EQ(replaced, 0u) << s;
    EXPECT_EQ(AnsiToUtf8(gbk, &replaced), s);
    EXPECT_EQ(replaced, 0u) << s;
  }

  std::string in_place = "行政地名";
  Utf8ToAnsi(in_place);
  EXPECT_EQ(AnsiToUtf8(in_place), "行政地名");
}

TEST(Text, LongTextsCrossTheConversionBuffer) {
  // Several kilobytes, with a character split across every internal buffer boundary somewhere.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += (i % 7 == 0) ? "a" : "端口";
  std::string gbk = Utf8ToAnsi(std::string_view(text));
  EXPECT_EQ(AnsiToUtf8(gbk), text);
  gbk += "\x81";  // a cut-off character at the very end still gives one replacement
  size_t replaced = 0;
  std::string back = AnsiToUtf8(gbk, &replaced);
  EXPECT_EQ(replaced, 1u);
  EXPECT_EQ(back, text + "\xEF\xBF\xBD");
}

TEST(Text, InvalidGbkBecomesOneReplacementPerBadByte) {
  size_t replaced = 0;
  EXPECT_EQ(AnsiToUtf8("a\x81", &replaced), "a\xEF\xBF\xBD");  // cut-off double-byte character
  EXPECT_EQ(replaced, 1u);
  // A lead byte followed by a byte that cannot trail: the ASCII byte is kept.
  EXPECT_EQ(AnsiToUtf8("\x81 b", &replaced), "\xEF\xBF\xBD b");
  EXPECT_EQ(AnsiToUtf8("\xFF\xFF", &replaced), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(replaced, 2u);
  // Text after the damage is decoded again.
  EXPECT_EQ(AnsiToUtf8("\xFF\xB6\xCB", &replaced), "\xEF\xBF\xBD端");
  EXPECT_TRUE(IsValidUtf8(AnsiToUtf8("\x80\x81\xFE\xFF\xA1")));
}

TEST(Text, InvalidUtf8BecomesQuestionMarks) {
  size_t replaced = 0;
  EXPECT_EQ(Utf8ToAnsi("a\xC3(b", &replaced), "a?(b");  // stray lead byte
  EXPECT_EQ(replaced, 1u);
  EXPECT_EQ(Utf8ToAnsi("\xC0\x80", &replaced), "??");  // overlong NUL: two bad bytes
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80", &replaced), "???");  // surrogate
  EXPECT_EQ(replaced, 3u);
  EXPECT_EQ(Utf8ToAnsi("x\xE7\xAB", &replaced), "x??");  // cut off at the end
  EXPECT_EQ(Utf8ToAnsi("\x80\xB6", &replaced), "??");  // continuation bytes alone
  // A well-formed character without a GBK form is one '?'.
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80x", &replaced), "?x");
  EXPECT_EQ(replaced, 1u);
  EXPECT_EQ(Utf8ToAnsi("端\xF0\x9F\x98\x80口"), "\xB6\xCB?\xBF\xDA");
}

TEST(Text, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("端口 abc \xF0\x9F\x98\x80"));
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE7\xAB"));          // cut off
  EXPECT_FALSE(IsValidUtf8("\xB6\xCB"));          // GBK bytes
}

TEST(Text, UrlEncodeKeepsOnlyUnreserved) {
  EXPECT_EQ(UrlEncode("a b-_.~/端"), "a%20b-_.~%2F%E7%AB%AF");
  EXPECT_EQ(UrlEncode("k=v&x=1+2%"), "k%3Dv%26x%3D1%2B2%25");
  EXPECT_EQ(UrlEncode(std::string("\0\xFF", 2)), "%00%FF");
  EXPECT_EQ(UrlEncode("AZaz09"), "AZaz09");
}

}  // namespace
}  // namespace velmora
