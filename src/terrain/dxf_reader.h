// CDxfReader: reads the contour lines and labels of a DXF drawing back into the elevation grid
// panel's line set and label list. It stands on the hardened DXF reader of exchange/dxf_reader.h
// (bounded lines, checked numbers, sections other than ENTITIES skipped) and only regroups what
// that reader found: every polyline with a level joins the level list of its elevation (a new
// list at the end of the set for a level not seen before), and TEXT entities whose position lies
// strictly inside the panel's x and y ranges become labels.
#pragma once
#include <string>
#include <vector>

#include "terrain/contour_tracer.h"
#include "terrain/dem_grid.h"

namespace velmora {

class CDxfReader {
 public:
  // `set` and `labels` receive what is read; `x_range`/`y_range` bound the labels and map them
  // to the pixels of a `width` x `height` panel (north up).
  CDxfReader(CContourLineSet* set, std::vector<DemLabel>* labels, ContourRange x_range, ContourRange y_range,
             int width, int height);

  // Reads one file. A file that cannot be read as a DXF drawing is ignored (false, nothing
  // added). A polyline without a level of its own (a POLYLINE head without group 30) and
  // polylines of fewer than two points are skipped. Returns true when the file was read.
  bool Load(const std::string& path, std::string* error = nullptr);

  size_t LinesRead() const { return lines_; }
  size_t LabelsRead() const { return labels_read_; }

 private:
  CContourLineList* ListOf(float level);

  CContourLineSet* set_;
  std::vector<DemLabel>* labels_;
  ContourRange x_range_, y_range_;
  int width_, height_;
  CContourLineList* current_ = nullptr;
  size_t lines_ = 0;
  size_t labels_read_ = 0;
};

}  // namespace velmora
