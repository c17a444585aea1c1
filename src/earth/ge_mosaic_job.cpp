// The snapshot mosaic job's files and numbers.
#include "earth/ge_mosaic_job.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdarg>
#include <cstring>

#include "core/archive.h"
#include "core/format.h"
#include "core/geodesy.h"
#include "core/projection.h"
#include "platform/fs.h"

namespace velmora {

namespace {

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}
float FromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// A north-up world file: pixel sizes sx, sy (line 4 negative) and the centre of the top-left pixel,
// whose corner is (x0, y0).
void NorthUpWorldFile(double x0, double y0, double sx, double sy, double out[6]) {
  out[0] = sx;
  out[1] = 0;
  out[2] = 0;
  out[3] = -sy;
  out[4] = x0 + sx / 2;
  out[5] = y0 - sy / 2;
}

}  // namespace

bool ReadMosaicArchive(const std::string& path, std::string* error, const std::function<void(ArchiveReader&)>& read) {
  std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path, error);
  if (!bytes) return false;
  try {
    ArchiveReader in(bytes->data(), bytes->size());
    read(in);
    if (!in.AtEnd()) throw ArchiveError("bytes after the end of the record");
    return true;
  } catch (const ArchiveError& e) {
    if (error) *error = path + ": " + e.what();
    return false;
  }
}

bool WriteGeResumeFile(const std::string& path, const GeMosaicJob& job, std::string* error) {
  ArchiveWriter out;
  out.String(job.output_path);
  out.U32(job.full_screen);
  out.U32(job.delay_ms);
  out.U32(job.carried[0]);
  out.U32(job.carried[1]);
  out.U32(job.coordinates);
  out.F32(job.left);
  out.F32(job.top);
  out.F32(job.right);
  out.F32(job.bottom);
  out.U32(Bits(job.altitude));
  out.F32(job.next_lng);
  out.F32(job.next_lat);
  out.U32(job.column);
  out.U32(job.row);
  return out.SaveToFile(path, error);
}

bool ReadGeResumeFile(const std::string& path, GeMosaicJob* job, std::string* error) {
  GeMosaicJob read;
  if (!ReadMosaicArchive(path, error, [&](ArchiveReader& in) {
        read.output_path = in.String();
        read.full_screen = in.U32();
        read.delay_ms = in.U32();
        read.carried[0] = in.U32();
        read.carried[1] = in.U32();
        read.coordinates = in.U32();
        read.left = in.F32();
        read.top = in.F32();
        read.right = in.F32();
        read.bottom = in.F32();
        read.altitude = FromBits(in.U32());
        read.next_lng = in.F32();
        read.next_lat = in.F32();
        read.column = in.U32();
        read.row = in.U32();
      }))
    return false;
  *job = std::move(read);
  return true;
}

bool WriteGeListFile(const std::string& path, const GeMosaicList& list, std::string* error) {
  ArchiveWriter out;
  out.U32(list.columns);
  out.U32(list.rows);
  out.U32(list.full_screen);
  out.String(list.output_path);
  out.U32(Bits(list.altitude));
  out.U32(list.delay_ms);
  return out.SaveToFile(path, error);
}

bool ReadGeListFile(const std::string& path, GeMosaicList* list, std::string* error) {
  GeMosaicList read;
  if (!ReadMosaicArchive(path, error, [&](ArchiveReader& in) {
        read.columns = in.U32();
        read.rows = in.U32();
        read.full_screen = in.U32();
        read.output_path = in.String();
        read.altitude = FromBits(in.U32());
        read.delay_ms = in.U32();
      }))
    return false;
  if (read.columns < 1 || read.rows < 1 || read.columns > 100000 || read.rows > 100000) {
    if (error) *error = path + ": no shots";
    return false;
  }
  *list = std::move(read);
  return true;
}

bool WriteGeShotRecord(const std::string& path, const double values[6], std::string* error) {
  ArchiveWriter out;
  for (int i = 0; i < 6; ++i) out.F64(values[i]);
  return out.SaveToFile(path, error);
}

