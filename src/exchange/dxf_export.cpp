// DXF export: target choice, content, merge of another drawing, atomic save.
#include "exchange/dxf_export.h"

#include <sys/stat.h>

#include <cmath>

#include "core/format.h"
#include "platform/fs.h"

namespace velmora {
namespace {

uint32_t Rgb(Argb c) { return c & 0xFFFFFFu; }

// Liang-Barsky: the part [t0, t1] of a->b inside the rectangle; false when none.
bool ClipSegment(const DxfVertex& a, const DxfVertex& b, double x_min, double x_max, double y_min, double y_max,
                 double* t0, double* t1) {
  double lo = 0, hi = 1;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - x_min, x_max - a.x, a.y - y_min, y_max - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0) lo = std::max(lo, r);
    else hi = std::min(hi, r);
    if (lo > hi) return false;
  }
  *t0 = lo, *t1 = hi;
  return true;
}

DxfVertex Lerp(const DxfVertex& a, const DxfVertex& b, double t) {
  if (t <= 0) return a;
  if (t >= 1) return b;
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

}  // namespace

std::vector<DxfPolyline> ClipPolyline(const DxfPolyline& line, double x_min, double x_max, double y_min,
                                      double y_max) {
  std::vector<DxfPolyline> out;
  const auto& pts = line.points;
  auto inside = [&](const DxfVertex& v) { return v.x >= x_min && v.x <= x_max && v.y >= y_min && v.y <= y_max; };
  if (pts.size() == 1) {
    if (inside(pts[0])) out.push_back(line);
    return out;
  }
  bool all_inside = true;
  for (const DxfVertex& v : pts) all_inside = all_inside && inside(v);
  if (all_inside) {
    out.push_back(line);
    return out;
  }
  DxfPolyline piece = line;
  piece.closed = false;
  piece.points.clear();
  bool joined_to_previous = false;  // the last segment ended uncut, so the next one continues it
  const size_t segments = line.closed ? pts.size() : pts.size() - 1;
  bool first_piece_starts_at_start = false;
  for (size_t i = 0; i < segments; ++i) {
    const DxfVertex& a = pts[i];
    const DxfVertex& b = pts[(i + 1) % pts.size()];
    double t0 = 0, t1 = 0;
    if (!ClipSegment(a, b, x_min, x_max, y_min, y_max, &t0, &t1)) {
      if (piece.points.size() >= 2) out.push_back(piece);
      piece.points.clear();
      joined_to_previous = false;
      continue;
    }
    if (!(joined_to_previous && t0 == 0) || piece.points.empty()) {
      if (piece.points.size() >= 2) out.push_back(piece);
      piece.points.clear();
      piece.points.push_back(Lerp(a, b, t0));
      if (i == 0 && t0 == 0) first_piece_starts_at_start = true;
    }
    piece.points.push_back(Lerp(a, b, t1));
    joined_to_previous = t1 == 1;
    if (!joined_to_previous) {
      if (piece.points.size() >= 2) out.push_back(piece);
      piece.points.clear();
    }
  }
  if (piece.points.size() >= 2) {
    // A closed line whose last piece runs into its first: one piece.
    if (line.closed && joined_to_previous && first_piece_starts_at_start && !out.empty()) {
      piece.points.insert(piece.points.end(), out.front().points.begin() + 1, out.front().points.end());
      out.front() = piece;
    } else {
      out.push_back(piece);
    }
  }
  return out;
}

bool CDxfExport::OpenTarget(const std::string& path, const AskAddOrOverwrite& ask) {
  *this = CDxfExport{};
  path_ = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error_ = path + ": is a folder";
      return false;
    }
    Answer answer = ask ? ask(kQuestion) : Answer::kCancel;
    if (answer == Answer::kCancel) {
      error_ = "cancelled";
      cancelled_ = true;
      return false;
    }
    if (answer == Answer::kAdd) {
      auto bytes = ReadFileBytes(path, &error_);
      if (!bytes) return false;
      original_.assign(bytes->begin(), bytes->end());
      std::string why;
      if (!ReadDxf(original_, &target_, &why)) {
        // Never written: adding to a drawing we cannot read could only lose what it holds.
        error_ = path + ": " + why;
        original_.clear();
        return false;
      }
      adding_ = true;
    }
  }
  open_ = true;
  return true;
}

