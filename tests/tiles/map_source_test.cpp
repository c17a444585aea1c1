// The map-source catalogue file and the tile URL builder: the shipped catalogue, malformed
// lines reported by line number, exact URLs per builder and host configuration.
#include "velmora_build_paths.h"
#include "tiles/map_source.h"

#include <gtest/gtest.h>

#include <set>

#include "core/geodesy.h"
#include "core/settings.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

const std::string kShipped = VELMORA_SOURCE_DIR "/data/map_sources.txt";

MapSourceDef Source(int kind, UrlBuilder builder, std::string variant = "") {
  MapSourceDef d;
  d.id = 900;
  d.kind = kind;
  d.builder = builder;
  d.variant = std::move(variant);
  return d;
}

TEST(Catalogue, ShippedFileLoadsWholeAndEmptyOnesFail) {
  MapCatalogue cat;
  std::string error;
  ASSERT_TRUE(LoadMapCatalogue(kShipped, &cat, &error)) << error;
  EXPECT_TRUE(cat.errors.empty()) << cat.errors.front();
  std::set<int> kinds;
  for (const MapSourceDef& d : cat.sources) {
    kinds.insert(d.kind);
    EXPECT_FALSE(d.group_name.empty());
    // Every source builds a complete URL for a tile inside its zoom range.
    int64_t cols = 0, rows = 0;
    KindTileCount(d.kind, d.max_zoom, &cols, &rows);
    std::string url = BuildTileUrl(d, static_cast<int>(cols / 3), static_cast<int>(rows / 2), d.max_zoom);
    EXPECT_EQ(url.find('{'), std::string::npos) << d.id << " " << url;
    if (d.attribution.empty()) {
      EXPECT_TRUE(url.starts_with("http://")) << d.id << " " << url;
      EXPECT_NE(url.find(".invalid"), std::string::npos) << "placeholder hosts only: " << url;
    } else {
      // The real sources (they carry the attribution their terms ask for) are fetched over TLS.
      EXPECT_TRUE(url.starts_with("https://")) << d.id << " " << url;
      EXPECT_EQ(url.find(".invalid"), std::string::npos) << d.id << " " << url;
    }
  }
  EXPECT_EQ(kinds.size(), 10u);

  // A missing file, or one without sources, is refused.
  EXPECT_FALSE(LoadMapCatalogue(kFolders.File("missing.txt"), &cat, &error));
  EXPECT_FALSE(error.empty());
  test::WriteTestFile(kFolders.File("groups_only.txt"), "group | 1 | 甲\n");
  EXPECT_FALSE(LoadMapCatalogue(kFolders.File("groups_only.txt"), &cat, &error));
}

