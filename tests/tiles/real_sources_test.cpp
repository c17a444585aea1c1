// The real map sources of the shipped catalogue: OpenStreetMap first and the default, exact
// tile addresses of each provider, the no-bulk and agent flags and attributions, the optional
// fields' parsing, and the User-Agent the tile manager sends to a source whose policy asks for
// the program's name (the test web server stands in for the provider).
#include "velmora_build_paths.h"
#include <gtest/gtest.h>

#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
const std::string kShipped = VELMORA_SOURCE_DIR "/data/map_sources.txt";

TEST(RealSources, OpenStreetMapIsFirstAndTheDefault) {
  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  ASSERT_FALSE(lm.Sources().empty());
  const MapSourceDef& first = lm.Sources().front();
  EXPECT_EQ(first.id, 60);
  EXPECT_EQ(first.code, "OSM");
  EXPECT_EQ(lm.FindSource(99999), &first);  // unknown ids fall back to it
  EXPECT_EQ(GetSourceTitle(first), "OpenStreetMap-标准地图");
  // The real sources come before every placeholder source.
  bool placeholders_started = false;
  for (const MapSourceDef& d : lm.Sources()) {
    bool real = !d.attribution.empty();
    if (!real) placeholders_started = true;
    EXPECT_FALSE(real && placeholders_started) << d.id;
  }
}

TEST(RealSources, ExactAddressesFlagsAndAttributions) {
  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  auto url = [&](int id, int x, int y, int z) { return BuildTileUrl(*lm.FindSourceStrict(id), x, y, z); };
  EXPECT_EQ(url(60, 3, 5, 4), "https://tile.openstreetmap.org/4/3/5.png");
  EXPECT_EQ(url(61, 3, 5, 4), "https://c.tile.opentopomap.org/4/3/5.png");  // (3 + 5) mod 3
  EXPECT_EQ(url(62, 3, 5, 4), "https://basemap.nationalmap.gov/arcgis/rest/services/USGSTopo/MapServer/tile/4/5/3");
  EXPECT_EQ(url(63, 3, 5, 4),
            "https://basemap.nationalmap.gov/arcgis/rest/services/USGSImageryOnly/MapServer/tile/4/5/3");
  EXPECT_EQ(url(66, 3, 5, 4),
            "https://gibs.earthdata.nasa.gov/wmts/epsg3857/best/BlueMarble_ShadedRelief_Bathymetry/default/"
            "GoogleMapsCompatible_Level8/4/5/3.jpeg");
  EXPECT_EQ(lm.FindSourceStrict(60)->max_zoom, 19);
  EXPECT_EQ(lm.FindSourceStrict(66)->max_zoom, 8);

  // OpenStreetMap's and OpenTopoMap's servers forbid bulk downloads; the public-domain ones do not.
  for (int id : {60, 61}) EXPECT_FALSE(AllowsBulkDownload(*lm.FindSourceStrict(id))) << id;
  for (int id : {62, 63, 64, 65, 66, 67, 0, 35}) EXPECT_TRUE(AllowsBulkDownload(*lm.FindSourceStrict(id))) << id;
  for (int id : {60, 61, 62, 66}) {
    EXPECT_TRUE(lm.FindSourceStrict(id)->identify_agent) << id;
    EXPECT_EQ(SourceUserAgentHeader(*lm.FindSourceStrict(id)), "User-Agent: " + ProgramUserAgent());
  }
  EXPECT_EQ(SourceUserAgentHeader(*lm.FindSourceStrict(0)), "");
  EXPECT_EQ(ProgramUserAgent(), std::string("Velmora/") + VELMORA_VERSION);
  EXPECT_EQ(lm.FindSourceStrict(60)->attribution, "© OpenStreetMap contributors");
  EXPECT_NE(lm.FindSourceStrict(61)->attribution.find("OpenTopoMap (CC-BY-SA)"), std::string::npos);
}

TEST(RealSources, OptionalFieldsParseAndBadFlagsAreReported) {
  MapCatalogue cat = ParseMapCatalogue(
      "group | 1 | g\n"
      "source | 1 | 1 | 1 | A | a | xyz | | 0 | 18 | h.example.invalid | https://{host}/{z}/{x}/{y}.png\n"
      "source | 2 | 1 | 1 | B | b | xyz | | 0 | 18 | h.example.invalid | https://{host}/{z}/{x}/{y}.png |  nobulk   agent \n"
      "source | 3 | 1 | 1 | C | c | xyz | | 0 | 18 | h.example.invalid | https://{host}/{z}/{x}/{y}.png | | © someone, 2024; CC\n"
      "source | 4 | 1 | 1 | D | d | xyz | | 0 | 18 | h.example.invalid | https://{host}/{z}/{x}/{y}.png | fast\n"
      "source | 5 | 1 | 1 | E | e | xyz | | 0 | 18 | h | https://{host}/ | | x | extra\n",
      "flags");
  ASSERT_EQ(cat.sources.size(), 3u);
  EXPECT_FALSE(cat.sources[0].no_bulk_download);
  EXPECT_TRUE(cat.sources[1].no_bulk_download);
  EXPECT_TRUE(cat.sources[1].identify_agent);
  EXPECT_EQ(cat.sources[2].attribution, "© someone, 2024; CC");
  ASSERT_EQ(cat.errors.size(), 2u);
  EXPECT_EQ(cat.errors[0], "flags:5: unknown source flag \"fast\"");
  EXPECT_EQ(cat.errors[1], "flags:6: a source line has 12 to 14 fields, this one 15");
}

TEST(RealSources, FlaggedSourcesGetTheProgramsUserAgent) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  test::HttpTestServer web;
  std::vector<uint8_t> png;
  {
    CBitmap tile;
    tile.Create(256, 256, 0xFF336699u);
    ASSERT_TRUE(EncodeImage(tile, ImageType::kPng, &png));
  }
  web.RoutePrefix("/t/", [&](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(std::string(png.begin(), png.end()), "image/png");
  });
  WriteProfileString(kUrlTemplatesSection, "60", web.BaseUrl() + "/t/60/{z}/{x}/{y}.png");
  WriteProfileString(kUrlTemplatesSection, "0", web.BaseUrl() + "/t/0/{z}/{x}/{y}.png");
  TileManagerOptions o;
  o.data_dir = kFolders.File("agent/");
  o.download_threads = 1;
  o.offline = false;
  o.use_download_list = false;
  CTileManager tiles(o);
  ASSERT_TRUE(tiles.Start());
  std::shared_ptr<CTile> osm = tiles.GetTile(MakeTileKey(1, 2, TileKeyValue(60, 3)));
  std::shared_ptr<CTile> other = tiles.GetTile(MakeTileKey(1, 2, TileKeyValue(0, 3)));
  EXPECT_EQ(tiles.WaitForState(*osm, 20000), DS_LOADED);
  EXPECT_EQ(tiles.WaitForState(*other, 20000), DS_LOADED);
  tiles.Stop();
  ASSERT_EQ(web.RequestCount(), 2u);
  for (const test::HttpRequestRecord& r : web.Requests()) {
    if (r.path.starts_with("/t/60/")) {
      EXPECT_EQ(r.Header("User-Agent"), ProgramUserAgent());
    } else {
      EXPECT_NE(r.Header("User-Agent"), ProgramUserAgent());  // the configured agent
      EXPECT_FALSE(r.Header("User-Agent").empty());
    }
  }
  WriteProfileString(kUrlTemplatesSection, "60", "");
  WriteProfileString(kUrlTemplatesSection, "0", "");
}

}  // namespace
}  // namespace velmora
