// The files of a plug-in snapshot export: the resume file "gp.exp", the shot records
// "gp_<col>_<row>.dat", the elevation samples "gp_<col>_<row>.dem" and the grid of sample pixels
// over a capture. The job list "gp.lst" has the layout of the earth application's "ge.lst"
// (GeMosaicList), so that the mosaic preview reads either. All little-endian archive streams,
// written atomically, read back with every length checked.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "earth/ge_mosaic_job.h"

namespace velmora {

inline constexpr char kGpResumeFile[] = "gp.exp";
inline constexpr char kGpListFile[] = "gp.lst";
inline constexpr char kGpShotPrefix[] = "gp";
// The capture rectangle of the render window: from (5, 70), 88 pixels narrower and 163 lower.
inline constexpr int kCaptureLeft = 5, kCaptureTop = 70, kCaptureWidthLoss = 88, kCaptureHeightLoss = 163;
// Pixels between elevation samples of a shot.
inline constexpr int kDemSampleStep = 50;

// The resumable state of an export job.
struct GpExportState {
  int32_t column = 0, row = 0;        // the next shot
  uint32_t delay_ms = 0;              // the export dialog's delay between a move and its shot
  float left = 0, top = 0;            // the rectangle's top-left corner (longitude, latitude)
  float right = 0, bottom = 0;        // and its bottom-right corner
  uint32_t flags = 0;                 // kGpFlag*
  float lng_step = 0;                 // longitude span of a capture (degrees); 0: not measured yet
  float mercator_step = 0;            // height of a capture in Mercator pixels at zoom 20
  double altitude = 0;                // the camera's eye altitude (metres)
};
inline constexpr uint32_t kGpFlagCoordinates = 1u << 0;  // "COORD": world file and side files
inline constexpr uint32_t kGpFlagFullScreen = 1u << 1;

// "gp.exp", 48 bytes: i32 column, i32 row, u32 delay; f32 left, top; f32 right, bottom; u32 flags;
// f32 longitude step, Mercator step; f64 altitude. Reading refuses a file of another length,
// a position outside 0..99999, values that are not numbers, an empty rectangle, an altitude of
// 0 or less and steps of 0 or less; both steps 0 at position 0, 0 is a job stopped before it
// measured its capture, which measures it again when it resumes.
bool WriteGpResumeFile(const std::string& path, const GpExportState& state, std::string* error = nullptr);
bool ReadGpResumeFile(const std::string& path, GpExportState* state, std::string* error = nullptr);

// A shot record (".dat", 48 bytes): f64 the eye altitude (metres) the shot was taken from; f32
// longitude, latitude the shot was moved to (its top-left corner as asked); f64 longitude,
// latitude under the capture's top-left corner, f64 longitude, latitude under its bottom-right.
struct GpShotRecord {
  double altitude = 0;
  float target_lng = 0, target_lat = 0;
  double left = 0, top = 0, right = 0, bottom = 0;
};
bool WriteGpShotRecord(const std::string& path, const GpShotRecord& record, std::string* error = nullptr);
bool ReadGpShotRecord(const std::string& path, GpShotRecord* record, std::string* error = nullptr);

// "<folder>gp_<col>_<row><extension>" (extension with its dot).
std::string GpShotFile(const std::string& folder, int column, int row, const char* extension);

// The elevation sample grid of a capture of width x height pixels: columns = width / 50 and
// rows = height / 50 steps, (rows + 1) x (columns + 1) samples; sample (i, j) lies at pixel
// (5 + j x (width / columns), 70 + i x (height / rows)) of the render window, integer divisions.
// Nothing for a capture narrower or lower than 50 pixels (no step).
struct GpDemGrid {
  int width = 0, height = 0;   // the capture
  int columns = 0, rows = 0;   // steps
  int SamplesPerRow() const { return columns + 1; }
  int SampleRows() const { return rows + 1; }
  size_t SampleCount() const { return size_t(columns + 1) * size_t(rows + 1); }
  int PixelX(int j) const { return kCaptureLeft + j * (width / columns); }
  int PixelY(int i) const { return kCaptureTop + i * (height / rows); }
};
std::optional<GpDemGrid> GpDemGridFor(int capture_width, int capture_height);

// A shot's elevation samples: the shot's left longitude, top latitude, right longitude, bottom
// latitude, then the altitudes (metres) row by row from the top, each row from the left.
struct GpDemTile {
  float left = 0, top = 0, right = 0, bottom = 0;
  GpDemGrid grid;
  std::vector<float> altitudes;  // grid.SampleCount()
  float At(int i, int j) const { return altitudes[size_t(i) * size_t(grid.SamplesPerRow()) + size_t(j)]; }
};
// ".dem": 32-bit floats, the four bounds then the samples. The writer refuses a tile whose sample
// count does not fit its grid; LoadDemTile refuses a file that does not hold exactly
// 4 + (rows + 1) x (columns + 1) floats of the grid given, or values that are not numbers.
bool WriteDemTile(const std::string& path, const GpDemTile& tile, std::string* error = nullptr);
bool LoadDemTile(const std::string& path, const GpDemGrid& grid, GpDemTile* tile, std::string* error = nullptr);

// Top-left corner of shot (column, row): the rectangle's left edge plus column longitude steps,
// and the latitude `row` Mercator steps (zoom-20 pixels) below its top edge.
void GpShotCorner(const GpExportState& state, int column, int row, double* lng, double* lat);

// The rectangle of the state as the earth application's job geometry (longitudes unwrapped
// across 180 degrees); nothing when it is empty.
std::optional<GeRect> GpStateRect(const GpExportState& state);

// Columns and rows of shots over the state's rectangle for its steps; a fraction of up to
// `slack` of a capture does not make a shot of its own. Nothing without extent.
std::optional<GeGrid> GpGridSize(const GpExportState& state, double slack);

}  // namespace velmora
