// The elevation grid panel's readers from arbitrary bytes. "dem_exp.hdt" loads or is refused with
// nothing changed, and what loads is finite and saves back to the bytes it was read from; point
// text and CSV files read only finite points on the globe, which read back the same after they
// are written.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "terrain/dem_files.h"

using namespace velmora;

namespace {

bool OnGlobe(const Point3D& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::fabs(p.x) <= 180 &&
         std::fabs(p.y) <= 90;
}

void Cache(const std::string& dir, std::string_view bytes) {
  const std::string path = dir + kDemCacheFileName;
  fuzz::WriteFile(path, bytes);
  CDemGrid grid;
  grid.points = {{1, 2, 3}};
  grid.sample_distance = 7;
  if (!LoadDemCache(&grid, path)) {
    FUZZ_CHECK(grid.points.size() == 1 && grid.points[0] == (Point3D{1, 2, 3}) && grid.sample_distance == 7);
    FUZZ_CHECK(!grid.ready.load());
    return;
  }
  FUZZ_CHECK(grid.ready.load() == !grid.points.empty());
  FUZZ_CHECK(grid.sample_distance >= 0);
  for (const Point3D& p : grid.points) FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
  for (const LngLatF& p : grid.polygon) FUZZ_CHECK(std::isfinite(p.lng) && std::isfinite(p.lat));
  const std::string again = dir + "dem_again.hdt";
  FUZZ_CHECK(SaveDemCache(grid, again));
  if (grid.points.empty()) {
    FUZZ_CHECK(!DemCacheExists(again));
    return;
  }
  const std::string saved = fuzz::ReadFile(again);
  FUZZ_CHECK(saved.size() <= bytes.size() && bytes.substr(0, saved.size()) == saved);
}

void Points(const std::string& dir, std::string_view bytes, bool csv) {
  const std::string path = dir + "dem_points.txt";
  fuzz::WriteFile(path, bytes);
  std::vector<Point3D> points;
  FUZZ_CHECK(csv ? ImportCsv(path, &points) : ImportText(path, &points));
  for (const Point3D& p : points) FUZZ_CHECK(OnGlobe(p));
  const std::string out = dir + "dem_points_out.txt";
  FUZZ_CHECK(csv ? WriteCsvPoints(out, points, 0) : ExportText(out, points, 0));
  std::vector<Point3D> back;
  FUZZ_CHECK(csv ? ImportCsv(out, &back) : ImportText(out, &back));
  FUZZ_CHECK(back.size() == points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    // "%f" keeps a millionth of a degree, "%.3f" half a millimetre.
    FUZZ_CHECK(std::fabs(back[i].x - points[i].x) <= 5.1e-7 && std::fabs(back[i].y - points[i].y) <= 5.1e-7);
    FUZZ_CHECK(std::fabs(back[i].z - points[i].z) <= 5.1e-4 + 1e-12 * std::fabs(points[i].z));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::Setup();
  fuzz::RemoveFiles("dem_");
  fuzz::Parts parts(data, size);
  const uint8_t kind = parts.Byte();
  const std::string_view rest = parts.Rest();
  switch (kind % 3) {
    case 0: Cache(dir, rest); break;
    case 1: Points(dir, rest, false); break;
    default: Points(dir, rest, true); break;
  }
  return 0;
}
