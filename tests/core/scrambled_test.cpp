// Scrambled data files: round trips of binary bytes, damaged files, bundles, the web-file pair
// and the packing tool.
#include "velmora_build_paths.h"
#include "core/scrambled_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "core/settings.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

std::string AllBytes(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
  return s;
}

// The loader reads the program folder: a new one for each test.
class ScrambledTest : public ::testing::Test {
 protected:
  void SetUp() override { options_.emplace([this](CAppOptions& o) { o.program_dir = dir_.path(); }); }
  test::TempDir dir_;
  std::optional<ScopedAppOptions> options_;
};

TEST_F(ScrambledTest, BinaryFilesRoundTrip) {
  // Lengths around the 4-byte key step, and a larger file with every byte value.
  for (size_t size : {1u, 3u, 4u, 5u, 8u, 9u, 65537u}) {
    const std::string plain = AllBytes(size);
    ASSERT_TRUE(SaveScrambledFile(dir_.File("bin.kmp"), plain));
    std::string stored = test::ReadTestFile(dir_.File("bin.kmp"));
    ASSERT_EQ(stored.size(), plain.size() + 8);
    EXPECT_TRUE(size < 8 || stored.find(plain.substr(0, 8)) == std::string::npos) << "stored in the clear";
    auto back = LoadScrambledDataFile("bin");
    ASSERT_TRUE(back) << size;
    EXPECT_EQ(*back, plain);
    EXPECT_EQ(back->c_str()[back->size()], '\0');  // a page's text reads as a C string
  }
}

TEST_F(ScrambledTest, MissingEmptyAndDamagedFilesGiveNothing) {
  EXPECT_FALSE(LoadScrambledDataFile("absent"));
  test::WriteTestFile(dir_.File("empty.kmp"), "");
  EXPECT_FALSE(LoadScrambledDataFile("empty"));
  ASSERT_TRUE(SaveScrambledFile(dir_.File("zero.kmp"), ""));
  EXPECT_FALSE(LoadScrambledDataFile("zero"));  // holds no bytes

  const std::string stored = ScrambleBytes(AllBytes(100));
  for (size_t cut : {size_t{3}, size_t{8}, size_t{50}, size_t{107}}) {
    test::WriteTestFile(dir_.File("cut.kmp"), stored.substr(0, cut));
    EXPECT_FALSE(LoadScrambledDataFile("cut")) << cut;
  }
  test::WriteTestFile(dir_.File("long.kmp"), stored + "x");
  EXPECT_FALSE(LoadScrambledDataFile("long"));
  test::WriteTestFile(dir_.File("plain.kmp"), "<html>not scrambled</html>");
  EXPECT_FALSE(LoadScrambledDataFile("plain"));
}

TEST_F(ScrambledTest, BundlesHoldNamedFilesAndRejectDamage) {
  ScrambledBundle files = {{"index.htm", "<html></html>"},
                           {"img/logo.png", AllBytes(3000)},
                           {"empty.txt", ""},
                           {"中文/名.js", "var a = 1;"}};
  ASSERT_TRUE(SaveScrambledFile(dir_.File("wb.kmp"), EncodeBundle(files)));
  EXPECT_EQ(LoadScrambledBundle("wb"), files);

  // Every cut of the plain bytes is refused, as is trailing junk and an absurd count.
  const std::string plain = EncodeBundle(files);
  for (size_t cut = 0; cut < plain.size(); ++cut) ASSERT_FALSE(DecodeBundle(plain.substr(0, cut))) << cut;
  EXPECT_FALSE(DecodeBundle(plain + "x"));
  std::string huge = plain;
  huge[4] = huge[5] = huge[6] = huge[7] = '\xFF';
  EXPECT_FALSE(DecodeBundle(huge));
  EXPECT_TRUE(DecodeBundle(EncodeBundle({})));
}

TEST_F(ScrambledTest, WebFilePairFollowsTheNameTableLayout) {
  ScrambledBundle files = {{"examples/index.htm", "<html>$$WMTS$$</html>"},
                           {"examples/wmtsinfo.js", "var info = {};"},
                           {"openlayers/openlayers.js", AllBytes(1000)}};
  WebFilePair pair = EncodeWebFiles(files);
  // The table: name, NUL, 32-bit little-endian size; the data block in table order.
  EXPECT_EQ(pair.names.substr(0, 23), std::string("examples/index.htm\0\x15\0\0\0", 23));
  EXPECT_EQ(pair.data.substr(0, 21), "<html>$$WMTS$$</html>");
  EXPECT_EQ(DecodeWebFiles(pair.names, pair.data), files);
  EXPECT_FALSE(DecodeWebFiles(pair.names.substr(0, pair.names.size() - 1), pair.data));
  EXPECT_FALSE(DecodeWebFiles(pair.names, pair.data.substr(1)));
}

TEST_F(ScrambledTest, PackingToolWritesWhatTheLoaderReads) {
  const std::string tool = VELMORA_BUILD_DIR "/tools/kmp_pack";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "kmp_pack not built";
  test::WriteTestFile(dir_.File("src/one.bin"), AllBytes(777));
  test::WriteTestFile(dir_.File("src/sub/Two.JS"), "two");
  test::WriteTestFile(dir_.File("src/.hidden"), "no");
  test::WriteTestFile(dir_.File("ext/OpenLayers.js"), "ol");
  ASSERT_EQ(std::system((tool + " file " + dir_.File("src/one.bin") + " " + dir_.File("one.kmp")).c_str()), 0);
  EXPECT_EQ(*LoadScrambledDataFile("one"), AllBytes(777));
  ASSERT_EQ(std::system((tool + " bundle " + dir_.File("b.kmp") + " " + dir_.File("src")).c_str()), 0);
  EXPECT_EQ(*LoadScrambledBundle("b"), (ScrambledBundle{{"one.bin", AllBytes(777)}, {"sub/Two.JS", "two"}}));
  ASSERT_EQ(std::system((tool + " webfiles " + dir_.File("wi.kmp") + " " + dir_.File("wd.kmp") + " " +
                         dir_.File("src") + " " + dir_.File("ext") + "=openlayers")
                            .c_str()),
            0);
  // Names in lower case, as the server looks them up.
  EXPECT_EQ(DecodeWebFiles(*LoadScrambledDataFile("wi"), *LoadScrambledDataFile("wd")),
            (ScrambledBundle{{"one.bin", AllBytes(777)}, {"sub/two.js", "two"}, {"openlayers/openlayers.js", "ol"}}));
}

}  // namespace
}  // namespace velmora
