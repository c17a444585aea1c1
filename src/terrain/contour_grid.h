// CContourGrid: the grid tracer of the map view's contour dialog. Its owner (the elevation chart)
// fills a grid of heights and the node positions; Compute traces every level at a whole-number
// interval into lines in grid units (column, row), joining the fragments of each level and keeping
// the lines that are closed or reach the border. A node without data is NaN: no line crosses a
// cell that has one, and a line that stops beside such a node is kept as one that reaches the
// border.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "terrain/contour_line.h"

namespace velmora {

class CContourGrid {
 public:
  CContourGrid();
  virtual ~CContourGrid() = default;
  CContourGrid(const CContourGrid&) = delete;
  CContourGrid& operator=(const CContourGrid&) = delete;

  // A zero-filled grid of nx columns and ny rows with zeroed node positions; old lines and grid
  // are freed first. False, with no grid, for a negative size or one beyond kMaxContourGridNodes
  // or the memory at hand.
  bool Allocate(int nx, int ny);
  // Frees values, node positions and edge flags.
  void FreeGrid();

  int nx() const { return nx_; }
  int ny() const { return ny_; }
  float* Row(int row) { return values_.data() + static_cast<size_t>(row) * nx_; }
  const float* Row(int row) const { return values_.data() + static_cast<size_t>(row) * nx_; }
  float& Value(int row, int column) { return Row(row)[column]; }
  float Value(int row, int column) const { return Row(row)[column]; }
  // Kept for the owner (the chart stores each node's longitude and latitude here).
  ContourPoint& NodePosition(int row, int column) { return positions_[static_cast<size_t>(row) * nx_ + column]; }

  // The height range the levels cover, set by whoever fills the grid.
  void SetValueRange(float lowest, float highest) {
    lowest_ = lowest;
    highest_ = highest;
  }
  float lowest() const { return lowest_; }
  float highest() const { return highest_; }

  // Deletes the old lines, then traces the levels lowest, lowest + interval, ... while below
  // highest; a node equal to a level counts as above it, so the level keeps its own value. On
  // failure (interval below 1, too many levels, levels too close for a float) the old lines are
  // kept and nothing is traced; out of memory leaves no lines.
  ContourStatus Compute(int interval);
  // Smooths the inner nodes in place, row by row, with the 1-2-1 kernel in both directions
  // (earlier nodes already smoothed). Nodes without data (NaN) and their neighbours stay as they
  // are.
  void Smooth();
  void FreeLines() { lines_.clear(); }

  const std::vector<std::unique_ptr<ContourLine>>& Lines() const { return lines_; }
  int interval() const { return interval_; }
  int min_points() const { return min_points_; }

 private:
  struct Edge {
    int row;
    int col;
    bool horizontal;
  };

  bool InGrid(const Edge& e) const;
  uint8_t& Flag(const Edge& e) {
    return e.horizontal ? hflag_[static_cast<size_t>(e.row) * (nx_ - 1) + e.col]
                        : vflag_[static_cast<size_t>(e.row) * nx_ + e.col];
  }
  // True when a node of either cell beside the edge holds no data (NaN).
  bool NoDataBeside(const Edge& e) const;
  // True, with the crossing point in grid units, when the level crosses the edge.
  bool Crossing(const Edge& e, float level, ContourPoint* point) const;
  void TraceLevel(float level);
  // Starts a line at an unflagged crossing edge and follows it; returns the line.
  ContourLine* StartLine(const Edge& start, float level, bool start_on_border);
  void Follow(ContourLine* line, Edge cur, float level);

  std::vector<std::unique_ptr<ContourLine>> lines_;
  // Per line of the level being traced: bit 0 set when its first point lies on a border edge,
  // bit 1 when its last point does. Such ends are where the line really leaves the grid.
  std::vector<uint8_t> border_ends_;
  // The same bits for every line of the run, in line order, for the final sieve.
  std::vector<uint8_t> line_ends_;
  int nx_ = 0;
  int ny_ = 0;
  int min_points_ = 3;
  int interval_ = 0;
  float lowest_ = 0;
  float highest_ = 0;
  std::vector<float> values_;
  std::vector<uint8_t> hflag_;  // ny rows of nx-1: edge (r, c)-(r, c+1) used at this level
  std::vector<uint8_t> vflag_;  // ny-1 rows of nx: edge (r, c)-(r+1, c) used at this level
  std::vector<ContourPoint> positions_;
};

// The joining step of the grid tracer on lines[first, end): each line, in order, takes the first
// later open line (first point != last point) with an end less than 4 grid units from one of its
// own ends (its last to that line's first, last to last, first to first, first to last, in that
// order of preference), as often as one is found; a line whose ends come within 3 units of each
// other is closed by repeating its first point. `border_ends` holds one entry per line of the range
// (bit 0: first point on a border edge, bit 1: last point; empty means none): such ends are where a
// contour leaves the grid and are never joined or closed. Joined lines are removed from both. The
// candidates come from a bucket grid of line ends, so the cost grows with the number of lines,
// not with its square.
void JoinContourFragments(std::vector<std::unique_ptr<ContourLine>>& lines, size_t first,
                          std::vector<uint8_t>& border_ends);

}  // namespace velmora
