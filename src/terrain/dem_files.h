// The files of the elevation grid panel: sampled points as text, CSV and spreadsheet (written and
// read), the grid as a Surfer ASCII grid, the region as a Surfer blanking file, the last
// extraction kept in "dem_exp.hdt", and contour lines as KML and DXF, with contour labels as text
// shapes.
//
// Every file is written whole to a temporary file and renamed over the old one, so a failed
// export leaves the old file as it was. Text and CSV files are GBK; numbers are written and read
// without the locale. Failures come back as false with the reason; the window side shows the
// user's message ("无法创建文件").
#pragma once
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "exchange/dxf_export.h"
#include "terrain/dem_grid.h"

namespace velmora {

class CTextShape;

// The header of point text files (a comment line: imports skip it).
inline constexpr const char* kDemTextHeader = ";经度        \t纬度        \t高度\n";
// Surfer's blank value: nodes without data in a Surfer grid.
inline constexpr double kSurferBlankValue = 1.70141e38;
inline constexpr char kDemCacheFileName[] = "dem_exp.hdt";
// Import bounds: longer lines are skipped, larger files refused.
inline constexpr size_t kDemMaxLineBytes = 4096;
inline constexpr size_t kDemMaxImportBytes = size_t{1} << 30;

// ---- points --------------------------------------------------------------------------------
// Coordinate format 0: "%f" degrees; 1: FormatDms; anything else writes the header only (CSV:
// nothing). Elevations are "%.3f". The texts are UTF-8; the files hold them in GBK.
std::string FormatPointsText(std::span<const Point3D> points, int coord_format);
std::string FormatPointsCsv(std::span<const Point3D> points, int coord_format);
bool ExportText(const std::string& path, std::span<const Point3D> points, int coord_format,
                std::string* error = nullptr);
bool WriteCsvPoints(const std::string& path, std::span<const Point3D> points, int coord_format,
                    std::string* error = nullptr);
// A spreadsheet: header row "序号", "经度", "纬度", "海拔", then one row per point numbered from 1
// (numbers, or FormatDms texts and the "%.3f" elevation in the DMS format). A ".xls" path is
// written as ".xlsx" (*written holds the path written).
bool ExportExcel(const std::string& path, std::span<const Point3D> points, int coord_format,
                 std::string* written = nullptr, std::string* error = nullptr);

// One line of a point file: tabs and commas as separators (text) or commas only (CSV), blanks
// runs collapsed in text; longitude and latitude decimal or "°" degrees-minutes-seconds, the
// elevation decimal. False for a line that is empty, a comment (";"), unreadable, not finite or
// beyond ±180 / ±90.
bool ParseDemTextLine(std::string_view line, Point3D* point);
bool ParseDemCsvLine(std::string_view line, Point3D* point);
// Reads every readable line of a GBK point file into *points (replaced only on success). False
// (reason in *error, *points untouched) when the file cannot be opened or is beyond the bound.
bool ImportText(const std::string& path, std::vector<Point3D>* points, std::string* error = nullptr);
bool ImportCsv(const std::string& path, std::vector<Point3D>* points, std::string* error = nullptr);

// ---- grid and region ------------------------------------------------------------------------
// "DSAA": sizes, the x, y and z ranges, then each row from the south, an empty line before the
// first, every value "%g " and no newline at the end; NaN nodes as kSurferBlankValue. Empty
// without a grid.
std::string FormatSurferGrid(const CContourTracer& tracer);
// False (nothing written) when the tracer holds no grid: imported or point-list samples must be
// gridded first.
bool ExportSurferGrid(const std::string& path, const CContourTracer& tracer, std::string* error = nullptr);
// The blanking outline: region mode the polygon's vertices (two corners as their closed
// rectangle); screen mode the terrain points of the vertices, refused when one of them failed.
bool WriteBlnFile(const std::string& path, const CDemGrid& grid, int coord_format, std::string* error = nullptr);

// ---- the extraction cache --------------------------------------------------------------------
// The data folder's "dem_exp.hdt".
std::string DemCachePath();
bool DemCacheExists(const std::string& path = DemCachePath());
// Writes the points, the polygon, the sample distance and the ranges (little-endian); with no
// points the file is deleted instead. False when it cannot be written (the old file stays).
bool SaveDemCache(const CDemGrid& grid, const std::string& path = DemCachePath(), std::string* error = nullptr);
// Reads the same; counts are checked against the bytes left and non-finite values refused. On
// success the points, polygon, sample distance and ranges are replaced and the ready flag follows
// the number of points; on failure nothing changes.
bool LoadDemCache(CDemGrid* grid, const std::string& path = DemCachePath(), std::string* error = nullptr);

// ---- contours --------------------------------------------------------------------------------
// The labels as text shapes named "autocontour_lable_%d", in the label colour, bold with a halo.
std::vector<std::unique_ptr<CTextShape>> AddContourLabels(std::span<const DemLabel> labels, Argb label_color);
// The points converted into coordinate system `system` (core/projection.h, export slot) in
// `target`, its polygon emptied and its ranges recomputed. False (target untouched) when a point
// cannot be converted.
bool ProjectPointsInto(std::span<const Point3D> points, int system, CDemGrid* target);

// KML pieces, written into a handle of OpenKmlFile.
void WriteContourKmlStyles(FILE* file, std::span<const Argb> pens, Argb label_color);
// `row` keeps placemark ids unique within a level.
void WriteContourKmlLine(FILE* file, const ContourLine& line, int pen, size_t row);
void WriteContourKmlPoints(FILE* file, const ContourLine& line);
// The rows (contour lines with their pens) as lines (styles first) or as point folders. With
// `all`, the labels follow as their own placemarks.
bool ExportContoursKml(const std::string& path, std::span<const DemDrawRecord* const> rows, std::span<const Argb> pens,
                       bool as_lines, bool all, std::span<const DemLabel> labels, Argb label_color,
                       std::string* error = nullptr);

// Contour lines into a DXF target: each a polyline at its level's elevation in its pen's colour;
// for a coordinate system other than 0 (longitude/latitude) its points are converted first. The
// target is chosen with `ask` (add or overwrite an existing drawing) and saved at the end. False
// (reason in *error; nothing written) when cancelled, refused or a line cannot be converted.
bool WriteContourDxf(const std::string& path, const CDxfExport::AskAddOrOverwrite& ask,
                     std::span<const DemDrawRecord* const> rows, std::span<const Argb> pens, int coord_system,
                     std::string* error = nullptr);

}  // namespace velmora
