// CElevationStore on synthetic height files under a temporary program folder and a real elevation
// cache whose web service is the test server: wrapping and snapping, each source mode, the 3- and
// 1-arc-second tiles and the coarse file at hand-computed points, and bad positions.
#include "terrain/elevation_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <limits>

#include "core/format.h"
#include "core/settings.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/elev_cache_db.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;
using test::HttpTestServer;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A value that differs between any two neighbouring samples of a grid with `per_degree` samples.
int Distinct(double lon, double lat, double per_degree) {
  const long c = std::lround((lon + 180.0) * per_degree);
  const long r = std::lround((lat + 90.0) * per_degree);
  return static_cast<int>((c * 31 + r * 17) % 30000) - 15000;
}
double Fn3s(double lon, double lat) { return Distinct(lon, lat, 1200); }
double Fn1s(double lon, double lat) { return Distinct(lon, lat, 3600); }
double FnCoarse(double lon, double lat) {
  const long c = std::lround((lon - kCoarseWest) / kCoarseCellDegrees);
  const long r = std::lround((kCoarseNorth - lat) / kCoarseCellDegrees);
  return static_cast<double>(c * 7 + r * 3 - 2000);
}

// The program folder with its height files, written once for the whole program:
//   3-arc-second tile (60, 5) whole (115..120 E, 40..35 N); the first rows of tiles (60, 1) and
//   (60, 24) (60 N and 55 S); the coarse file; the 1-arc-second cells (-1, 0) and (0, -1).
class StoreEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UpdateAppOptions([](CAppOptions& o) { o.program_dir = test::IsolatedFolders().File("program/"); });
    const std::string data = AppOptions().program_dir + "data/";
    ASSERT_NE(WriteHeightFile3s(data, 60, 5, Fn3s), "");
    for (int row : {1, 24}) WriteRows(data, HeightLayout3s(60, row), CHeightFile3s::TileNumber(60, row), kHeightFileSmh);
    ASSERT_NE(WriteCoarseHeightFile(data, FnCoarse), "");
    ASSERT_NE(WriteHeightFile1s(data, -1, 0, Fn1s), "");
    ASSERT_NE(WriteHeightFile1s(data, 0, -1, Fn1s), "");
  }
  // The first two rows of a height file only.
  static void WriteRows(const std::string& data, HeightGridLayout layout, int tile, int kind) {
    layout.height = 2;
    ASSERT_TRUE(WriteHeightSamples(data + CHeightFile::FileName(tile, kind),
                                   BuildHeightGrid(layout, kind == kHeightFileSmh ? Fn3s : Fn1s)));
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new StoreEnvironment);

// The web elevation service: answers each point with 1000 + the latitude, at the location asked.
HttpReply AnswerPoint(const HttpRequestRecord& request) {
  const size_t at = request.query.find("locations=");
  const size_t comma = request.query.find(',', at);
  const size_t amp = request.query.find('&', comma);
  const auto lat = ParseDouble(request.query.substr(at + 10, comma - at - 10));
  const auto lng = ParseDouble(request.query.substr(comma + 1, amp - comma - 1));
  if (at == std::string::npos || !lat || !lng) return HttpReply::Status(400, "bad");
  return HttpReply::Ok(FormatC("{\"results\" : [ {\"elevation\" : %.10f, \"location\" : {\"lat\" : %.8f, \"lng\" : "
                               "%.8f}} ], \"status\" : \"OK\"}",
                               1000 + *lat, *lat, *lng),
                       "application/json");
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.RoutePrefix("/maps/api/elevation/json", AnswerPoint);
    WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  }
  // The height and the position written back for one look-up.
  struct Result {
    int status;
    float height;
    float lon, lat;
  };
  Result Get(float lon, float lat, int resolution, int mode) {
    float pos[2] = {lon, lat};
    float h = 0;
    const int status = store.GetElevation(pos, &h, resolution, mode);
    return Result{status, h, pos[0], pos[1]};
  }

  HttpTestServer server;
  test::TempDir cache_dir;
  CElevCacheDb cache{cache_dir.path()};
  CElevationStore store{&cache};
};