bool ReadGeShotRecord(const std::string& path, double values[6], std::string* error) {
  double read[6];
  if (!ReadMosaicArchive(path, error, [&](ArchiveReader& in) {
        for (double& v : read) v = in.F64();
      }))
    return false;
  std::memcpy(values, read, sizeof read);
  return true;
}

std::string GeShotRecordPath(const std::string& folder, int column, int row) {
  return folder + FormatC("ge_%d_%d.dat", column, row);
}

std::string MosaicProjectFilePath(const std::string& base, std::time_t now, const char* extension) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, " %y-%m-%d %H-%M-%S", &local);
  return base + stamp + extension;
}

std::string GeProjectFilePath(const std::string& output_path, std::time_t now, const char* extension) {
  const std::string stem = output_path.size() >= 4 ? output_path.substr(0, output_path.size() - 4) : output_path;
  return MosaicProjectFilePath(stem, now, extension);
}

std::string GeProjectFileText(const GeMosaicJob& job, const char* layer) {
  const size_t slash = job.output_path.rfind('/');
  const std::string name = slash == std::string::npos ? job.output_path : job.output_path.substr(slash + 1);
  std::string text = "NAME: " + name + "\n";
  text += FormatC("LAYER: %s\n", layer);
  text += FormatC("DELAY: %d\n", static_cast<int>(job.delay_ms));
  text += FormatC("FULLSCREEN: %d\n", static_cast<int>(job.full_screen));
  text += FormatC("COORD: %d\n", static_cast<int>(job.coordinates));
  text += FormatC("BOUND: %f,%f;%f,%f;%f,%f,%f;%d,%d", double(job.left), double(job.top), double(job.right),
                 double(job.bottom), double(job.next_lng), double(job.next_lat), double(job.altitude),
                 static_cast<int>(job.column), static_cast<int>(job.row));
  return text;
}

bool ParseGeProjectText(std::string_view text, GeMosaicJob* job, std::string* layer, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::string_view name, layer_text, delay, full, coord, bound;
  bool have[6] = {};
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::pair<const char*, std::string_view*> keys[] = {{"NAME: ", &name},         {"LAYER: ", &layer_text},
                                                              {"DELAY: ", &delay},       {"FULLSCREEN: ", &full},
                                                              {"COORD: ", &coord},       {"BOUND: ", &bound}};
    for (size_t i = 0; i < 6; ++i) {
      const std::string_view key = keys[i].first;
      if (line.substr(0, key.size()) == key) {
        *keys[i].second = line.substr(key.size());
        have[i] = true;
      }
    }
  }
  for (bool h : have)
    if (!h) return fail("the project lacks a line (NAME, LAYER, DELAY, FULLSCREEN, COORD, BOUND)");
  auto integer = [](std::string_view t, int* out) {
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), *out);
    return ec == std::errc() && p == t.data() + t.size();
  };
  int d = 0, f = 0, c = 0;
  if (!integer(delay, &d) || !integer(full, &f) || !integer(coord, &c) || d < 0)
    return fail("the project's DELAY, FULLSCREEN or COORD is not a number");
  // BOUND: lt lng,lat; br lng,lat; next lng,lat,alt; column,row
  double v[7];
  int cr[2];
  std::string_view rest = bound;
  const char seps[] = {',', ';', ',', ';', ',', ',', ';'};
  for (int i = 0; i < 7; ++i) {
    auto [p, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), v[i]);
    if (ec != std::errc() || !std::isfinite(v[i]) || p == rest.data() + rest.size() || *p != seps[i])
      return fail("the project's BOUND does not read");
    rest.remove_prefix(static_cast<size_t>(p - rest.data()) + 1);
  }
  const size_t comma = rest.find(',');
  if (comma == std::string_view::npos || !integer(rest.substr(0, comma), &cr[0]) || !integer(rest.substr(comma + 1), &cr[1]))
    return fail("the project's BOUND does not read");
  GeMosaicJob out;
  out.output_path = std::string(name);
  out.delay_ms = static_cast<uint32_t>(d);
  out.full_screen = f != 0 ? 1 : 0;
  out.coordinates = c != 0 ? 1 : 0;
  out.left = static_cast<float>(v[0]);
  out.top = static_cast<float>(v[1]);
  out.right = static_cast<float>(v[2]);
  out.bottom = static_cast<float>(v[3]);
  out.next_lng = static_cast<float>(v[4]);
  out.next_lat = static_cast<float>(v[5]);
  out.altitude = static_cast<float>(v[6]);
  out.column = static_cast<uint32_t>(std::max(cr[0], 0));
  out.row = static_cast<uint32_t>(std::max(cr[1], 0));
  *job = std::move(out);
  if (layer) *layer = std::string(layer_text);
  return true;
}

