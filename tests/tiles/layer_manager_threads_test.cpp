// The layer manager under concurrent use: first use of the global instance from many threads,
// look-ups, URL building and geocoder flag changes at the same time.
#include "tiles/layer_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

TEST(LayerManagerThreads, SharedReadersAndFlagWriters) {
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &bad] {
      CLayerManager& lm = LayerManager();  // the first calls race to construct it
      for (int i = 0; i < 2000; ++i) {
        int id = (i * 7 + t) % 120;
        const MapSourceDef* d = lm.FindSource(id);
        const MapSourceDef* strict = lm.FindSourceStrict(id);
        if (!d || (strict && strict->id != id)) ++bad;
        else if (i % 50 == 0 && BuildTileUrl(*d, i, i / 2, 12).empty()) ++bad;
        if (t % 2 == 0) lm.SetGeocoderEnabled(i % 3, (i / 3) % 2 == 0);
        else if (lm.EnabledGeocoders().size() > 3) ++bad;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_TRUE(LayerManager().IsLoaded());
}

}  // namespace
}  // namespace velmora
