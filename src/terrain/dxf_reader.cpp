// Contour lines and labels from a DXF drawing.
#include "terrain/dxf_reader.h"

#include <cmath>

#include "exchange/dxf_reader.h"

namespace velmora {

CDxfReader::CDxfReader(CContourLineSet* set, std::vector<DemLabel>* labels, ContourRange x_range,
                       ContourRange y_range, int width, int height)
    : set_(set), labels_(labels), x_range_(x_range), y_range_(y_range), width_(width), height_(height) {}

CContourLineList* CDxfReader::ListOf(float level) {
  // The list of the last line first: the lines of one level usually follow each other.
  if (current_ && !current_->IsEmpty() && (*current_)[0].level == level) return current_;
  for (auto& list : *set_) {
    if (!list->IsEmpty() && (*list)[0].level == level) return current_ = list.get();
  }
  return current_ = set_->Add();
}

bool CDxfReader::Load(const std::string& path, std::string* error) {
  DxfDrawing drawing;
  if (!ReadDxfFile(path, &drawing, error)) return false;
  for (const DxfPolyline& pl : drawing.polylines) {
    // A line without a level would join an arbitrary list: it is left out.
    if (!pl.has_elevation || pl.points.size() < 2 || !std::isfinite(pl.elevation)) continue;
    const float level = static_cast<float>(pl.elevation);
    ContourLine* line = ListOf(level)->AddLine(level);
    line->points.reserve(pl.points.size() + (pl.closed ? 1 : 0));
    for (const DxfVertex& v : pl.points) line->points.push_back({static_cast<float>(v.x), static_cast<float>(v.y)});
    if (pl.closed && !(line->points.front() == line->points.back())) line->points.push_back(line->points.front());
    ++lines_;
  }
  const double w = x_range_.max - x_range_.min, h = y_range_.max - y_range_.min;
  for (const DxfText& t : drawing.texts) {
    if (t.mtext) continue;
    // The alignment point when there is one (written after the insertion point), and the
    // height added so that the position is the text's top left corner.
    const double x = t.has_align_point ? t.align_x : t.x;
    const double y = (t.has_align_point ? t.align_y : t.y) + t.height;
    if (!(x > x_range_.min && x < x_range_.max && y > y_range_.min && y < y_range_.max)) continue;
    DemLabel label;
    label.x = x;
    label.y = y;
    label.px = w > 0 ? static_cast<float>((x - x_range_.min) * width_ / w) : 0.0f;
    label.py = h > 0 ? static_cast<float>(height_ - (y - y_range_.min) * height_ / h) : 0.0f;
    label.rotation = static_cast<float>(t.rotation);
    label.text = t.text;
    labels_->push_back(std::move(label));
    ++labels_read_;
  }
  return true;
}

}  // namespace velmora