std::string GeJobLogHeader(const GeMosaicJob& job) {
  return FormatC(";%f,%f => %f,%f; %f,%f", double(job.left), double(job.top), double(job.right), double(job.bottom),
                double(job.next_lng), double(job.next_lat));
}

double WrapLongitude(double lng) {
  double w = std::fmod(lng + 180.0, 360.0);
  if (w < 0) w += 360.0;
  return w - 180.0;
}

std::optional<GeRect> GeJobRect(const GeMosaicJob& job) {
  GeRect r{job.left, job.top, job.right, job.bottom};
  for (double v : {r.left, r.top, r.right, r.bottom})
    if (!std::isfinite(v)) return std::nullopt;
  if (r.right < r.left) r.right += 360.0;  // across 180 degrees
  if (!(r.right > r.left) || !(r.top > r.bottom) || r.right - r.left > 360.0) return std::nullopt;
  return r;
}

std::optional<GeGrid> GeGridSize(const GeRect& rect, double capture_left, double capture_top, double capture_right,
                                 double capture_bottom, double slack) {
  if (capture_right < capture_left) capture_right += 360.0;
  const double cw = MercatorLngToX(capture_right, 20) - MercatorLngToX(capture_left, 20);
  const double ch = MercatorLatToY(capture_bottom, 20) - MercatorLatToY(capture_top, 20);
  const double rw = MercatorLngToX(rect.right, 20) - MercatorLngToX(rect.left, 20);
  const double rh = MercatorLatToY(rect.bottom, 20) - MercatorLatToY(rect.top, 20);
  if (!(cw > 0) || !(ch > 0) || !(rw > 0) || !(rh > 0)) return std::nullopt;
  const auto count = [slack](double quotient) {
    const double whole = std::floor(quotient);
    return quotient - whole <= slack ? std::max(whole, 1.0) : whole + 1;
  };
  const double columns = count(rw / cw), rows = count(rh / ch);
  // The shot count (columns x rows) is counted in int by the jobs: at most 2^24 shots.
  if (columns > 100000 || rows > 100000 || columns * rows > kGeMaxShots) return std::nullopt;
  return GeGrid{static_cast<int>(columns), static_cast<int>(rows)};
}

uint64_t GeDiskNeeded(int capture_width, int capture_height, int shots) {
  return static_cast<uint64_t>(double(capture_width) * double(capture_height) * double(shots) * 4.0) + 104857600ull;
}

bool GeWorldFileValues(const double first_record[6], double lng_step_per_pixel, double out[6]) {
  const double pixel = lng_step_per_pixel * 2 * kHalfMetresPerDegree;
  double x = first_record[2], y = first_record[3];
  if (!(pixel > 0) || !std::isfinite(pixel) || !LonLatToMercator(&x, &y) || !std::isfinite(x) || !std::isfinite(y))
    return false;
  NorthUpWorldFile(x, y, pixel, pixel, out);
  return true;
}

bool MosaicWorldFileValues(double left, double top, double right, double bottom, int width, int height,
                           double out[6]) {
  if (width <= 0 || height <= 0) return false;
  if (right < left) right += 360.0;  // across 180 degrees
  double x0 = left, y0 = top, x1 = right, y1 = bottom;
  if (!LonLatToMercator(&x0, &y0) || !LonLatToMercator(&x1, &y1)) return false;
  const double sx = (x1 - x0) / width, sy = (y0 - y1) / height;
  if (!(sx > 0) || !(sy > 0) || !std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(x0) || !std::isfinite(y0))
    return false;
  NorthUpWorldFile(x0, y0, sx, sy, out);
  return true;
}

}  // namespace velmora
