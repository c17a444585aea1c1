// Coordinate-system table and PROJ transforms with a per-thread cache of PROJ objects.
#include "core/projection.h"

#include <proj.h>

#include <cmath>
#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "core/log.h"
#include "core/settings.h"

namespace velmora {

namespace {

const CoordSystemDef kCoordSystems[kCoordSystemCount] = {
    {"经纬度 - WGS84", "+proj=lonlat +datum=WGS84"},
    {"墨卡托 - WGS84", "+proj=merc +datum=WGS84"},
    {"UTM - WGS84", "+proj=utm +zone=%d +ellps=WGS84 +datum=WGS84"},
};

// Each thread owns a PROJ context and the transformations it has built, keyed by the pair of
// definitions. A definition pair that PROJ refused is remembered as nullptr so that it is not
// tried again on every call. Destroyed with the thread.
class ThreadProjCache {
 public:
  ~ThreadProjCache() { Clear(); }

  PJ* Get(const std::string& src, const std::string& dst) {
    std::string key;
    key.reserve(src.size() + dst.size() + 1);
    key.append(src).append(1, '\n').append(dst);
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    if (cache_.size() >= kMaxEntries) Clear();
    PJ* pj = Create(src, dst);
    cache_.emplace(std::move(key), pj);
    return pj;
  }

  void Clear() {
    for (auto& [key, pj] : cache_)
      if (pj) proj_destroy(pj);
    cache_.clear();
    if (ctx_) {
      proj_context_destroy(ctx_);
      ctx_ = nullptr;
    }
  }

  size_t Size() const { return cache_.size(); }

 private:
  static constexpr size_t kMaxEntries = 64;

  PJ* Create(const std::string& src, const std::string& dst) {
    if (!ctx_) {
      ctx_ = proj_context_create();
      if (!ctx_) return nullptr;
      proj_log_level(ctx_, PJ_LOG_NONE);  // refusals are reported once below
    }
    PJ* raw = proj_create_crs_to_crs(ctx_, src.c_str(), dst.c_str(), nullptr);
    if (!raw) {
      AppLog("PROJ refuses the conversion \"%s\" -> \"%s\": %s", src.c_str(), dst.c_str(),
             proj_context_errno_string(ctx_, proj_context_errno(ctx_)));
      return nullptr;
    }
    // Longitude first, whatever axis order the definitions declare.
    PJ* pj = proj_normalize_for_visualization(ctx_, raw);
    proj_destroy(raw);
    if (!pj) AppLog("PROJ cannot normalise \"%s\" -> \"%s\"", src.c_str(), dst.c_str());
    return pj;
  }

  PJ_CONTEXT* ctx_ = nullptr;
  std::unordered_map<std::string, PJ*> cache_;
};

ThreadProjCache& Cache() {
  thread_local ThreadProjCache cache;
  return cache;
}

// Transforms the points in place, then marks the ones PROJ could not convert (HUGE_VAL or NaN
// in either coordinate) as HUGE_VAL in both.
bool Run(PJ* pj, double* points, int count, int stride, int* failed_points) {
  size_t n = static_cast<size_t>(count);
  size_t step = sizeof(double) * static_cast<size_t>(stride);
  double* z = stride >= 3 ? points + 2 : nullptr;
  proj_errno_reset(pj);
  size_t done = proj_trans_generic(pj, PJ_FWD, points, step, n, points + 1, step, n, z,
                                   z ? step : 0, z ? n : 0, nullptr, 0, 0);
  int failed = 0;
  for (size_t i = 0; i < n; ++i) {
    double* p = points + i * static_cast<size_t>(stride);
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || p[0] == HUGE_VAL || p[1] == HUGE_VAL) {
      p[0] = HUGE_VAL;
      p[1] = HUGE_VAL;
      ++failed;
    }
  }
  if (done != n && failed == 0) failed = static_cast<int>(n - done);
  if (failed_points) *failed_points = failed;
  return failed == 0;
}

}  // namespace

const CoordSystemDef* GetCoordSystem(int index) {
  if (index < 0 || index >= kCoordSystemCount) return nullptr;
  return &kCoordSystems[index];
}

std::vector<std::string> CoordSystemNames() {
  std::vector<std::string> names;
  for (const CoordSystemDef& row : kCoordSystems) names.emplace_back(row.name);
  return names;
}

std::string MakeProjDefinition(int index, int slot) {
  const CoordSystemDef* row = GetCoordSystem(index);
  if (!row) return {};
  if (index != kCoordUtm) return row->definition;
  int zone = ProgramSettings().GetInt("utm84_" + std::to_string(slot), kDefaultUtmZone);
  char text[128];
  std::snprintf(text, sizeof text, row->definition, zone);
  return text;
}

bool TransformDefinitions(const std::string& src_definition, const std::string& dst_definition,
                          double* points, int count, int stride, int* failed_points) {
  if (failed_points) *failed_points = 0;
  if (!points || count < 1 || stride < 2 || src_definition.empty() || dst_definition.empty())
    return false;
  PJ* pj = Cache().Get(src_definition, dst_definition);
  if (!pj) return false;
  return Run(pj, points, count, stride, failed_points);
}

bool TransformPoints(double* xyz, int count, int src, int dst, bool converter,
                     int* failed_points) {
  std::string from = MakeProjDefinition(src, converter ? kSlotConverterSource : kSlotExport);
  std::string to = MakeProjDefinition(dst, converter ? kSlotConverterTarget : kSlotExport);
  return TransformDefinitions(from, to, xyz, count, 3, failed_points);
}

bool TransformPoints2(double* xy, int count, int index, int* failed_points) {
  std::string from = MakeProjDefinition(kCoordLonLat, kSlotExport);
  std::string to = MakeProjDefinition(index, kSlotExport);
  return TransformDefinitions(from, to, xy, count, 2, failed_points);
}

bool ProjectLonLatToMerc(double lng, double lat, MercPoint* out) {
  double p[2] = {lng, lat};
  if (!TransformDefinitions(kCoordSystems[kCoordLonLat].definition,
                            kCoordSystems[kCoordMercator].definition, p, 1, 2))
    return false;
  if (out) *out = {p[0], p[1]};
  return true;
}

int LonLatToMercator(double* x, double* y) {
  if (!x || !y) return 0;
  double p[2] = {*x, *y};
  if (!TransformDefinitions("EPSG:4326", "EPSG:3857", p, 1, 2)) return 0;
  *x = p[0];
  *y = p[1];
  return 1;
}

void ReleaseThreadProjCache() { Cache().Clear(); }

size_t ThreadProjCacheSize() { return Cache().Size(); }

}  // namespace velmora
