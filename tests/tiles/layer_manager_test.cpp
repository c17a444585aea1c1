// The layer manager: source order without geocoders, the geocoder list and its flags, look-ups
// with and without fall-back, titles, and catalogues that must be refused.
#include "velmora_build_paths.h"
#include "tiles/layer_manager.h"

#include <gtest/gtest.h>

#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
const std::string kShipped = VELMORA_SOURCE_DIR "/data/map_sources.txt";

TEST(LayerManager, ShippedCatalogueAndLookUps) {
  CLayerManager empty;
  EXPECT_EQ(empty.FindSource(0), nullptr);

  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  EXPECT_TRUE(lm.LoadErrors().empty());
  for (const MapSourceDef& d : lm.Sources()) EXPECT_FALSE(d.IsGeocoder()) << d.id;
  ASSERT_EQ(lm.GeocoderCount(), 3);
  EXPECT_EQ(lm.GeocoderAt(0)->id, 8);
  EXPECT_EQ(lm.GeocoderAt(1)->id, 111);
  EXPECT_EQ(lm.GeocoderAt(2)->id, 112);
  EXPECT_EQ(lm.GeocoderAt(3), nullptr);
  EXPECT_EQ(lm.FindSource(111), lm.GeocoderAt(1));
  for (int id : {0, 7, 9, 35, 110, 113, 8 + 23}) EXPECT_FALSE(IsGeocoderId(id)) << id;
  for (int id : {8, 111, 112}) EXPECT_TRUE(IsGeocoderId(id)) << id;

  EXPECT_EQ(GetSourceTitle(*lm.FindSource(35)), "寰宇地图-国内-卫星");
  EXPECT_EQ(GetSourceTitle(*lm.FindSource(7)), "寰宇地图-国内-标注");
  // Unknown ids fall back to the first source; the strict look-up does not.
  for (int id : {9, 99999, -1, 11396, 1 << 30}) {
    EXPECT_EQ(lm.FindSource(id), &lm.Sources().front()) << id;
    EXPECT_EQ(lm.FindSourceStrict(id), nullptr) << id;
  }
  EXPECT_EQ(lm.FindSourceStrict(112)->id, 112);
}

TEST(LayerManager, LoadsOnceSoRecordsStayValid) {
  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  const MapSourceDef* p = lm.FindSourceStrict(35);
  EXPECT_FALSE(lm.LoadText("group|1|g\nsource|35|1|1|X|y|xyz||2|3||http://{host}/\n", "other"));
  EXPECT_FALSE(lm.Load(kShipped));
  EXPECT_EQ(lm.FindSourceStrict(35), p);
  EXPECT_EQ(p->name, "国内-卫星");
}

TEST(LayerManager, GeocoderIdsAndBuildersMustAgree) {
  CLayerManager lm;
  ASSERT_TRUE(lm.LoadText(
      "group | 1 | g\n"
      "source | 8 | 1 | 1 | A | a | xyz | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n"
      "source | 9 | 1 | 1 | B | b | geocoder | | 2 | 18 | | http://{host}/?{lat},{lng}\n"
      "source | 111 | 1 | 1 | C | c | geocoder | | 2 | 18 | | http://{host}/?{lat},{lng}\n"
      "source | 10 | 1 | 1 | D | d | xyz | | 2 | 18 | | http://{host}/{z}/{x}/{y}\n",
      "mixed"));
  EXPECT_EQ(lm.LoadErrors().size(), 2u);
  EXPECT_EQ(lm.FindSourceStrict(8), nullptr);
  EXPECT_EQ(lm.FindSourceStrict(9), nullptr);
  ASSERT_EQ(lm.GeocoderCount(), 1);
  EXPECT_EQ(lm.GeocoderAt(0)->id, 111);
  ASSERT_EQ(lm.Sources().size(), 1u);
  EXPECT_EQ(lm.FindSource(8)->id, 10);  // falls back to the first map source

  CLayerManager only_geocoders;
  EXPECT_FALSE(only_geocoders.LoadText("group|1|g\nsource|8|1|1|A|a|geocoder||2|18||http://{host}/?{lat}\n", "geo"));
  EXPECT_FALSE(only_geocoders.IsLoaded());
  EXPECT_EQ(only_geocoders.FindSource(8), nullptr);
  CLayerManager missing;
  EXPECT_FALSE(missing.Load(kFolders.File("nothing.txt")));
}

TEST(LayerManager, GeocoderFlagsPersist) {
  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  lm.SetGeocoderEnabled(1, false);
  lm.SetGeocoderEnabled(7, false);  // no such entry: ignored
  auto on = lm.EnabledGeocoders();
  ASSERT_EQ(on.size(), 2u);
  EXPECT_EQ(on[0]->id, 8);
  EXPECT_EQ(on[1]->id, 112);
  lm.SaveState();

  CLayerManager again;
  ASSERT_TRUE(again.Load(kShipped));
  EXPECT_TRUE(again.IsGeocoderEnabled(1));
  again.LoadState();
  EXPECT_FALSE(again.IsGeocoderEnabled(1));
  EXPECT_TRUE(again.IsGeocoderEnabled(0));
}

}  // namespace
}  // namespace velmora
