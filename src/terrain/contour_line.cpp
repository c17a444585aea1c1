// Contour line lists, the level set and the level computation shared by both tracers.
#include "terrain/contour_line.h"

#include <cfloat>
#include <cmath>

namespace velmora {

ContourLine* CContourLineList::AddLine(float level) {
  auto line = std::make_unique<ContourLine>();
  line->level = level;
  lines_.push_back(std::move(line));
  return lines_.back().get();
}

void CContourLineList::AddTail(std::unique_ptr<ContourLine> line) {
  if (line) lines_.push_back(std::move(line));
}

CContourLineList* CContourLineSet::Add() {
  lists_.push_back(std::make_unique<CContourLineList>());
  return lists_.back().get();
}

size_t CContourLineSet::LineCount() const {
  size_t n = 0;
  for (const auto& list : lists_) n += list->GetCount();
  return n;
}

ContourStatus ComputeContourLevels(double start, double stop, double interval, std::vector<float>* levels) {
  if (!(interval > 0) || !std::isfinite(interval) || !std::isfinite(start) || !std::isfinite(stop)) {
    return ContourStatus::kBadInterval;
  }
  std::vector<float> out;
  if (start < stop) {
    // Estimate first so that an absurd count fails before anything is allocated.
    double estimate = (stop - start) / interval;
    if (!(estimate < static_cast<double>(kMaxContourLevels))) return ContourStatus::kTooManyLevels;
    out.reserve(static_cast<size_t>(estimate) + 2);
    for (size_t k = 0;; ++k) {
      // Each level from the start, never by accumulation: a running sum drifts and a float sum
      // can stop advancing altogether.
      double level = start + static_cast<double>(k) * interval;
      if (!(level < stop)) break;
      if (out.size() >= kMaxContourLevels) return ContourStatus::kTooManyLevels;
      if (std::fabs(level) > FLT_MAX) return ContourStatus::kBadInterval;
      float value = static_cast<float>(level);
      if (!out.empty() && !(value > out.back())) return ContourStatus::kIntervalTooFine;
      out.push_back(value);
    }
  }
  *levels = std::move(out);
  return ContourStatus::kOk;
}

}  // namespace velmora
