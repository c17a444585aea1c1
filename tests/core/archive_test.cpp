// Archive streams: byte layout, string length prefixes, schema numbers and hostile input.
#include "core/archive.h"

#include <gtest/gtest.h>

#include <numbers>
#include <tuple>

#include "core/text_style.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(Archive, NumbersAreLittleEndianRawBytes) {
  ArchiveWriter w;
  w.U8(0xAB);
  w.U16(0x1234);
  w.I32(-2);
  w.F32(1.0f);
  w.F64(-2.0);
  w.I64(0x0102030405060708LL);
  ArStorePair32(w, {7, -8});
  EXPECT_EQ(w.Bytes(), Bytes({0xAB, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x3F, 0, 0, 0, 0, 0, 0,
                              0, 0xC0, 8, 7, 6, 5, 4, 3, 2, 1, 7, 0, 0, 0, 0xF8, 0xFF, 0xFF, 0xFF}));
  ArchiveReader r(w.Bytes());
  EXPECT_EQ(r.U8(), 0xAB);
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_EQ(r.I32(), -2);
  EXPECT_EQ(r.F32(), 1.0f);
  EXPECT_EQ(r.F64(), -2.0);
  EXPECT_EQ(r.I64(), 0x0102030405060708LL);
  EXPECT_EQ(ArLoadPair32(r), std::make_pair(7, -8));
  EXPECT_TRUE(r.AtEnd());
}

