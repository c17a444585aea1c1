// Point, grid, region, cache and contour files of the elevation grid panel.
#include "terrain/dem_files.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <system_error>

#include "core/archive.h"
#include "core/format.h"
#include "core/projection.h"
#include "exchange/excel_auto.h"
#include "exchange/kml_file.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "shapes/text_shape.h"

namespace velmora {
namespace {

std::string Coordinate(double value, int coord_format) {
  return coord_format == 1 ? FormatDms(value) : FormatFixed(value, 6);
}

std::string FormatPoints(std::span<const Point3D> points, int coord_format, const char* separator) {
  std::string out;
  if (coord_format != 0 && coord_format != 1) return out;
  out.reserve(points.size() * 40);
  for (const Point3D& p : points) {
    out += Coordinate(p.x, coord_format);
    out += separator;
    out += Coordinate(p.y, coord_format);
    out += separator;
    out += FormatNumber3(p.z);
    out += '\n';
  }
  return out;
}

bool WriteGbk(const std::string& path, const std::string& utf8, std::string* error) {
  const std::string bytes = Utf8ToAnsi(utf8);
  return WriteFileAtomic(path, bytes.data(), bytes.size(), error);
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// A coordinate field: "°" degrees-minutes-seconds or a decimal number.
bool ParseCoordinate(std::string_view text, double* value) {
  if (text.find("°") != std::string_view::npos) return ParseDms(text, value);
  const auto v = ParseDouble(text);
  if (!v) return false;
  *value = *v;
  return true;
}

bool ParseFields(const std::vector<std::string_view>& fields, Point3D* point) {
  if (fields.size() < 3) return false;
  double lon = 0, lat = 0;
  if (!ParseCoordinate(fields[0], &lon) || !ParseCoordinate(fields[1], &lat)) return false;
  const auto z = ParseDouble(fields[2]);
  if (!z) return false;
  if (!std::isfinite(lon) || !std::isfinite(lat) || !std::isfinite(*z) || std::fabs(lon) > 180 ||
      std::fabs(lat) > 90)
    return false;
  *point = {lon, lat, *z};
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool ImportLines(const std::string& path, std::vector<Point3D>* points, std::string* error,
                 bool (*parse)(std::string_view, Point3D*)) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return Fail(error, "cannot open " + path + ": " + ec.message());
  if (size > kDemMaxImportBytes) return Fail(error, path + " is too large to import");
  std::string read_error;
  const auto bytes = ReadFileBytes(path, &read_error);
  if (!bytes) return Fail(error, "cannot open " + path + ": " + read_error);
  const std::string text = AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  std::vector<Point3D> read;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kDemMaxLineBytes) continue;
    Point3D p;
    if (parse(line, &p)) read.push_back(p);
  }
  *points = std::move(read);
  return true;
}

std::string Kml(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Kml(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormatC(format, args);
  va_end(args);
  return text;
}

void Put(FILE* file, const std::string& text) { std::fwrite(text.data(), 1, text.size(), file); }

}  // namespace

// ---- points --------------------------------------------------------------------------------

std::string FormatPointsText(std::span<const Point3D> points, int coord_format) {
  return kDemTextHeader + FormatPoints(points, coord_format, "\t");
}

std::string FormatPointsCsv(std::span<const Point3D> points, int coord_format) {
  return FormatPoints(points, coord_format, ",");
}

bool ExportText(const std::string& path, std::span<const Point3D> points, int coord_format, std::string* error) {
  return WriteGbk(path, FormatPointsText(points, coord_format), error);
}

bool WriteCsvPoints(const std::string& path, std::span<const Point3D> points, int coord_format, std::string* error) {
  return WriteGbk(path, FormatPointsCsv(points, coord_format), error);
}

bool ExportExcel(const std::string& path, std::span<const Point3D> points, int coord_format, std::string* written,
                 std::string* error) {
  const bool dms = coord_format == 1;
  CExcelAuto book;
  book.Open();
  const char* heads[] = {"序号", "经度", "纬度", "海拔"};
  for (int c = 0; c < 4; ++c) book.SetData(0, c, heads[c]);
  int row = 1;
  for (const Point3D& p : points) {
    if (row >= static_cast<int>(Sheet::kMaxRows)) return Fail(error, "too many points for one sheet");
    book.SetNumber(row, 0, row);
    if (dms) {
      book.SetData(row, 1, FormatDms(p.x));
      book.SetData(row, 2, FormatDms(p.y));
      book.SetData(row, 3, FormatNumber3(p.z));
    } else {
      book.SetNumber(row, 1, p.x);
      book.SetNumber(row, 2, p.y);
      book.SetNumber(row, 3, p.z);
    }
    ++row;
  }
  if (!book.Save(path, written)) return Fail(error, book.LastError());
  return true;
}

bool ParseDemTextLine(std::string_view line, Point3D* point) {
  std::string text(line);
  for (char& c : text)
    if (c == '\t' || c == ',') c = ' ';
  // Runs of blanks become one, leading blanks go.
  std::string squeezed;
  squeezed.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && (squeezed.empty() || squeezed.back() == ' ')) continue;
    squeezed += c;
  }
  if (squeezed.empty() || squeezed[0] == ';') return false;
  if (squeezed.back() == ' ') squeezed.pop_back();
  return ParseFields(Split(squeezed, ' '), point);
}

