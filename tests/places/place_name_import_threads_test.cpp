// The place-name import on its worker ("ImportAddrName") while the user-interface thread reads
// the same database connection (the tree loading a level, the search box looking for a name), and
// a stop in the middle of a file that takes the whole file back.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "core/format.h"
#include "core/settings.h"
#include "core/work_thread.h"
#include "places/place_name_db.h"
#include "places/place_name_import.h"
#include "support/isolated_folders.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

// A province of `cities` cities, each with `counties` counties of `towns` towns.
std::string LargeProvince(const std::string& name, int cities, int counties, int towns) {
  std::string kml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kml><Document><name>" + name + "</name>";
  auto mark = [&](const std::string& place, const char* style, double lng, double lat, double half) {
    kml += FormatC("<Placemark><name>%s</name><styleUrl>#%s</styleUrl><Region><LatLonAltBox><north>%.4f</north>"
                   "<south>%.4f</south><east>%.4f</east><west>%.4f</west></LatLonAltBox></Region><Point>"
                   "<coordinates>%.4f,%.4f,0</coordinates></Point></Placemark>",
                   place.c_str(), style, lat + half, lat - half, lng + half, lng - half, lng, lat);
  };
  for (int c = 0; c < cities; ++c) {
    const double clng = 110 + c, clat = 30;
    mark(FormatC("%s城%d", name.c_str(), c), "city", clng, clat, 0.5);
    for (int k = 0; k < counties; ++k) {
      const double klng = clng - 0.4 + 0.1 * k, klat = clat;
      mark(FormatC("%s县%d_%d", name.c_str(), c, k), "county", klng, klat, 0.04);
      for (int t = 0; t < towns; ++t) mark(FormatC("%s镇%d_%d_%d", name.c_str(), c, k, t), "town", klng + 0.001 * t, klat, 0.0005);
    }
  }
  return kml + "</Document></kml>";
}

class Sink : public IPlaceImportSink {
 public:
  explicit Sink(CWorkThread& thread) : thread_(thread) {}
  void SetProgress(float fraction) override { progress.store(fraction); }
  bool StopRequested() override {
    // At `pause_at` the import waits for the stop, so that it comes in the middle of a file.
    if (places.fetch_add(1) + 1 == pause_at) return thread_.WaitQuit(kInfinite);
    return thread_.QuitRequested();
  }
  std::atomic<float> progress{0};
  std::atomic<int> places{0};
  int pause_at = -1;

 private:
  CWorkThread& thread_;
};

TEST(PlaceNameImportThreads, ReadersShareTheConnectionWithTheImport) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("kml/a.kml"), LargeProvince("甲省", 6, 6, 12));
  test::WriteTestFile(dir.File("kml/b.kml"), LargeProvince("乙省", 6, 6, 12));
  CPlaceNameDb db;
  ASSERT_TRUE(db.OpenDatabase(dir.File("adn.adr"), ""));
  CWorkThread worker;
  Sink sink(worker);
  PlaceImportResult result;
  ASSERT_TRUE(worker.Start("ImportAddrName", [&] {
    worker.SignalReady();
    result = ImportPlaceNameKml(db, dir.File("kml/"), sink);
  }));
  // The tree and the search box read meanwhile; what they see is always whole rows.
  int reads = 0;
  while (worker.IsRunning()) {
    for (const PlaceRecord& r : db.FindByName("镇0_0_"))
      ASSERT_EQ(r.type, kPlaceTown) << r.name;
    for (const PlaceRecord& p : db.Provinces()) ASSERT_FALSE(p.name.empty());
    db.PlacesInBox({kPlaceCounty}, 109, 120, 29, 31);
    ++reads;
  }
  worker.Stop(kInfinite);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(result.files, 2);
  const int per_province = 1 + 6 * (1 + 6 * (1 + 12));
  EXPECT_EQ(result.places, 2 * per_province);
  EXPECT_EQ(db.PlaceCount(), 2 * per_province);
  EXPECT_FLOAT_EQ(sink.progress.load(), 1.0f);
}

TEST(PlaceNameImportThreads, AStopTakesTheFileBack) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("big.kml"), LargeProvince("丙省", 20, 8, 20));
  CPlaceNameDb db;
  ASSERT_TRUE(db.OpenDatabase(dir.File("adn.adr"), ""));
  CWorkThread worker;
  Sink sink(worker);
  sink.pause_at = 200;
  PlaceImportResult result;
  ASSERT_TRUE(worker.Start("ImportAddrName", [&] {
    worker.SignalReady();
    result = ImportPlaceNameKml(db, dir.File("big.kml"), sink);
  }));
  // The readers see the rows written so far; then the stop comes.
  while (sink.places.load() < 200) db.FindByName("丙省城1");
  EXPECT_GT(db.PlaceCount(), 100);
  worker.Stop(kInfinite);
  ASSERT_TRUE(result.stopped);
  EXPECT_EQ(db.PlaceCount(), 0);
  EXPECT_FALSE(db.HasProvince("丙省"));
}

}  // namespace
}  // namespace velmora