TEST(Catalogue, MalformedLinesAreReportedAndSkipped) {
  const std::string text =
      "# header\n"                                                                          // 1
      "group | 1 | 甲组\n"                                                                  // 2
      "source | 1 | 1 | 1 | A | 甲 | xyz | | 2 | 18 | h.example.invalid | http://{host}/{z}/{x}/{y}\n"  // 3
      "source | 2 | 1 | 11 | B | 乙 | xyz | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n"        // 4 kind
      "source | 3 | 1 | 1 | C | 丙 | xyz | | 2 | 18 |\n"                                    // 5 fields
      "source | 1 | 1 | 1 | D | 丁 | xyz | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n"         // 6 dup id
      "source | 4 | 1 | 1 | E | 戊 | zxy | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n"         // 7 builder
      "source | 5 | 1 | 1 | F | 己 | xyz | | 2 | 18 | | http://{host}/{zoom}/{x}/{y}\n"      // 8 placeholder
      "source | 6 | 1 | 1 | G | 庚 | xyz | | 19 | 18 | | http://{host}/{z}/{x}/{y}\n"        // 9 zoom
      "source | 7 | 9 | 1 | H | 辛 | xyz | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n"         // 10 group
      "group | 26 | 过大\n"                                                                  // 11
      "source | x7 | 1 | 1 | I | 壬 | xyz | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n"        // 12 id
      "source | 8 | 1 | 1 | J | \xB9\xFA | geocoder | | 2 | 18 | | http://{host}/\n"      // 13 GBK
      "tile | 9\n"                                                                          // 14
      "source | 10 | 1 | 1 | K | 癸 | xyz | | 2 | 18 | bad/host | http://{host}/{z}/{x}/{y}\n"  // 15
      "source | 11 | 1 | 1 | L | 子 | xyz | | 2 | 18 | | ftp://{host}/{z}/{x}/{y}\n"         // 16
      "\n"
      "  source|12|1|5|M|丑|tms|v|0|22|h.example.invalid|https://{host}/{z}/{x}/{y}?{v}  \r\n";  // 18
  MapCatalogue cat = ParseMapCatalogue(text, "cat.txt");
  ASSERT_EQ(cat.sources.size(), 2u);
  EXPECT_EQ(cat.sources[0].id, 1);
  EXPECT_EQ(cat.sources[0].group_name, "甲组");
  EXPECT_EQ(cat.sources[1].id, 12);
  EXPECT_EQ(cat.sources[1].kind, 5);
  EXPECT_EQ(cat.sources[1].builder, UrlBuilder::kTms);
  EXPECT_EQ(cat.sources[1].url_template, "https://{host}/{z}/{x}/{y}?{v}");
  std::vector<int> lines;
  for (const std::string& e : cat.errors) {
    ASSERT_TRUE(e.starts_with("cat.txt:")) << e;
    lines.push_back(std::stoi(e.substr(8)));
  }
  // Line 10's undeclared group is found after the whole file is read.
  EXPECT_EQ(lines, (std::vector<int>{4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 10}));
}

TEST(Url, BuildersGiveExactAddresses) {
  const std::string h = "h.example.invalid";
  EXPECT_EQ(ExpandTileUrl("http://{host}/{z}/{x}/{y}.png", Source(1, UrlBuilder::kXyz), h, "", 3, 5, 4),
            "http://h.example.invalid/4/3/5.png");
  // Rows from the south: 2^3 - 1 - 1 = 6.
  EXPECT_EQ(ExpandTileUrl("http://{host}/{z}/{x}/{y}", Source(2, UrlBuilder::kTms), h, "", 2, 1, 3),
            "http://h.example.invalid/3/2/6");
  // On the equirectangular grid zoom 3 has 4 rows: 4 - 1 - 1 = 2.
  EXPECT_EQ(ExpandTileUrl("http://{host}/{z}/{x}/{y}", Source(5, UrlBuilder::kTms), h, "", 2, 1, 3),
            "http://h.example.invalid/3/2/2");
  EXPECT_EQ(ExpandTileUrl("http://{host}/t/{v}{q}.jpeg", Source(3, UrlBuilder::kQuadKey, "a"), h, "", 3, 5, 3),
            "http://h.example.invalid/t/a213.jpeg");
  EXPECT_EQ(ExpandTileUrl("http://{host}/wms?BBOX={bbox}", Source(1, UrlBuilder::kWms), h, "", 0, 0, 1),
            "http://h.example.invalid/wms?BBOX=-20037508.343,0.000,0.000,20037508.343");
  EXPECT_EQ(ExpandTileUrl("http://{host}/wms?BBOX={bbox}", Source(5, UrlBuilder::kWms), h, "", 1, 0, 1),
            "http://h.example.invalid/wms?BBOX=0.000000000,-90.000000000,180.000000000,90.000000000");
  EXPECT_EQ(ExpandTileUrl("http://{host}/g?latlng={lat},{lng}", Source(1, UrlBuilder::kGeocoder), h, "", 1, 1, 1),
            "http://h.example.invalid/g?latlng=-66.513260,90.000000");
  // Server rotation in the path and in the host; key and variant percent-encoded.
  EXPECT_EQ(ExpandTileUrl("http://{host}/s{s}/{abc}?k={key}&q={v}", Source(1, UrlBuilder::kXyz, "地名"),
                          "t{s}.example.invalid", "a b&c", 2, 3, 3),
            "http://t1.example.invalid/s1/c?k=a%20b%26c&q=%E5%9C%B0%E5%90%8D");

  MapSourceDef s = Source(1, UrlBuilder::kXyz);
  const char* t = "http://{host}/{z}/{x}/{y}";
  EXPECT_EQ(ExpandTileUrl(t, s, "h", "", -1, 0, 2), "http://h/2/3/0");  // x wraps
  EXPECT_EQ(ExpandTileUrl(t, s, "h", "", 4, 0, 2), "http://h/2/0/0");
  EXPECT_EQ(ExpandTileUrl(t, s, "h", "", 0, 4, 2), "");                 // no such row
  EXPECT_EQ(ExpandTileUrl(t, s, "h", "", 0, -1, 2), "");
  EXPECT_EQ(ExpandTileUrl(t, s, "h", "", 0, 0, 23), "");
  EXPECT_EQ(ExpandTileUrl(t, s, "h", "", 0, 0, -1), "");
  EXPECT_EQ(ExpandTileUrl(t, Source(5, UrlBuilder::kXyz), "h", "", 0, 4, 3), "");
  EXPECT_EQ(ExpandTileUrl(t, Source(5, UrlBuilder::kXyz), "h", "", 7, 3, 3), "http://h/3/7/3");
  EXPECT_EQ(ExpandTileUrl("http://{host}/{nope}", s, "h", "", 0, 0, 2), "");
  EXPECT_FALSE(CheckUrlTemplate("http://{host}/{z"));
  EXPECT_FALSE(CheckUrlTemplate("http://{host}/a b"));
  EXPECT_FALSE(CheckUrlTemplate("file:///etc/passwd"));
  EXPECT_TRUE(CheckUrlTemplate("https://x/{bbox}"));
}