TEST(NormalizePosition, WrapsAndSnaps) {
  // (lon, lat) in, (lon, lat) out, without snapping.
  const float wraps[][4] = {{190, 95, -170, -85}, {-550, -275, 170, 85}, {180, 90, 180, 90}, {-180, -90, -180, -90}};
  float lon = 0, lat = 0;
  for (const auto& w : wraps) {
    lon = w[0];
    lat = w[1];
    ASSERT_TRUE(CElevationStore::NormalizePosition(&lon, &lat, 0));
    EXPECT_TRUE(lon == w[2] && lat == w[3]) << w[0] << " " << w[1] << " -> " << lon << " " << lat;
  }
  // Resolution 30 m: step 2.6949458523585642e-4 degrees from 180 W / 90 S, truncated:
  // (116.391 + 180) / step = 1099803.x, (39.907 + 90) / step = 482039.x.
  lon = 116.391f;
  lat = 39.907f;
  ASSERT_TRUE(CElevationStore::NormalizePosition(&lon, &lat, 30));
  EXPECT_EQ(lon, static_cast<float>(1099803 * 30 * kDegreesPerMetre - 180));
  EXPECT_EQ(lat, static_cast<float>(482039 * 30 * kDegreesPerMetre - 90));
  // Snapping goes towards 180 W / 90 S also for negative positions.
  lon = -0.0001f;
  lat = -0.0001f;
  ASSERT_TRUE(CElevationStore::NormalizePosition(&lon, &lat, 1000));
  EXPECT_LT(lon, -0.0001f);
  EXPECT_GT(lon, -0.0001f - 1000 * kDegreesPerMetre);

  // Not numbers, or absurdly far out: refused at once, untouched (the wrap loops would never end).
  const std::pair<float, float> bad[] = {{kNaN, 0}, {0, kNaN}, {kInf, 0}, {0, -kInf}, {1e30f, 0}, {0, -3e9f}, {360010, 0}};
  for (auto [a, b] : bad) {
    lon = a;
    lat = b;
    EXPECT_FALSE(CElevationStore::NormalizePosition(&lon, &lat, 30));
    EXPECT_TRUE(std::isnan(a) ? std::isnan(lon) : lon == a);
    EXPECT_TRUE(std::isnan(b) ? std::isnan(lat) : lat == b);
  }
}

// ---- the short index arithmetic against its definitions ----------------------------------------
// Grid-aligned coordinates (the float nearest to each sample edge) with two float neighbours on
// either side, where a rounding slip would show first, then random floats over the whole range
// and random bit patterns (every exponent, also the tiny values the short forms leave alone).

class MismatchCount {
 public:
  template <typename Describe>
  void Check(bool equal, Describe describe) {
    ++checked_;
    if (!equal && ++mismatches_ <= 10) ADD_FAILURE() << describe();
  }
  size_t checked() const { return checked_; }
  size_t mismatches() const { return mismatches_; }

 private:
  size_t checked_ = 0, mismatches_ = 0;
};

template <typename F>
void AroundFloat(float v, F each) {
  float below = v, above = v;
  each(v);
  for (int i = 0; i < 2; ++i) {
    below = std::nextafter(below, -1e9f);
    above = std::nextafter(above, 1e9f);
    each(below);
    each(above);
  }
}

// Random floats: half uniform over [-limit, limit], half random bit patterns inside it.
template <typename F>
void RandomFloats(float limit, int count, F each) {
  std::mt19937 rng(20240901);
  std::uniform_real_distribution<float> uniform(-limit, limit);
  for (int i = 0; i < count; ++i) {
    float v = uniform(rng);
    if (i % 2 == 1) {
      const uint32_t bits = static_cast<uint32_t>(rng());
      std::memcpy(&v, &bits, sizeof v);
      if (!(std::fabs(v) <= limit)) continue;
    }
    each(v);
  }
}