void CDxfExport::UseLayer(const std::string& name, int aci) {
  for (const DxfLayer& l : content_.layers)
    if (l.name == name) return;
  content_.layers.push_back({name, aci});
}

void CDxfExport::SetLayer(std::string_view name, Argb color) {
  layer_ = DxfLayerName(name);
  UseLayer(layer_, NearestAci(Rgb(color)));
}

void CDxfExport::AddPolyline(double level, std::span<const DxfPoint> points, Argb color, bool closed) {
  if (points.empty()) return;
  DxfPolyline pl;
  pl.layer = layer_;
  pl.aci = NearestAci(Rgb(color));
  pl.true_color = Rgb(color);
  pl.closed = closed;
  pl.elevation = std::isfinite(level) ? level : 0;
  pl.points.reserve(points.size());
  for (const DxfPoint& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;  // a point that could not be converted
    pl.points.push_back({p.x, p.y, pl.elevation});
  }
  if (pl.points.empty()) return;
  UseLayer(layer_, 7);
  content_.polylines.push_back(std::move(pl));
}

void CDxfExport::AddPolyline(double level, const float* xy, size_t count, Argb color, bool closed) {
  std::vector<DxfPoint> points(count);
  for (size_t i = 0; i < count; ++i) points[i] = {xy[2 * i], xy[2 * i + 1]};
  AddPolyline(level, points, color, closed);
}

void CDxfExport::AddText(double x, double y, double height, std::string_view text, Argb color, double rotation) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  DxfText t;
  t.layer = layer_;
  t.aci = NearestAci(Rgb(color));
  t.true_color = Rgb(color);
  t.x = x, t.y = y;
  t.height = std::isfinite(height) && height > 0 ? height : 1;
  t.rotation = std::isfinite(rotation) ? rotation : 0;
  t.text = std::string(text);
  UseLayer(layer_, 7);
  content_.texts.push_back(std::move(t));
}

bool CDxfExport::AddContours(const std::string& path, double x_min, double x_max, double y_min, double y_max,
                             size_t* merged) {
  if (merged) *merged = 0;
  DxfDrawing source;
  if (!ReadDxfFile(path, &source, &error_)) return false;
  if (x_min > x_max) std::swap(x_min, x_max);
  if (y_min > y_max) std::swap(y_min, y_max);
  auto layer_colour = [&](const std::string& name) {
    for (const DxfLayer& l : source.layers)
      if (l.name == name) return l.aci;
    return 7;
  };
  size_t count = 0;
  for (const DxfPolyline& pl : source.polylines) {
    for (DxfPolyline& piece : ClipPolyline(pl, x_min, x_max, y_min, y_max)) {
      piece.layer = DxfLayerName(piece.layer);
      UseLayer(piece.layer, layer_colour(pl.layer));
      content_.polylines.push_back(std::move(piece));
      ++count;
    }
  }
  for (const DxfText& t : source.texts) {
    if (!(t.x >= x_min && t.x <= x_max && t.y >= y_min && t.y <= y_max)) continue;
    DxfText copy = t;
    copy.layer = DxfLayerName(t.layer);
    UseLayer(copy.layer, layer_colour(t.layer));
    content_.texts.push_back(std::move(copy));
    ++count;
  }
  if (merged) *merged = count;
  return true;
}

bool CDxfExport::SaveFile() {
  if (!open_) {
    error_ = "no target";
    return false;
  }
  const std::string bytes = adding_ ? SpliceDxf(original_, target_, content_) : WriteDxfDocument(content_);
  return WriteFileAtomic(path_, bytes.data(), bytes.size(), &error_);
}

}  // namespace velmora