bool ParseDemCsvLine(std::string_view line, Point3D* point) {
  if (line.empty() || line[0] == ';') return false;
  return ParseFields(Split(line, ','), point);
}

bool ImportText(const std::string& path, std::vector<Point3D>* points, std::string* error) {
  return ImportLines(path, points, error, &ParseDemTextLine);
}

bool ImportCsv(const std::string& path, std::vector<Point3D>* points, std::string* error) {
  return ImportLines(path, points, error, &ParseDemCsvLine);
}

// ---- grid and region ------------------------------------------------------------------------

std::string FormatSurferGrid(const CContourTracer& tracer) {
  const int nx = tracer.nx(), ny = tracer.ny();
  if (nx < 1 || ny < 1) return {};
  std::string out = "DSAA\n";
  out += FormatC("%d %d\n", nx, ny);
  out += FormatC("%f %f\n", tracer.x_range.min, tracer.x_range.max);
  out += FormatC("%f %f\n", tracer.y_range.min, tracer.y_range.max);
  out += FormatC("%f %f\n", tracer.z_range.min, tracer.z_range.max);
  out.reserve(out.size() + static_cast<size_t>(nx) * ny * 8 + ny);
  char buffer[64];
  for (int r = 0; r < ny; ++r) {
    out += '\n';
    const float* row = tracer.Row(r);
    for (int c = 0; c < nx; ++c) {
      const double v = std::isnan(row[c]) ? kSurferBlankValue : static_cast<double>(row[c]);
      // std::to_chars with a precision writes exactly what "%g" writes under the C locale.
      const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer - 1, v, std::chars_format::general, 6);
      char* stop = ec == std::errc() ? end : buffer;
      *stop++ = ' ';
      out.append(buffer, static_cast<size_t>(stop - buffer));
    }
  }
  return out;
}

bool ExportSurferGrid(const std::string& path, const CContourTracer& tracer, std::string* error) {
  if (tracer.nx() < 1 || tracer.ny() < 1) return Fail(error, "no grid: the points must be gridded first");
  const std::string text = FormatSurferGrid(tracer);
  return WriteFileAtomic(path, text.data(), text.size(), error);
}