TEST(IndexArithmetic, ShortAxesEqualTheirDefinitions) {
  using height_grid::GridAxis;
  MismatchCount count;
  auto text = [](const char* what, float v, GridAxis a, GridAxis b) {
    return FormatC("%s %.9g: short (%d, %d), definition (%d, %d)", what, static_cast<double>(v), a.tile, a.index,
                   b.tile, b.index);
  };
  // 3-arc-second axes: longitude (d = lon + 180) and the latitudes the tiles cover (d = 60 - lat).
  auto lon3 = [&](float v) {
    if (!(std::fabs(v) <= 180.0f)) return;
    const double d = static_cast<double>(v) + 180.0;
    const GridAxis a = height_grid::Axis3s(v, d), b = height_grid::Axis3sPlain(d);
    count.Check(a == b, [&] { return text("3s longitude", v, a, b); });
  };
  auto lat3 = [&](float v) {
    if (!(v >= -55.0f && v <= 60.0f)) return;
    const double d = 60.0 - static_cast<double>(v);
    const GridAxis a = height_grid::Axis3s(v, d), b = height_grid::Axis3sPlain(d);
    count.Check(a == b, [&] { return text("3s latitude", v, a, b); });
  };
  auto axis1 = [&](float v, int limit) {
    if (!(std::fabs(v) <= static_cast<float>(limit))) return;
    const GridAxis a = height_grid::Axis1s(v, limit), b = height_grid::Axis1sPlain(v, limit);
    count.Check(a == b, [&] { return text(limit == 180 ? "1s longitude" : "1s latitude", v, a, b); });
  };
  for (int k = 0; k <= 360 * k3sSamplesPerDegree; ++k) AroundFloat(static_cast<float>(-180.0 + k / 1200.0), lon3);
  for (int k = 0; k <= 115 * k3sSamplesPerDegree; ++k) AroundFloat(static_cast<float>(60.0 - k / 1200.0), lat3);
  for (int k = -180 * k1sGridSize; k <= 180 * k1sGridSize; ++k) {
    AroundFloat(static_cast<float>(k / 3600.0), [&](float v) {
      axis1(v, 180);
      axis1(v, 90);
    });
  }
  RandomFloats(180.0f, 1 << 21, [&](float v) {
    lon3(v);
    lat3(v);
    axis1(v, 180);
    axis1(v, 90);
  });
  EXPECT_GT(count.checked(), 15000000u);
  EXPECT_EQ(count.mismatches(), 0u);
}

TEST(IndexArithmetic, SnapDownEqualsItsDefinition) {
  MismatchCount count;
  std::mt19937 rng(7);
  for (int resolution : {1, 2, 3, 7, 10, 30, 90, 250, 1000, 2445, 2446, 10000, 1000000}) {
    const elevation_detail::SnapStep& step = elevation_detail::SetSnapStep(resolution);
    auto check = [&](double s) {
      if (!(s >= 0.0 && s <= 360.0)) return;
      const double a = elevation_detail::SnapDown(s, step);
      const double b = elevation_detail::SnapDownPlain(s, step.step);
      count.Check(a == b, [&] { return FormatC("resolution %d, s %.17g: short %.17g, definition %.17g", resolution, s, a, b); });
    };
    // What NormalizePosition hands it: a float coordinate plus 180 or 90, in double. The grid
    // points themselves, their double neighbours, and the floats nearest to them.
    const int steps = static_cast<int>(360.0 / step.step);
    const int samples = std::min(steps + 1, 200000);
    for (int i = 0; i < samples; ++i) {
      const int k = samples == steps + 1 ? i : static_cast<int>(rng() % static_cast<unsigned>(steps + 1));
      const double grid = k * step.step;
      check(grid);
      check(std::nextafter(grid, 0.0));
      check(std::nextafter(grid, 400.0));
      for (double origin : {180.0, 90.0}) {
        AroundFloat(static_cast<float>(grid - origin), [&](float v) { check(static_cast<double>(v) + origin); });
      }
    }
    RandomFloats(180.0f, 200000, [&](float v) {
      check(static_cast<double>(v) + 180.0);
      check(static_cast<double>(v) + 90.0);
    });
  }
  EXPECT_GT(count.checked(), 10000000u);
  EXPECT_EQ(count.mismatches(), 0u);
}

