// The hosts that feed the earth page, without a web engine: terrain tiles from height files (size,
// row and column order, the hill's top, no data as 0, addresses that are no tile refused, a
// cancelled request dropped) and KML files (only the folders of files opened, a KMZ unpacked, names
// that would leave its folder refused).
#include <gtest/gtest.h>
#include <zip.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/settings.h"
#include "earth/ui/earth_page.h"
#include "support/isolated_folders.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(nullptr);

constexpr double kHillLng = 117.5, kHillLat = 37.5, kHillTop = 4000.0;

// The program folder with one 3-arc-second height file of a hill (115-120 E, 35-40 N).
const std::string& ProgramFolder() {
  static const std::string folder = [] {
    const std::string dir = kFolders.File("program/");
    std::filesystem::create_directories(dir + "data");
    WriteHeightFile3s(dir + "data/", 60, 5, [](double lng, double lat) {
      const double d2 = (lng - kHillLng) * (lng - kHillLng) + (lat - kHillLat) * (lat - kHillLat);
      return kHillTop * std::exp(-d2 / (2 * 0.3 * 0.3));
    });
    setenv("VELMORA_PROGRAM_DIR", dir.c_str(), 1);
    return dir;
  }();
  return folder;
}

std::vector<float> Heights(const PageResource& tile) {
  std::vector<float> h(tile.bytes.size() / 4);
  std::memcpy(h.data(), tile.bytes.data(), h.size() * 4);
  return h;
}

TEST(EarthHostsTest, TerrainTilesFromTheHeightFiles) {
  ProgramFolder();
  ASSERT_EQ(AppOptions().program_dir, ProgramFolder());
  // Level 7: tiles of 180/128 degrees; the hill's tile is x = (117.5 + 180) / 1.40625, y from the north.
  const int level = 7;
  const double side = 180.0 / (1 << level);
  const int x = int((kHillLng + 180) / side), y = int((90 - kHillLat) / side);
  char address[64];
  std::snprintf(address, sizeof address, "/%d/%d/%d", level, x, y);
  std::optional<PageResource> tile = EarthTerrainResource(address);
  ASSERT_TRUE(tile);
  ASSERT_EQ(tile->bytes.size(), size_t(kEarthTerrainSide) * kEarthTerrainSide * 4);
  std::vector<float> h = Heights(*tile);
  // The sample nearest the hill's top, by row (north first) and column (west first).
  const double west = -180 + x * side, north = 90 - y * side, step = side / (kEarthTerrainSide - 1);
  const int col = int(std::lround((kHillLng - west) / step)), row = int(std::lround((north - kHillLat) / step));
  const float top = h[size_t(row) * kEarthTerrainSide + col];
  EXPECT_NEAR(top, kHillTop, kHillTop * 0.01);
  EXPECT_LT(h[size_t(row) * kEarthTerrainSide + col + 20], top);  // lower to the east
  EXPECT_LT(h[size_t(row + 20) * kEarthTerrainSide + col], top);  // and to the south
  // Where no height file lies: 0, not the -9999 of no data.
  std::optional<PageResource> sea = EarthTerrainResource("/7/10/40");
  ASSERT_TRUE(sea);
  for (float v : Heights(*sea)) ASSERT_EQ(v, 0.0f);
  // Addresses that are no tile.
  for (const char* bad : {"", "/", "/0/2/0", "/0/0/1", "/-1/0/0", "/25/0/0", "/0/0/0/1", "/a/0/0", "/0/0"})
    EXPECT_FALSE(EarthTerrainResource(bad)) << bad;
  EXPECT_TRUE(EarthTerrainResource("/0/1/0"));
  // A request the page dropped gives nothing.
  std::atomic<bool> cancelled{true};
  EXPECT_FALSE(EarthTerrainResource("/7/10/40", &cancelled));
}

void AddToZip(zip_t* archive, const std::string& name, const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size()));
  std::memcpy(copy, text.data(), text.size());
  zip_source_t* source = zip_source_buffer(archive, copy, text.size(), 1);
  ASSERT_NE(source, nullptr);
  ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
}

std::string MakeKmz(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  EXPECT_NE(archive, nullptr);
  for (const auto& [name, text] : files) AddToZip(archive, name, text);
  EXPECT_EQ(zip_close(archive), 0);
  return path;
}

TEST(EarthHostsTest, KmlOnlyFromTheFoldersOfOpenedFiles) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("a/doc.kml"), "<kml/>");
  test::WriteTestFile(dir.File("a/icon.png"), "png");
  test::WriteTestFile(dir.File("b/secret.kml"), "<secret/>");
  EXPECT_FALSE(EarthKmlResource(dir.File("a/doc.kml")));  // nothing opened yet
  std::optional<std::string> url = PrepareEarthKml(dir.File("a/doc.kml"));
  ASSERT_TRUE(url);
  EXPECT_EQ(url->rfind("velmora://kml/", 0), 0u);
  std::optional<PageResource> doc = EarthKmlResource(dir.File("a/doc.kml"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->bytes, "<kml/>");
  EXPECT_EQ(doc->mime, "application/vnd.google-earth.kml+xml");
  EXPECT_TRUE(EarthKmlResource(dir.File("a/icon.png")));
  EXPECT_FALSE(EarthKmlResource(dir.File("b/secret.kml")));
  EXPECT_FALSE(EarthKmlResource(dir.File("a/../b/secret.kml")));
  EXPECT_FALSE(PrepareEarthKml(dir.File("a/missing.kml")));

  // A KMZ: unpacked into a folder of its own, its top-level KML opened.
  const std::string kmz = MakeKmz(dir.File("c.kmz"), {{"files/x.png", "x"}, {"doc.kml", "<kml>kmz</kml>"}});
  url = PrepareEarthKml(kmz);
  ASSERT_TRUE(url);
  const std::string unpacked = url->substr(std::strlen("velmora://kml"));
  std::optional<PageResource> inner = EarthKmlResource(unpacked);
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->bytes, "<kml>kmz</kml>");
  EXPECT_EQ(unpacked.rfind(AppOptions().work_dir, 0), 0u);
  // Names leaving the folder, archives without KML and files that are no archive: refused.
  std::string error;
  EXPECT_FALSE(PrepareEarthKml(MakeKmz(dir.File("evil.kmz"), {{"../../evil.kml", "<kml/>"}}), &error));
  EXPECT_NE(error.find("outside"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(AppOptions().work_dir + "evil.kml"));
  EXPECT_FALSE(PrepareEarthKml(MakeKmz(dir.File("none.kmz"), {{"a.txt", "x"}}), &error));
  test::WriteTestFile(dir.File("broken.kmz"), "not a zip");
  EXPECT_FALSE(PrepareEarthKml(dir.File("broken.kmz"), &error));
}

}  // namespace
}  // namespace velmora