bool WriteBlnFile(const std::string& path, const CDemGrid& grid, int coord_format, std::string* error) {
  std::vector<std::pair<double, double>> outline;
  if (grid.mode == kDemModeScreen) {
    if (grid.vertex_terrain.size() != grid.polygon.size() || grid.polygon.empty())
      return Fail(error, "the outline's vertices were not sampled");
    for (const Point3D& p : grid.vertex_terrain) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return Fail(error, "a vertex of the outline has no terrain");
      outline.push_back({p.x, p.y});
    }
  } else if (grid.polygon.size() == 2) {
    const DemBox b = DemBoxOf(grid.polygon);
    outline = {{b.west, b.north}, {b.east, b.north}, {b.east, b.south}, {b.west, b.south}, {b.west, b.north}};
  } else {
    for (const LngLatF& p : grid.polygon) outline.push_back({p.lng, p.lat});
  }
  if (outline.empty()) return Fail(error, "no outline");
  std::string text = FormatC("%d\t0\n", static_cast<int>(outline.size()));
  for (const auto& [x, y] : outline) text += Coordinate(x, coord_format == 1 ? 1 : 0) + "\t" + Coordinate(y, coord_format == 1 ? 1 : 0) + "\n";
  return WriteGbk(path, text, error);
}

// ---- the extraction cache --------------------------------------------------------------------

std::string DemCachePath() { return AppOptions().data_dir + "dem_exp." + "hdt"; }

bool DemCacheExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool SaveDemCache(const CDemGrid& grid, const std::string& path, std::string* error) {
  if (grid.points.empty()) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (ec) return Fail(error, "cannot delete " + path + ": " + ec.message());
    return true;
  }
  if (grid.points.size() > UINT32_MAX || grid.polygon.size() > UINT32_MAX) return Fail(error, "too many points");
  ArchiveWriter ar;
  ar.U32(static_cast<uint32_t>(grid.points.size()));
  for (const Point3D& p : grid.points) {
    ar.F64(p.x);
    ar.F64(p.y);
    ar.F64(p.z);
  }
  ar.U32(static_cast<uint32_t>(grid.polygon.size()));
  for (const LngLatF& p : grid.polygon) {
    ar.F32(p.lng);
    ar.F32(p.lat);
  }
  ar.U32(static_cast<uint32_t>(std::max(0, grid.sample_distance)));
  for (const ContourRange* r : {&grid.tracer.x_range, &grid.tracer.y_range, &grid.tracer.z_range}) {
    ar.F64(r->min);
    ar.F64(r->max);
  }
  return ar.SaveToFile(path, error);
}

bool LoadDemCache(CDemGrid* grid, const std::string& path, std::string* error) {
  std::vector<Point3D> points;
  std::vector<LngLatF> polygon;
  uint32_t distance = 0;
  ContourRange ranges[3];
  const ArchiveLoad load = LoadArchiveFile(
      path,
      [&](ArchiveReader& ar) {
        auto finite = [](double v) {
          if (!std::isfinite(v)) throw ArchiveError("a value that is not a finite number");
          return v;
        };
        const uint32_t n = ar.Count(24);
        points.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
          const double x = finite(ar.F64()), y = finite(ar.F64()), z = finite(ar.F64());
          points.push_back({x, y, z});
        }
        const uint32_t m = ar.Count(8);
        polygon.reserve(m);
        for (uint32_t i = 0; i < m; ++i) {
          const float x = static_cast<float>(finite(ar.F32())), y = static_cast<float>(finite(ar.F32()));
          polygon.push_back({x, y});
        }
        distance = ar.U32();
        if (distance > INT32_MAX) throw ArchiveError("sample distance out of range");
        for (ContourRange& r : ranges) {
          r.min = finite(ar.F64());
          r.max = finite(ar.F64());
        }
      },
      error);
  if (load == ArchiveLoad::kMissing) return Fail(error, "no extraction cache at " + path);
  if (load != ArchiveLoad::kOk) return false;
  grid->points = std::move(points);
  grid->polygon = std::move(polygon);
  grid->box = DemBoxOf(grid->polygon);
  grid->sample_distance = static_cast<int>(distance);
  grid->tracer.x_range = ranges[0];
  grid->tracer.y_range = ranges[1];
  grid->tracer.z_range = ranges[2];
  grid->ready = !grid->points.empty();
  return true;
}

