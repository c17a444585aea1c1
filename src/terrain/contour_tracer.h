// CContourTracer: the contour tracer of the elevation grid panel. It holds a regular grid of
// heights over world x and y ranges and traces, level by level, the lines of each level into one
// CContourLineList (world coordinates), first the lines that start on the grid border, then the
// closed lines inside.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "terrain/contour_line.h"

namespace velmora {

// A (minimum, maximum) pair of the tracer's x, y and z ranges.
struct ContourRange {
  double min = 0;
  double max = 0;
};

class CContourTracer {
 public:
  CContourTracer() = default;
  virtual ~CContourTracer() = default;
  CContourTracer(const CContourTracer&) = delete;
  CContourTracer& operator=(const CContourTracer&) = delete;

  // Frees values, crossing arrays and every line list; nx = ny = 0.
  void Reset();
  // Allocates a zero-filled grid of `rows` x `columns` heights with its crossing arrays (old lines
  // stay). False, with the grid emptied, for a negative size or one beyond kMaxContourGridNodes or
  // the memory at hand.
  bool AllocGrid(int rows, int columns);

  int nx() const { return nx_; }
  int ny() const { return ny_; }
  // Row 0 lies at ymin, column 0 at xmin.
  float* Row(int row) { return values_.data() + static_cast<size_t>(row) * nx_; }
  const float* Row(int row) const { return values_.data() + static_cast<size_t>(row) * nx_; }
  float& Value(int row, int column) { return Row(row)[column]; }
  float Value(int row, int column) const { return Row(row)[column]; }

  // World extent of the grid and the height range that the levels cover; set by the owner.
  ContourRange x_range;
  ContourRange y_range;
  ContourRange z_range;

  // Interval for a level choice: type 0 takes `value` as the interval, type 1 as the number of
  // intervals over the z range. Returns 0 when that gives no positive finite interval (the caller
  // then refuses to contour).
  double ComputeContourInterval(int type, double value) const;
  // Frees the old lists and traces every level from the greatest multiple of `interval` not above
  // zmin while below zmax, one list per level. On failure nothing is traced and the old lists stay.
  ContourStatus TraceContourLevels(double interval);

  // The three stages of one level, for callers that choose their own levels: BeginLevel appends
  // an empty list for `level` to the set, then MarkCrossings, TraceOpen and TraceClosed fill it.
  CContourLineList* BeginLevel(float level);
  void MarkCrossings();
  void TraceOpen();
  void TraceClosed();

  // Deletes every line of every list and every list.
  void Free();

  const CContourLineSet& LineSet() const { return set_; }
  CContourLineSet& LineSet() { return set_; }
  float level() const { return level_; }

 private:
  struct Crossing {
    int row;
    int col;
    bool horizontal;
  };

  float& Ratio(const Crossing& e) {
    return e.horizontal ? hratio_[static_cast<size_t>(e.row) * (nx_ - 1) + e.col]
                        : vratio_[static_cast<size_t>(e.row) * nx_ + e.col];
  }
  bool Valid(const Crossing& e);
  bool OnBorder(const Crossing& e) const;
  ContourPoint WorldPoint(const Crossing& e, float ratio) const;
  // Appends the crossing's point unless it repeats the line's last one, and uses the crossing up.
  void Take(const Crossing& e);
  // The next crossing of a walk that arrived on `cur` from `prev`; false when there is none.
  bool Step(const Crossing& prev, const Crossing& cur, Crossing* next);
  void TraceOpenLine(const Crossing& start, const Crossing& prev);
  void TraceClosedLine(const Crossing& start);
  // Returns the crossings of the previous marking to the unused state.
  void ClearMarks();
  // Whether a cell (its lower-left node given) has a NaN corner; false outside the grid.
  bool CellHasNoData(int row, int col) const;
  // Open lines from the sides of cells with no data (TraceOpen does it when the level met NaN).
  void TraceFromNoData();

  CContourLineSet set_;
  std::vector<float> values_;
  int nx_ = 0;
  int ny_ = 0;
  // Crossing ratios of the current level: hratio_ for the edge (r, c)-(r, c+1), ny rows of nx-1;
  // vratio_ for (r, c)-(r+1, c), ny-1 rows of nx. kNoCrossing marks an edge without a crossing or
  // one already used. Only edges listed in hmarked_/vmarked_ ever hold anything else, so a new
  // level clears just those instead of the whole arrays.
  std::vector<float> hratio_;
  std::vector<float> vratio_;
  std::vector<uint32_t> hmarked_;
  std::vector<uint32_t> vmarked_;
  std::vector<uint8_t> mask_a_;  // node-above-level flags of two adjacent rows (scratch)
  std::vector<uint8_t> mask_b_;
  float level_ = 0;
  bool touches_no_data_ = false;  // the marking refused a crossing next to a NaN
  double dx_ = 0;
  double dy_ = 0;
  ContourLine* line_ = nullptr;
  CContourLineList* list_ = nullptr;
};

}  // namespace velmora
