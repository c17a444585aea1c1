// The option pages' values: a guarded copy, loaded from and written to the registry profile.
#include "core/page_options.h"

#include <cmath>
#include <mutex>

#include "core/settings.h"

namespace velmora {
namespace {

constexpr const char* kDemSection = "dem";
constexpr const char* kOptionSection = "option";

struct State {
  std::mutex mutex;
  bool loaded = false;
  PageOptions values;
};

State& Global() {
  static State state;
  return state;
}

// Colours are stored as unsigned decimal numbers (opaque ones lie above the int range of the
// profile's integer reader, so they are read as doubles).
uint32_t ReadColor(const char* key, uint32_t def) {
  double v = GetProfileDouble(kDemSection, key, def);
  if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) return def;
  return static_cast<uint32_t>(v);
}

PageOptions ReadProfile() {
  PageOptions o;
  DemPageOptions& d = o.dem;
  d.contour_color_mode = GetProfileInt(kDemSection, "contour_color_mode", d.contour_color_mode);
  d.interval_count = GetProfileInt(kDemSection, "interval_count", d.interval_count);
  d.line_color = ReadColor("line_color", d.line_color);
  d.interval_color = ReadColor("interval_color", d.interval_color);
  d.label_color = ReadColor("label_color", d.label_color);
  d.labels_on = GetProfileInt(kDemSection, "labels", d.labels_on ? 1 : 0) != 0;
  d.label_interval = GetProfileInt(kDemSection, "label_interval", d.label_interval);
  d.labels_whole_multiples = GetProfileInt(kDemSection, "label_whole", d.labels_whole_multiples ? 1 : 0) != 0;
  d.contour_method = GetProfileInt(kDemSection, "contour_method", d.contour_method);
  d.dxf_label_scale = GetProfileDouble(kDemSection, "dxf_label_scale", d.dxf_label_scale);
  o.earth.draw_region_frame = GetProfileInt(kOptionSection, "ge_region_frame", o.earth.draw_region_frame ? 1 : 0) != 0;
  o.earth.close_earth_on_exit = GetProfileInt(kOptionSection, "ge_close_on_exit", o.earth.close_earth_on_exit ? 1 : 0) != 0;
  o.exports.write_log = GetProfileInt(kOptionSection, "export_log", o.exports.write_log ? 1 : 0) != 0;
  return ClampPageOptions(o);
}

bool WriteProfile(const PageOptions& o) {
  const DemPageOptions& d = o.dem;
  bool ok = true;
  ok &= WriteProfileInt(kDemSection, "contour_color_mode", d.contour_color_mode);
  ok &= WriteProfileInt(kDemSection, "interval_count", d.interval_count);
  ok &= WriteProfileString(kDemSection, "line_color", std::to_string(d.line_color));
  ok &= WriteProfileString(kDemSection, "interval_color", std::to_string(d.interval_color));
  ok &= WriteProfileString(kDemSection, "label_color", std::to_string(d.label_color));
  ok &= WriteProfileInt(kDemSection, "labels", d.labels_on ? 1 : 0);
  ok &= WriteProfileInt(kDemSection, "label_interval", d.label_interval);
  ok &= WriteProfileInt(kDemSection, "label_whole", d.labels_whole_multiples ? 1 : 0);
  ok &= WriteProfileInt(kDemSection, "contour_method", d.contour_method);
  ok &= WriteProfileDouble(kDemSection, "dxf_label_scale", d.dxf_label_scale);
  ok &= WriteProfileInt(kOptionSection, "ge_region_frame", o.earth.draw_region_frame ? 1 : 0);
  ok &= WriteProfileInt(kOptionSection, "ge_close_on_exit", o.earth.close_earth_on_exit ? 1 : 0);
  ok &= WriteProfileInt(kOptionSection, "export_log", o.exports.write_log ? 1 : 0);
  return ok;
}

void EnsureLoaded(State& s) {
  if (s.loaded) return;
  s.values = ReadProfile();
  s.loaded = true;
}

}  // namespace

PageOptions ClampPageOptions(PageOptions o) {
  const DemPageOptions def;
  DemPageOptions& d = o.dem;
  if (d.contour_color_mode < 0 || d.contour_color_mode > 3) d.contour_color_mode = def.contour_color_mode;
  if (d.interval_count < 1 || d.interval_count > 100) d.interval_count = def.interval_count;
  if (d.label_interval < 1 || d.label_interval > 1000) d.label_interval = def.label_interval;
  if (d.contour_method < 0 || d.contour_method > 1) d.contour_method = def.contour_method;
  if (!(std::isfinite(d.dxf_label_scale) && d.dxf_label_scale > 0 && d.dxf_label_scale <= 1000))
    d.dxf_label_scale = def.dxf_label_scale;
  return o;
}

PageOptions GetPageOptions() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  EnsureLoaded(s);
  return s.values;
}

bool SetPageOptions(const PageOptions& options) {
  PageOptions clamped = ClampPageOptions(options);
  {
    State& s = Global();
    std::lock_guard lock(s.mutex);
    s.values = clamped;
    s.loaded = true;
  }
  // The profile has its own lock; readers never wait for the file.
  return WriteProfile(clamped);
}

void ReloadPageOptions() {
  PageOptions fresh = ReadProfile();
  State& s = Global();
  std::lock_guard lock(s.mutex);
  s.values = fresh;
  s.loaded = true;
}

ScopedPageOptions::ScopedPageOptions(const PageOptions& options) {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  EnsureLoaded(s);
  previous_ = s.values;
  s.values = ClampPageOptions(options);
}

ScopedPageOptions::~ScopedPageOptions() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  s.values = previous_;
}

}  // namespace velmora
