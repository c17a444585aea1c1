// The layer manager: source order without geocoders, the geocoder list and its flags, look-ups
// with and without fall-back, titles, and catalogues that must be refused.
#include "tiles/layer_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/settings.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

const test::TempDir& ConfigDir() {
  static test::TempDir dir;
  return dir;
}
const bool kConfigured = [] {
  setenv("VELMORA_CONFIG_DIR", ConfigDir().path().c_str(), 1);
  setenv("VELMORA_DATA_DIR", ConfigDir().File("data/").c_str(), 1);
  setenv("VELMORA_PROGRAM_DIR", VELMORA_SOURCE_DIR "/data/", 1);
  return true;
}();

const std::string kShipped = VELMORA_SOURCE_DIR "/data/map_sources.txt";

TEST(LayerManager, ShippedCatalogue) {
  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  EXPECT_TRUE(lm.LoadErrors().empty());
  const auto& sources = lm.Sources();
  ASSERT_FALSE(sources.empty());
  EXPECT_EQ(sources[0].id, 0);
  EXPECT_EQ(sources[1].id, 1);
  for (const MapSourceDef& d : sources) EXPECT_FALSE(d.IsGeocoder()) << d.id;
  ASSERT_EQ(lm.GeocoderCount(), 3);
  EXPECT_EQ(lm.GeocoderAt(0)->id, 8);
  EXPECT_EQ(lm.GeocoderAt(1)->id, 111);
  EXPECT_EQ(lm.GeocoderAt(2)->id, 112);
  EXPECT_EQ(lm.GeocoderAt(3), nullptr);
  EXPECT_EQ(lm.EnabledGeocoders().size(), 3u);

  EXPECT_EQ(GetSourceTitle(*lm.FindSource(35)), "寰宇地图-国内-卫星");
  EXPECT_EQ(GetSourceTitle(*lm.FindSource(0)), "寰宇地图-国外-卫星");
  EXPECT_EQ(GetSourceTitle(*lm.FindSource(7)), "寰宇地图-国内-标注");
  EXPECT_TRUE(lm.FindSource(8)->IsGeocoder());
  EXPECT_EQ(lm.FindSource(111), lm.GeocoderAt(1));
}

TEST(LayerManager, LookUpWithAndWithoutFallBack) {
  CLayerManager empty;
  EXPECT_EQ(empty.FindSource(0), nullptr);
  EXPECT_EQ(empty.FindSourceStrict(0), nullptr);

  CLayerManager lm;
  ASSERT_TRUE(lm.Load(kShipped));
  const MapSourceDef* first = &lm.Sources().front();
  for (int id : {9, 99999, -1, 11396, 1 << 30}) {
    EXPECT_EQ(lm.FindSource(id), first) << id;
    EXPECT_EQ(lm.FindSourceStrict(id), nullptr) << id;
  }
  EXPECT_EQ(lm.FindSourceStrict(54)->id, 54);
  EXPECT_EQ(lm.FindSourceStrict(112)->id, 112);
}

TEST(LayerManager, GeocoderIds) {
  for (int id : {8, 111, 112}) EXPECT_TRUE(IsGeocoderId(id));
  for (int id : {0, 7, 9, 35, 110, 113, -8, 8 + 23}) EXPECT_FALSE(IsGeocoderId(id));
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
  EXPECT_FALSE(only_geocoders.LoadText(
      "group|1|g\nsource|8|1|1|A|a|geocoder||2|18||http://{host}/?{lat}\n", "geo"));
  EXPECT_FALSE(only_geocoders.IsLoaded());
  EXPECT_EQ(only_geocoders.FindSource(8), nullptr);
  CLayerManager missing;
  EXPECT_FALSE(missing.Load(ConfigDir().File("nothing.txt")));
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
  again.SetGeocoderEnabled(1, true);
  again.SaveState();
}

TEST(LayerManager, GlobalInstanceLoadsTheShippedCatalogue) {
  CLayerManager& lm = LayerManager();
  ASSERT_TRUE(lm.IsLoaded());
  EXPECT_EQ(&lm, &LayerManager());
  EXPECT_EQ(lm.FindSourceStrict(35)->name, "国内-卫星");
}

}  // namespace
}  // namespace velmora