// ---- contours --------------------------------------------------------------------------------

std::vector<std::unique_ptr<CTextShape>> AddContourLabels(std::span<const DemLabel> labels, Argb label_color) {
  std::vector<std::unique_ptr<CTextShape>> shapes;
  shapes.reserve(labels.size());
  for (size_t i = 0; i < labels.size(); ++i) {
    const DemLabel& label = labels[i];
    auto shape = std::make_unique<CTextShape>();
    shape->InitWithText(label.text, static_cast<float>(label.x), static_cast<float>(label.y));
    shape->SetName(FormatC("autocontour_lable_%d", static_cast<int>(i)));
    shape->rotation = label.rotation;
    shape->text_color = label_color;
    shape->bold = true;
    shape->halo = true;
    shape->RebuildStyle();
    shapes.push_back(std::move(shape));
  }
  return shapes;
}

bool ProjectPointsInto(std::span<const Point3D> points, int system, CDemGrid* target) {
  std::vector<double> xy;
  xy.reserve(points.size() * 2);
  for (const Point3D& p : points) {
    xy.push_back(p.x);
    xy.push_back(p.y);
  }
  if (!points.empty() && (points.size() > INT32_MAX ||
                          !TransformPoints2(xy.data(), static_cast<int>(points.size()), system)))
    return false;
  std::vector<Point3D> converted;
  converted.reserve(points.size());
  for (size_t i = 0; i < points.size(); ++i) converted.push_back({xy[2 * i], xy[2 * i + 1], points[i].z});
  target->points = std::move(converted);
  target->polygon.clear();
  target->RecomputeRanges();
  return true;
}

void WriteContourKmlStyles(FILE* file, std::span<const Argb> pens, Argb label_color) {
  for (size_t i = 0; i < pens.size(); ++i) {
    const int n = static_cast<int>(i);
    Put(file, Kml("\n<StyleMap id=\"stylemap_line%d\">", n));
    Put(file, Kml("\n<Pair> <key>normal</key> <styleUrl>#style_line%d_nml</styleUrl> </Pair>", n));
    Put(file, Kml("\n<Pair> <key>highlight</key> <styleUrl>#style_line%d_hlt</styleUrl> </Pair>", n));
    Put(file, "\n</StyleMap>");
    Put(file, Kml("\n<Style id=\"style_line%d_nml\">", n));
    Put(file, "\n<IconStyle> <scale>1.1</scale> </IconStyle> <LineStyle> <color>" + KmlColor(pens[i]) +
                  "</color> <width>1</width> </LineStyle>");
    Put(file, "\n</Style>");
    Put(file, Kml("\n<Style id=\"style_line%d_hlt\">", n));
    Put(file, "\n<IconStyle> <scale>1.3</scale> </IconStyle> <LineStyle> <color>ffffff00</color> <width>2</width> "
              "</LineStyle>");
    Put(file, "\n</Style>");
  }
  const std::string hot = "<hotSpot x=\"20\" y=\"2\" xunits=\"pixels\" yunits=\"pixels\"/>";
  Put(file, "\n<StyleMap id=\"stylemap_text\">");
  Put(file, "\n<Pair> <key>normal</key> <styleUrl>#style_text_nml</styleUrl> </Pair>");
  Put(file, "\n<Pair> <key>highlight</key> <styleUrl>#style_text_hlt</styleUrl> </Pair>");
  Put(file, "\n</StyleMap>");
  Put(file, "\n<Style id=\"style_text_nml\">");
  Put(file, "\n<IconStyle> <scale>1.1</scale> " + hot + " </IconStyle> <LabelStyle> <color>ffffffff</color> </LabelStyle>");
  Put(file, "\n</Style>");
  Put(file, "\n<Style id=\"style_text_hlt\">");
  Put(file, "\n<IconStyle> <scale>1.3</scale> " + hot + " </IconStyle> <LabelStyle> <color>" + KmlColor(label_color) +
                "</color> </LabelStyle>");
  Put(file, "\n</Style>\n");
}