TEST_F(StoreTest, ModeZeroAndUnknownModesTouchNothing) {
  Result r = Get(116.5f, 39.75f, 30, kDemSourceNone);
  EXPECT_EQ(r.status, kElevNoData);
  EXPECT_TRUE(r.height == kNoElevation && r.lon == 116.5f);
  r = Get(116.5f, 39.75f, 30, 9);
  EXPECT_EQ(r.status, kElevFound);
  EXPECT_TRUE(r.height == kNoElevation && r.lon == 116.5f);
  // The mode of the options, when none is given.
  float pos[2] = {116.5f, 39.75f};
  float h = 0;
  {
    ScopedAppOptions none([](CAppOptions& o) { o.dem_source_mode = kDemSourceNone; });
    EXPECT_EQ(store.GetElevation(pos, &h, 0), kElevNoData);
  }
  ScopedAppOptions srtm([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  EXPECT_EQ(store.GetElevation(pos, &h, 0), kElevFound);
  EXPECT_EQ(h, 11700.0f);
  EXPECT_EQ(store.FileCount(), 1u);
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(StoreTest, ModeOneReadsThreeArcSecondTiles) {
  // Tile col trunc(296.5 * 0.2 + 1) = 60, row trunc(20.25 * 0.2 + 1) = 5; offsets 1.5 and 0.25
  // give sample (1800, 300): c = 355800, r = 155700 -> 11700.
  Result r = Get(116.5004f, 39.7496f, 0, kDemSourceSrtm);
  EXPECT_EQ(r.status, kElevFound);
  EXPECT_EQ(r.height, 11700.0f);
  EXPECT_EQ(r.lon, 116.5f);
  EXPECT_EQ(r.lat, 39.75f);  // rows count southward: the sample's latitude is north of the point

  // At 30 m the position is first snapped to (116.39095306, 39.90689850), then to the grid:
  // column 1669, row 111 of the tile.
  r = Get(116.391f, 39.907f, 30, kDemSourceSrtm);
  EXPECT_EQ(r.height, Fn3s(115 + 1669 / 1200.0, 40 - 111 / 1200.0));
  EXPECT_EQ(r.lon, 116.39083099365234f);
  EXPECT_EQ(r.lat, 39.907501220703125f);

  // The tile's last sample (south-east corner).
  r = Get(119.9999f, 35.0001f, 0, kDemSourceSrtm);
  EXPECT_EQ(r.height, Fn3s(120 - 1 / 1200.0, 35 + 1 / 1200.0));
  EXPECT_EQ(store.FileCount(), 1u);
}

TEST_F(StoreTest, ModeOneSwitchesToTheCoarseFileAt2446) {
  Result fine = Get(116.5f, 39.75f, 2445, kDemSourceSrtm);
  Result coarse = Get(116.5f, 39.75f, 2446, kDemSourceSrtm);
  // 2445 m: the position snaps to the 2445 m grid, then to the tile's sample.
  float lon = 116.5f, lat = 39.75f;
  CElevationStore::NormalizePosition(&lon, &lat, 2445);
  EXPECT_EQ(fine.height, Fn3s(115 + std::trunc((lon + 180 - 295) * 1200) / 1200,
                              40 - std::trunc((40 - static_cast<double>(lat)) * 1200) / 1200));
  // 2446 m: the coarse file's sample, at the coarse grid position.
  lon = 116.5f;
  lat = 39.75f;
  CElevationStore::NormalizePosition(&lon, &lat, 2446);
  const int col = static_cast<int>((lon - kCoarseWest) * kCoarseCellsPerDegree);
  const int row = static_cast<int>((kCoarseNorth - lat) * kCoarseCellsPerDegree);
  EXPECT_EQ(col, 1335);
  EXPECT_EQ(row, 91);
  EXPECT_EQ(coarse.height, 1335 * 7 + 91 * 3 - 2000);
  EXPECT_FLOAT_EQ(coarse.lon, 116.344719811705f);
  EXPECT_FLOAT_EQ(coarse.lat, 39.772871601386996f);
  EXPECT_EQ(store.FileCount(), 2u);
  // Outside the coarse file's coverage.
  EXPECT_EQ(Get(0, 65, 5000, kDemSourceSrtm).height, kNoElevation);
}

TEST_F(StoreTest, ModeOneLatitudeLimits) {
  // 60.0 reads row 0 of tile row 1; 60.01 and -55.01 are outside and stay unsnapped.
  Result r = Get(116.5f, 60.0f, 0, kDemSourceSrtm);
  EXPECT_EQ(r.height, Fn3s(116.5, 60.0));
  EXPECT_EQ(r.lat, 60.0f);
  r = Get(116.5f, -55.0f, 0, kDemSourceSrtm);
  EXPECT_EQ(r.height, Fn3s(116.5, -55.0));
  // Tile row 1 holds only two rows: beyond them (59.99) the short file gives no data, not garbage.
  for (float lat : {60.01f, -55.01f, 59.99f}) {
    r = Get(116.5004f, lat, 0, kDemSourceSrtm);
    EXPECT_EQ(r.status, kElevFound);
    EXPECT_EQ(r.height, kNoElevation);
    EXPECT_TRUE(lat == 59.99f || (r.lon == 116.5004f && r.lat == lat));
  }
}

TEST_F(StoreTest, ModeTwoReadsNegativeCells) {
  // Longitude -0.5 lies in cell -1: tile (0 << 16) | 0xFFFF, "65535.amh".
  Result r = Get(-0.5f, 0.5f, 0, kDemSourceAstgtm);
  EXPECT_EQ(r.height, -4200.0f);  // hand-computed: c = 646200, r = 325800
  // "-65536.amh": latitude cell -1, longitude cell 0.
  r = Get(0.25f, -0.75f, 0, kDemSourceAstgtm);
  EXPECT_EQ(r.height, 3000.0f);  // c = 648900, r = 321300
  // Between samples: snapped down to the sample's south-west corner.
  r = Get(0.25f + 0.9f / 3600, -0.75f + 0.9f / 3600, 0, kDemSourceAstgtm);
  EXPECT_EQ(r.height, 3000.0f);
  EXPECT_FLOAT_EQ(r.lat, -0.75f);

  // Float rounding puts a point just west of 0 on its cell's east edge (offset 1.0): the last
  // column is read, not the first sample of the next row.
  r = Get(-1e-9f, 0.5f, 0, kDemSourceAstgtm);
  EXPECT_EQ(r.height, Fn1s(-1.0 + 3599 / 3600.0, 0.5));
  // The snapped offset is a float (3599 / 3600) to which the cell corner is added back.
  EXPECT_EQ(r.lon, -1.0f + static_cast<float>(3599 / 3600.0));
  // The same for the row: offset 1.0 north is the cell's northernmost row, not a row before the
  // file's start.
  r = Get(0.25f, -1e-9f, 0, kDemSourceAstgtm);
  EXPECT_EQ(r.height, Fn1s(0.25, -1.0 + 3599 / 3600.0));
  EXPECT_EQ(store.FileCount(), 2u);
}

TEST_F(StoreTest, MissingFilesAreNotLookedForAgain) {
  EXPECT_EQ(Get(10.5f, 10.5f, 0, kDemSourceAstgtm).height, kNoElevation);
  // The file appears later in the run: the store keeps its first answer.
  const std::string data = AppOptions().program_dir + "data/";
  StoreEnvironment::WriteRows(data, HeightLayout1s(10, 10), CHeightFile1s::TileNumber(10, 10), kHeightFileAmh);
  EXPECT_EQ(Get(10.5f, 10.9999f, 0, kDemSourceAstgtm).height, kNoElevation);
  CElevationStore fresh(&cache);
  float pos[2] = {10.5f, 10.9999f};
  float h = 0;
  fresh.GetElevation(pos, &h, 0, kDemSourceAstgtm);
  EXPECT_EQ(h, Fn1s(10.5, 10 + 3599 / 3600.0));
  std::remove((data + CHeightFile::FileName(CHeightFile1s::TileNumber(10, 10), kHeightFileAmh)).c_str());
}

TEST_F(StoreTest, BadPositionsGiveNoDataInEveryMode) {
  for (int mode = 0; mode <= 5; ++mode) {
    for (auto [a, b] : {std::pair{kNaN, 10.0f}, {10.0f, kNaN}, {kInf, 0.0f}, {0.0f, -kInf}, {3e38f, 1.0f}}) {
      Result r = Get(a, b, 30, mode);
      EXPECT_EQ(r.status, kElevNoData) << mode;
      EXPECT_EQ(r.height, kNoElevation);
    }
  }
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_EQ(store.FileCount(), 0u);
}

TEST_F(StoreTest, ModeThreeAsksTheWebOnceThenTheCache) {
  Result first = Get(116.391f, 39.907f, 30, kDemSourceGoogle);
  EXPECT_EQ(first.status, kElevFetched);
  EXPECT_FLOAT_EQ(first.height, 1000 + 39.906898498535156f);
  EXPECT_EQ(first.lon, 116.39095306396484f);  // the position normalised at 30 m
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_NE(server.Requests()[0].query.find("locations=39.90689849853516,116.39095306396484&sensor=false"),
            std::string::npos)
      << server.Requests()[0].query;
  // Anywhere in the same 30 m cell: from the cache, no request.
  Result again = Get(116.39096f, 39.90691f, 30, kDemSourceGoogle);
  EXPECT_EQ(again.status, kElevFound);
  EXPECT_EQ(again.height, first.height);
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(store.FileCount(), 0u);

  // A failure leaves the position as it was.
  server.RoutePrefix("/maps/api/elevation/json", [](const HttpRequestRecord&) {
    return HttpReply::Ok("{\"results\" : [], \"status\" : \"OVER_QUERY_LIMIT\"}", "application/json");
  });
  Result r = Get(100.391f, 29.907f, 30, kDemSourceGoogle);
  EXPECT_EQ(r.status, kElevOverQuota);
  EXPECT_TRUE(r.height == kNoElevation && r.lon == 100.391f && r.lat == 29.907f);
}

TEST_F(StoreTest, ModeFourGateNeverAsksTheWebWithoutFileData) {
  // Outside the 3-arc-second coverage, in a tile without a file, and beyond a short file's end.
  for (auto [lon, lat] : {std::pair{116.5f, 70.0f}, {10.0f, 10.0f}, {116.5f, 59.5f}}) {
    EXPECT_EQ(Get(lon, lat, 0, kDemSourceSrtmThenGoogle).status, kElevNoData);
  }
  EXPECT_EQ(server.RequestCount(), 0u);
  // Where the files have a value the cache and web service answer, at the first copy's position.
  Result r = Get(116.5f, 39.75f, 0, kDemSourceSrtmThenGoogle);
  EXPECT_EQ(r.status, kElevFetched);
  EXPECT_FLOAT_EQ(r.height, 1039.75f);
  EXPECT_EQ(r.lon, 116.5f);
  EXPECT_EQ(server.RequestCount(), 1u);
  // When the web fails, the file's value stays and the position is untouched.
  server.RoutePrefix("/maps/api/elevation/json", [](const HttpRequestRecord&) { return HttpReply::ServerError(); });
  r = Get(116.6004f, 39.7496f, 0, kDemSourceSrtmThenGoogle);
  EXPECT_EQ(r.status, kElevNoReply);
  EXPECT_EQ(r.height, Fn3s(116.6, 39.75));
  EXPECT_EQ(r.lon, 116.6004f);
}

TEST_F(StoreTest, ModeFiveFallsBackToTheFiles) {
  Result r = Get(116.5f, 39.75f, 0, kDemSourceGoogleThenSrtm);
  EXPECT_EQ(r.status, kElevFetched);
  EXPECT_FLOAT_EQ(r.height, 1039.75f);
  server.RoutePrefix("/maps/api/elevation/json", [](const HttpRequestRecord&) { return HttpReply::Ok(""); });
  r = Get(116.5004f, 39.7004f, 0, kDemSourceGoogleThenSrtm);
  EXPECT_EQ(r.status, kElevFound);
  EXPECT_EQ(r.height, Fn3s(116.5, 39.70083333333333));
  EXPECT_EQ(r.lon, 116.5f);
  // The database cannot be opened: status 0 from the cache, then the files.
  test::TempDir dir;
  test::WriteTestFile(dir.File("plain"), "x");
  CElevCacheDb nowhere(dir.File("plain") + "/sub/");
  CElevationStore other(&nowhere);
  float pos[2] = {116.5004f, 39.7496f};
  float h = 0;
  EXPECT_EQ(other.GetElevation(pos, &h, 0, kDemSourceGoogleThenSrtm), kElevFound);
  EXPECT_EQ(h, 11700.0f);
  EXPECT_EQ(other.GetElevation(pos, &h, 0, kDemSourceGoogle), kElevNoCache);
}

}  // namespace
}  // namespace velmora