TEST(Url, HostKeyAndTemplateComeFromConfiguration) {
  MapSourceDef s = Source(1, UrlBuilder::kXyz);
  s.id = 901;
  s.url_template = "http://{host}/{z}/{x}/{y}.png?key={key}";
  s.host = "own.example.invalid";
  EXPECT_EQ(BuildTileUrl(s, 1, 2, 3), "http://own.example.invalid/3/1/2.png?key=");

  ASSERT_TRUE(WriteProfileString(kHostsSection, "901", "127.0.0.1:8080"));
  ASSERT_TRUE(WriteProfileString(kKeysSection, "901", "k1"));
  EXPECT_EQ(BuildTileUrl(s, 1, 2, 3), "http://127.0.0.1:8080/3/1/2.png?key=k1");
  EXPECT_EQ(BuildTileUrl(s, MakeTileKey(1, 2, TileKeyValue(901, 3))), "http://127.0.0.1:8080/3/1/2.png?key=k1");

  // A host that would change the path is ignored.
  ASSERT_TRUE(WriteProfileString(kHostsSection, "901", "evil.invalid/x?"));
  EXPECT_EQ(BuildTileUrl(s, 1, 2, 3), "http://own.example.invalid/3/1/2.png?key=k1");
  ASSERT_TRUE(WriteProfileString(kHostsSection, "901", "127.0.0.1:8080"));

  ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, "901", "http://{host}/tiles/{z}-{x}-{y}"));
  EXPECT_EQ(BuildTileUrl(s, 1, 2, 3), "http://127.0.0.1:8080/tiles/3-1-2");
  // A broken template in the configuration fails the URL instead of fetching something else.
  ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, "901", "gopher://{host}"));
  EXPECT_EQ(BuildTileUrl(s, 1, 2, 3), "");
  ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, "901", ""));
  EXPECT_EQ(BuildTileUrl(s, 1, 2, 3), "http://127.0.0.1:8080/3/1/2.png?key=k1");
}

}  // namespace
}  // namespace velmora
