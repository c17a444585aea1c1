// The values of the options sheet's pages that are not fields of the options object: the contour
// settings of the elevation page ("高程"), the two switches of the Google Earth page and the log
// switch of the export page ("拼图"). The elevation source mode of the same page lives in the
// options object (AppOptions().dem_source_mode).
//
// Readers on any thread take a copy (GetPageOptions); the options sheet publishes a new set with
// SetPageOptions, which also writes it to the registry profile: section "dem" for the contour
// settings, section "option" for the switches. The first read loads them from the profile;
// values out of range there read as their defaults.
#pragma once
#include <cstdint>

namespace velmora {

struct DemPageOptions {
  // 0 one colour, 1 every n-th line in the interval colour, 2 seven-colour cycle, 3 the
  // elevation colour ramp.
  int contour_color_mode = 0;
  int interval_count = 5;              // n of mode 1, 1-100
  uint32_t line_color = 0xFF8C5A28u;   // straight ARGB
  uint32_t interval_color = 0xFFC80000u;
  uint32_t label_color = 0xFF000000u;
  bool labels_on = true;
  int label_interval = 5;              // every n-th level labelled, 1-1000
  bool labels_whole_multiples = false;  // label the levels that are whole multiples of n instead
  // 0 the built-in tracer; any other value the external gridding and contouring program.
  int contour_method = 0;
  double dxf_label_scale = 1.0;  // text height factor of labels in DXF files, (0, 1000]

  bool operator==(const DemPageOptions&) const = default;
};

struct EarthPageOptions {
  bool draw_region_frame = true;      // "绘制框选框"
  bool close_earth_on_exit = false;   // "退出时,同时关闭Google Earth"
  bool operator==(const EarthPageOptions&) const = default;
};

struct ExportPageOptions {
  bool write_log = false;  // "记录日志": project text and job log of the mosaics
  bool operator==(const ExportPageOptions&) const = default;
};

struct PageOptions {
  DemPageOptions dem;
  EarthPageOptions earth;
  ExportPageOptions exports;
  bool operator==(const PageOptions&) const = default;
};

// A copy of the current values (any thread).
PageOptions GetPageOptions();
// Publishes the values (taken into range) and writes them to the registry profile; false when
// the profile could not be written (the values are in use all the same).
bool SetPageOptions(const PageOptions& options);
// Reads the values from the registry profile again.
void ReloadPageOptions();
// The values taken into their ranges (defaults for what lies outside).
PageOptions ClampPageOptions(PageOptions options);

// Changes the values for one scope (a test) without writing the profile, and puts the previous
// ones back when it ends.
class ScopedPageOptions {
 public:
  explicit ScopedPageOptions(const PageOptions& options);
  ~ScopedPageOptions();
  ScopedPageOptions(const ScopedPageOptions&) = delete;
  ScopedPageOptions& operator=(const ScopedPageOptions&) = delete;

 private:
  PageOptions previous_;
};

}  // namespace velmora
