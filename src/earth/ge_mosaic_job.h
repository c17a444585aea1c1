// The files and numbers of a snapshot mosaic job on the earth application: the resume file
// "ge.exp", the job list "ge.lst", the shot records "ge_<col>_<row>.dat", the project file (.kep)
// and the job log's first line, the grid of shots over the job's rectangle, the disk space a job
// needs and the world file of the joined picture. All little-endian; strings in the archive form.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class ArchiveReader;

inline constexpr char kGeResumeFile[] = "ge.exp";
inline constexpr char kGeListFile[] = "ge.lst";
inline constexpr char kGeShotPrefix[] = "ge";
// Metres of a degree of longitude at the equator of the spherical Mercator, halved.
inline constexpr double kHalfMetresPerDegree = 55659.74539663679;

// The job's fields that the resume file keeps.
struct GeMosaicJob {
  std::string output_path;
  uint32_t full_screen = 0;
  uint32_t delay_ms = 0;
  uint32_t carried[2] = {0, 0};  // kept through the resume file unchanged
  uint32_t coordinates = 0;      // write a world file
  float left = 0, top = 0, right = 0, bottom = 0;  // top-left and bottom-right longitude, latitude
  float altitude = 0;            // metres
  float next_lng = 0, next_lat = 0;  // the top-left corner of the next shot
  uint32_t column = 0, row = 0;      // the next shot
};

// Reads a whole archive file through `read` (which throws ArchiveError on short data). False,
// with the reason in *error, for a file that cannot be read, is short or has bytes left over.
bool ReadMosaicArchive(const std::string& path, std::string* error, const std::function<void(ArchiveReader&)>& read);

// "ge.exp": string path; u32 full screen; u32 delay; the two carried words; u32 coordinates;
// float left, top, right, bottom; u32 altitude bits; float next longitude, latitude; u32 column,
// row. Written atomically. Reading checks every length and refuses trailing bytes: false (reason
// in *error) for a broken file.
bool WriteGeResumeFile(const std::string& path, const GeMosaicJob& job, std::string* error = nullptr);
bool ReadGeResumeFile(const std::string& path, GeMosaicJob* job, std::string* error = nullptr);

// "ge.lst": u32 columns, u32 rows, u32 full screen, string output path, u32 altitude bits, u32 delay.
struct GeMosaicList {
  uint32_t columns = 0, rows = 0, full_screen = 0;
  std::string output_path;
  float altitude = 0;
  uint32_t delay_ms = 0;
};
bool WriteGeListFile(const std::string& path, const GeMosaicList& list, std::string* error = nullptr);
bool ReadGeListFile(const std::string& path, GeMosaicList* list, std::string* error = nullptr);

// A shot record: the position the shot was placed at (longitude, latitude), then the capture's
// top-left longitude, latitude and bottom-right longitude, latitude. Six doubles.
bool WriteGeShotRecord(const std::string& path, const double values[6], std::string* error = nullptr);
bool ReadGeShotRecord(const std::string& path, double values[6], std::string* error = nullptr);
std::string GeShotRecordPath(const std::string& folder, int column, int row);

// The project file's path: the output path without its last four characters, the time as
// " %y-%m-%d %H-%M-%S" and ".kep"; the job log's the same with ".txt".
std::string GeProjectFilePath(const std::string& output_path, std::time_t now, const char* extension = ".kep");
// The same from a base path kept whole: base, the time as " %y-%m-%d %H-%M-%S", extension.
std::string MosaicProjectFilePath(const std::string& base, std::time_t now, const char* extension);
// The project file's text (no line break after the last line), with the layer name it gives.
std::string GeProjectFileText(const GeMosaicJob& job, const char* layer = "GE");
// Reads a project text back: the job (output_path is the NAME line, without folder) and its layer
// ("GE" for the earth application). False (reason in *error) for a text that lacks a line, holds
// a number that does not read whole or is not finite, or a negative delay.
bool ParseGeProjectText(std::string_view text, GeMosaicJob* job, std::string* layer, std::string* error = nullptr);
// The job log's first line: ";%f,%f => %f,%f; %f,%f".
std::string GeJobLogHeader(const GeMosaicJob& job);

// The job's rectangle with its longitudes unwrapped: a right edge west of the left one crosses
// 180 degrees and lies 360 degrees further east. Nothing for an empty rectangle (no width or no
// height) or values that are not numbers.
struct GeRect {
  double left, top, right, bottom;
};
std::optional<GeRect> GeJobRect(const GeMosaicJob& job);
// A longitude brought into [-180, 180).
double WrapLongitude(double lng);

// Columns and rows of shots over the rectangle for a capture that spans the given corners, both
// measured in spherical Mercator pixels at zoom 20, each rounded up. Nothing when the capture has
// no extent or the grid would hold more than kGeMaxShots shots (the jobs count shots in int). A
// fraction of a capture up to `slack` (of a capture's side) is not a shot of its own: a rectangle
// taken from single-precision corners may pass a whole number of captures by a rounding.
inline constexpr double kGeMaxShots = 16777216.0;
struct GeGrid {
  int columns = 0, rows = 0;
};
std::optional<GeGrid> GeGridSize(const GeRect& rect, double capture_left, double capture_top, double capture_right,
                                 double capture_bottom, double slack = 0);

// Bytes of disk a job needs: capture width x height x shots x 4, plus 100 MiB.
uint64_t GeDiskNeeded(int capture_width, int capture_height, int shots);

// The world file of the joined picture, in spherical Mercator metres: the pixel size is the
// longitude step per pixel in metres (both axes; line 4 negative), the origin the centre of the
// top-left pixel, whose corner is the first shot's capture top-left. False for a step of 0 or
// values that are not numbers.
bool GeWorldFileValues(const double first_record[6], double lng_step_per_pixel, double out[6]);
// The world file of a picture of width x height pixels whose outer corners lie at the given
// longitudes and latitudes: the pixel sizes are the corners' spherical Mercator distances over
// the picture's size (line 4 negative), the origin the centre of the top-left pixel. A right
// edge west of the left one lies across 180 degrees. False for an empty picture, corners that
// span nothing or values that are not numbers.
bool MosaicWorldFileValues(double left, double top, double right, double bottom, int width, int height,
                           double out[6]);

}  // namespace velmora