void WriteContourKmlLine(FILE* file, const ContourLine& line, int pen, size_t row) {
  std::string text = Kml("<Placemark id=\"line_%f_%d\">\n", line.level, static_cast<int>(row));
  text += Kml("<description>%f</description>\n", line.level);
  text += Kml("<styleUrl>#stylemap_line%d</styleUrl>", pen);
  text += "<LineString>\n<coordinates>\n";
  for (const ContourPoint& p : line.points) text += Kml("%f,%f,0 ", p.x, p.y);
  text += "</coordinates>\n</LineString>\n</Placemark>\n";
  if (!line.points.empty()) {
    text += Kml("<Placemark> <name>%d</name><styleUrl>#stylemap_text</styleUrl><Point> <coordinates>%f,%f,0"
                "</coordinates> </Point></Placemark>",
                static_cast<int>(line.level), line.points[0].x, line.points[0].y);
  }
  Put(file, text);
}

void WriteContourKmlPoints(FILE* file, const ContourLine& line) {
  std::string text = "<Folder>\n" + Kml("<name>%f</name>\n", line.level);
  for (const ContourPoint& p : line.points)
    text += Kml("<Placemark>\n<Point>\n<coordinates>\n%f,%f,0</coordinates>\n</Point>\n</Placemark>", p.x, p.y);
  text += "</Folder>\n";
  Put(file, text);
}

bool ExportContoursKml(const std::string& path, std::span<const DemDrawRecord* const> rows, std::span<const Argb> pens,
                       bool as_lines, bool all, std::span<const DemLabel> labels, Argb label_color,
                       std::string* error) {
  FILE* file = OpenKmlFile(path, {}, error);
  if (!file) return false;
  if (as_lines) WriteContourKmlStyles(file, pens, label_color);
  for (size_t i = 0; i < rows.size(); ++i) {
    const DemDrawRecord* row = rows[i];
    if (!row || !row->line) continue;
    if (as_lines) {
      WriteContourKmlLine(file, *row->line, row->pen, i);
    } else {
      WriteContourKmlPoints(file, *row->line);
    }
  }
  if (all) {
    for (const auto& shape : AddContourLabels(labels, label_color)) shape->ExportKml(file);
  }
  return CloseKmlFile(file, error);
}

bool WriteContourDxf(const std::string& path, const CDxfExport::AskAddOrOverwrite& ask,
                     std::span<const DemDrawRecord* const> rows, std::span<const Argb> pens, int coord_system,
                     std::string* error) {
  CDxfExport dxf;
  if (!dxf.OpenTarget(path, ask)) return Fail(error, dxf.Cancelled() ? "cancelled" : dxf.LastError());
  std::vector<double> xy;
  std::vector<DxfPoint> points;
  for (const DemDrawRecord* row : rows) {
    if (!row || !row->line || row->line->points.size() < 2) continue;
    xy.clear();
    for (const ContourPoint& p : row->line->points) {
      xy.push_back(p.x);
      xy.push_back(p.y);
    }
    if (coord_system != kCoordLonLat &&
        !TransformPoints2(xy.data(), static_cast<int>(row->line->points.size()), coord_system))
      return Fail(error, FormatC("a contour line at %g cannot be converted", row->line->level));
    points.clear();
    for (size_t i = 0; i + 1 < xy.size(); i += 2) points.push_back({xy[i], xy[i + 1]});
    const Argb color = row->pen >= 0 && static_cast<size_t>(row->pen) < pens.size() ? pens[row->pen] : 0xFF000000u;
    dxf.AddPolyline(row->line->level, points, color);
  }
  if (!dxf.SaveFile()) return Fail(error, dxf.LastError());
  return true;
}

}  // namespace velmora
