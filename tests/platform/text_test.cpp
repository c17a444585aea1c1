// GBK boundary conversions and URL encoding.
#include "platform/text.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(Text, GbkRoundTripOfSystemTexts) {
  for (const char* s : {"端口不可用,请尝试其他!", "硬盘空间不足,请重新设置数据目录!", "\tVelmora\n已经存在一个运行实例!",
                        "经纬度 - WGS84", "abc 123"}) {
    std::string gbk = Utf8ToAnsi(s);
    EXPECT_EQ(AnsiToUtf8(gbk), s);
  }
  // 端 is D6 CB in GBK.
  EXPECT_EQ(Utf8ToAnsi("端"), "\xB6\xCB");
}

TEST(Text, InvalidBytesFollowThePolicy) {
  EXPECT_EQ(AnsiToUtf8("a\x81"), "a\xEF\xBF\xBD");          // truncated double-byte sequence
  EXPECT_EQ(Utf8ToAnsi("a\xC3(b"), "a?(b");                 // invalid UTF-8
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80x"), "?x");         // emoji has no GBK form
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));
  EXPECT_TRUE(IsValidUtf8("端口"));
}

TEST(Text, UrlEncodeKeepsOnlyUnreserved) {
  EXPECT_EQ(UrlEncode("a b-_.~/端"), "a%20b-_.~%2F%E7%AB%AF");
}

}  // namespace
}  // namespace velmora