// The length prefix switches form at 255, 65534 and beyond; the lengths either side of each
// switch are checked against hand-made bytes.
TEST(Archive, StringLengthPrefixes) {
  struct Case {
    size_t length;
    std::vector<uint8_t> prefix;
  };
  const Case cases[] = {
      {0, Bytes({0x00})},           {254, Bytes({0xFE})},
      {255, Bytes({0xFF, 0xFF, 0x00})}, {65533, Bytes({0xFF, 0xFD, 0xFF})},
      {65534, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
      {70000, Bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    std::string text(c.length, 'x');
    for (size_t i = 0; i < text.size(); i += 97) text[i] = static_cast<char>('a' + i % 26);
    ArchiveWriter w;
    w.String(text);
    std::vector<uint8_t> expect = c.prefix;
    expect.insert(expect.end(), text.begin(), text.end());
    EXPECT_TRUE(w.Bytes() == expect) << c.length;
    ArchiveReader r(expect);
    EXPECT_EQ(r.String(), text) << c.length;
    EXPECT_TRUE(r.AtEnd());
    // Hand-made bytes with one byte of the text missing must not be read.
    ArchiveReader shorter(expect.data(), expect.size() - 1);
    EXPECT_THROW(shorter.String(), ArchiveError) << c.length;
  }
}

TEST(Archive, StringsHoldGbkBytes) {
  ArchiveWriter w;
  w.String("端口");
  w.String("a\xF0\x9F\x98\x80");  // no GBK form
  EXPECT_EQ(w.Bytes(), Bytes({4, 0xB6, 0xCB, 0xBF, 0xDA, 2, 'a', '?'}));
  EXPECT_EQ(w.LossyTextCount(), 1u);
  // Bytes that are not GBK read as U+FFFD and are counted.
  std::vector<uint8_t> bad = Bytes({3, 'o', 'k', 0xFF, 2, 0xB6, 0xCB});
  ArchiveReader r(bad);
  EXPECT_EQ(r.String(), "ok\xEF\xBF\xBD");
  EXPECT_EQ(r.String(), "端");
  EXPECT_EQ(r.BadTextCount(), 1u);
}

TEST(Archive, HostileLengthsAndCountsFailCleanly) {
  auto fails = [](std::initializer_list<int> bytes, auto read) {
    std::vector<uint8_t> data = Bytes(bytes);
    ArchiveReader r(data);
    EXPECT_THROW(read(r), ArchiveError);
  };
  // A four-byte length far beyond the data; the UTF-16 marker is not a length.
  fails({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a'}, [](ArchiveReader& r) { r.String(); });
  fails({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b', 0}, [](ArchiveReader& r) { r.RawString(); });
  // A count that would allocate gigabytes for a few bytes of data.
  fails({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4}, [](ArchiveReader& r) { r.Count(1); });
  fails({3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, [](ArchiveReader& r) { r.Count(4); });
  std::vector<uint8_t> two = Bytes({2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(ArchiveReader(two).Count(4), 2u);
  // Schema numbers outside the accepted range.
  fails({42, 0, 0, 0}, [](ArchiveReader& r) { r.Schema(37, 41); });
  std::vector<uint8_t> schema = Bytes({42, 0, 0, 0});
  EXPECT_EQ(ArchiveReader(schema).Schema(37, 42), 42);
  ArchiveReader empty(nullptr, 0);
  EXPECT_THROW(empty.F64(), ArchiveError);
  EXPECT_EQ(empty.Position(), 0u);  // nothing consumed
}

TEST(Archive, EveryTruncationOfAStreamFails) {
  ArchiveWriter w;
  w.Schema(3);
  w.String("行政地名");
  CTextStyle style;
  style.face = "宋体";
  style.size = 9.5f;
  style.flags = CTextStyle::kBold | CTextStyle::kHalo;
  style.Serialize(w);
  w.String(std::string(300, 'z'));
  w.F64(std::numbers::pi);
  auto read_all = [](ArchiveReader& r) {
    r.Schema(3);
    std::string name = r.String();
    CTextStyle s;
    s.Serialize(r);
    std::string long_text = r.String();
    return std::make_tuple(name, s, long_text, r.F64());
  };
  ArchiveReader whole(w.Bytes());
  EXPECT_EQ(read_all(whole), std::make_tuple(std::string("行政地名"), style, std::string(300, 'z'), std::numbers::pi));
  for (size_t n = 0; n < w.Bytes().size(); ++n) {
    // A copy of exactly n bytes, so that AddressSanitizer sees any read past the end.
    std::vector<uint8_t> cut(w.Bytes().begin(), w.Bytes().begin() + static_cast<long>(n));
    ArchiveReader r(cut.data(), cut.size());
    EXPECT_THROW(read_all(r), ArchiveError) << n;
  }
  // A text style read from a short stream is left as it was.
  CTextStyle kept;
  std::vector<uint8_t> cut(w.Bytes().begin() + 4 + 9, w.Bytes().begin() + 20);
  ArchiveReader r(cut);
  EXPECT_THROW(kept.Serialize(r), ArchiveError);
  EXPECT_EQ(kept, CTextStyle());
}

TEST(Archive, FilesAreReplacedAtomicallyAndDamageIsReported) {
  test::TempDir dir;
  std::string path = dir.File("layer0.dat");
  ArchiveWriter w;
  w.Schema(41);
  w.String("卫星库");
  ASSERT_TRUE(w.SaveToFile(path));
  std::string text, error;
  EXPECT_EQ(LoadArchiveFile(path, [&](ArchiveReader& r) { r.Schema(41); text = r.String(); }), ArchiveLoad::kOk);
  EXPECT_EQ(text, "卫星库");
  EXPECT_EQ(LoadArchiveFile(dir.File("none.dat"), [](ArchiveReader&) {}, &error), ArchiveLoad::kMissing);
  EXPECT_EQ(LoadArchiveFile(path, [](ArchiveReader& r) { r.Schema(37); }, &error), ArchiveLoad::kDamaged);
  EXPECT_NE(error.find("layer0.dat"), std::string::npos);
  EXPECT_EQ(LoadArchiveFile(dir.path(), [](ArchiveReader&) {}, &error), ArchiveLoad::kDamaged);  // a folder
  // A save that fails keeps the old file.
  std::string before = test::ReadTestFile(path);
  EXPECT_FALSE(w.SaveToFile(dir.File("layer0.dat/sub"), &error));
  EXPECT_EQ(test::ReadTestFile(path), before);
}

}  // namespace
}  // namespace velmora
