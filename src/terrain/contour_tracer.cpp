// CContourTracer: marking of the level's edge crossings, the walks of open and closed lines and
// the level loop of the elevation grid panel.
#include "terrain/contour_tracer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

namespace velmora {
namespace {

constexpr float kNoCrossing = -2.0f;

// Calls fn(i) for every i < n where a[i] != b[i], eight bytes at a time: on real terrain almost
// every edge of a level lies on one side, so most words compare equal and are skipped at once.
template <typename Fn>
inline void ForEachDifference(const uint8_t* a, const uint8_t* b, size_t n, Fn&& fn) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t wa;
    uint64_t wb;
    std::memcpy(&wa, a + i, 8);
    std::memcpy(&wb, b + i, 8);
    uint64_t diff = wa ^ wb;
    while (diff != 0) {
      // Little-endian load: byte k of the word is element i + k.
      fn(i + static_cast<size_t>(std::countr_zero(diff) >> 3));
      diff &= diff - 1;
    }
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) fn(i);
  }
}

// A node at or above the level counts as above, so a node equal to the level (common with whole
// metre heights) sits on the high side and the line passes through it. NaN counts as below; its
// edges are then refused by CrossingRatio.
inline void FillAboveMask(const float* row, size_t n, float level, uint8_t* mask) {
  for (size_t c = 0; c < n; ++c) mask[c] = row[c] >= level ? 1 : 0;
}

// Where the level crosses the edge from a to b, 0 at a and 1 at b; negative when the edge touches
// a NaN. Computed in double: the fraction is then exact to float precision even for big heights
// and lies inside [0, 1] whenever a and b are on opposite sides.
inline float CrossingRatio(float level, float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return kNoCrossing;
  return static_cast<float>((static_cast<double>(level) - a) / (static_cast<double>(b) - a));
}

}  // namespace

void CContourTracer::Reset() {
  Free();
  std::vector<float>().swap(values_);
  std::vector<float>().swap(hratio_);
  std::vector<float>().swap(vratio_);
  std::vector<uint32_t>().swap(hmarked_);
  std::vector<uint32_t>().swap(vmarked_);
  std::vector<uint8_t>().swap(mask_a_);
  std::vector<uint8_t>().swap(mask_b_);
  nx_ = 0;
  ny_ = 0;
}

bool CContourTracer::AllocGrid(int rows, int columns) {
  std::vector<float>().swap(values_);
  std::vector<float>().swap(hratio_);
  std::vector<float>().swap(vratio_);
  hmarked_.clear();
  vmarked_.clear();
  nx_ = 0;
  ny_ = 0;
  if (rows < 0 || columns < 0) return false;
  size_t nodes = static_cast<size_t>(rows) * static_cast<size_t>(columns);
  if (nodes > kMaxContourGridNodes) return false;
  try {
    values_.assign(nodes, 0.0f);
    if (rows >= 2 && columns >= 2) {
      hratio_.assign(static_cast<size_t>(rows) * (columns - 1), kNoCrossing);
      vratio_.assign(static_cast<size_t>(rows - 1) * columns, kNoCrossing);
    }
    mask_a_.assign(static_cast<size_t>(columns) + 8, 0);
    mask_b_.assign(static_cast<size_t>(columns) + 8, 0);
  } catch (const std::bad_alloc&) {
    Reset();
    return false;
  }
  nx_ = columns;
  ny_ = rows;
  return true;
}

void CContourTracer::Free() {
  set_.RemoveAll();
  list_ = nullptr;
  line_ = nullptr;
}

double CContourTracer::ComputeContourInterval(int type, double value) const {
  double interval = 0;
  if (type == 0) {
    interval = value;
  } else if (type == 1) {
    interval = (z_range.max - z_range.min) / value;
  }
  return interval > 0 && std::isfinite(interval) ? interval : 0.0;
}

ContourStatus CContourTracer::TraceContourLevels(double interval) {
  if (!(interval > 0) || !std::isfinite(interval)) return ContourStatus::kBadInterval;
  // The greatest multiple of the interval not above zmin: -123.4 by 10 starts at -130.
  double start = std::trunc(z_range.min / interval) * interval;
  if (start > z_range.min) start -= interval;
  std::vector<float> levels;
  ContourStatus status = ComputeContourLevels(start, z_range.max, interval, &levels);
  if (status != ContourStatus::kOk) return status;
  Free();
  try {
    for (float level : levels) {
      BeginLevel(level);
      MarkCrossings();
      TraceOpen();
      TraceClosed();
    }
  } catch (const std::bad_alloc&) {
    Free();
    ClearMarks();
    return ContourStatus::kOutOfMemory;
  }
  ClearMarks();
  return ContourStatus::kOk;
}

CContourLineList* CContourTracer::BeginLevel(float level) {
  list_ = set_.Add();
  level_ = level;
  return list_;
}

void CContourTracer::ClearMarks() {
  for (uint32_t i : hmarked_) hratio_[i] = kNoCrossing;
  for (uint32_t i : vmarked_) vratio_[i] = kNoCrossing;
  hmarked_.clear();
  vmarked_.clear();
}

void CContourTracer::MarkCrossings() {
  ClearMarks();
  touches_no_data_ = false;
  if (nx_ < 2 || ny_ < 2) return;
  dx_ = (x_range.max - x_range.min) / (nx_ - 1);
  dy_ = (y_range.max - y_range.min) / (ny_ - 1);
  const float level = level_;
  const size_t nx = static_cast<size_t>(nx_);
  uint8_t* below_row = mask_a_.data();
  uint8_t* above_row = mask_b_.data();
  FillAboveMask(Row(0), nx, level, below_row);
  for (int r = 0; r < ny_; ++r) {
    const float* v = Row(r);
    const size_t hbase = static_cast<size_t>(r) * (nx - 1);
    ForEachDifference(below_row, below_row + 1, nx - 1, [&](size_t c) {
      float ratio = CrossingRatio(level, v[c], v[c + 1]);
      if (ratio < 0) {
        touches_no_data_ = true;
        return;
      }
      hmarked_.push_back(static_cast<uint32_t>(hbase + c));  // first, so a failed push leaves no stray mark
      hratio_[hbase + c] = ratio;
    });
    if (r + 1 == ny_) break;
    const float* up = Row(r + 1);
    FillAboveMask(up, nx, level, above_row);
    const size_t vbase = static_cast<size_t>(r) * nx;
    ForEachDifference(below_row, above_row, nx, [&](size_t c) {
      float ratio = CrossingRatio(level, v[c], up[c]);
      if (ratio < 0) {
        touches_no_data_ = true;
        return;
      }
      vmarked_.push_back(static_cast<uint32_t>(vbase + c));
      vratio_[vbase + c] = ratio;
    });
    std::swap(below_row, above_row);
  }
}

bool CContourTracer::Valid(const Crossing& e) {
  float ratio = Ratio(e);
  return ratio != kNoCrossing && ratio >= 0.0f && ratio <= 1.0f;
}

bool CContourTracer::OnBorder(const Crossing& e) const {
  return e.horizontal ? (e.row == 0 || e.row == ny_ - 1) : (e.col == 0 || e.col == nx_ - 1);
}

ContourPoint CContourTracer::WorldPoint(const Crossing& e, float ratio) const {
  double col = e.col;
  double row = e.row;
  if (e.horizontal) {
    col += ratio;
  } else {
    row += ratio;
  }
  return {static_cast<float>(col * dx_ + x_range.min), static_cast<float>(row * dy_ + y_range.min)};
}

void CContourTracer::Take(const Crossing& e) {
  float& ratio = Ratio(e);
  ContourPoint p = WorldPoint(e, ratio);
  if (line_->points.empty() || !(line_->points.back() == p)) line_->points.push_back(p);
  ratio = kNoCrossing;
}

bool CContourTracer::Step(const Crossing& prev, const Crossing& cur, Crossing* next) {
  const int r = cur.row;
  const int c = cur.col;
  Crossing a;
  Crossing b;
  Crossing opposite;
  // The cell ahead follows from where the walk came from. Each case checks that the cell lies
  // inside the grid, so a walk can never step out of it whatever the ratios say.
  if (cur.row > prev.row) {  // from below, through a horizontal edge
    if (!cur.horizontal || r + 1 >= ny_) return false;
    a = {r, c, false};
    b = {r, c + 1, false};
    opposite = {r + 1, c, true};
  } else if (cur.col > prev.col) {  // from the left, through a vertical edge
    if (cur.horizontal || c + 1 >= nx_) return false;
    a = {r, c, true};
    b = {r + 1, c, true};
    opposite = {r, c + 1, false};
  } else if (!cur.horizontal) {  // from the right
    if (c < 1) return false;
    a = {r, c - 1, true};
    b = {r + 1, c - 1, true};
    opposite = {r, c - 1, false};
  } else {  // from above
    if (r < 1) return false;
    a = {r - 1, c, false};
    b = {r - 1, c + 1, false};
    opposite = {r - 1, c, true};
  }
  const bool a_valid = Valid(a);
  const bool b_valid = Valid(b);
  if (a_valid && b_valid) {
    // A saddle cell: both sides cross. The side whose crossing lies nearer the low-index corner
    // wins; on a tie, where the current edge is crossed decides.
    float ra = Ratio(a);
    float rb = Ratio(b);
    if (ra < rb) {
      *next = a;
    } else if (ra != rb) {
      *next = b;
    } else {
      double v0 = Value(r, c);
      double v1 = cur.horizontal ? Value(r, c + 1) : Value(r + 1, c);
      double tie = (level_ - v0) / (v1 - v0);
      *next = tie <= 0.5 ? a : b;
    }
  } else if (a_valid) {
    *next = a;
  } else if (b_valid) {
    *next = b;
  } else if (Valid(opposite)) {
    *next = opposite;
  } else {
    return false;
  }
  return true;
}

void CContourTracer::TraceOpenLine(const Crossing& start, const Crossing& prev_start) {
  auto line = std::make_unique<ContourLine>();
  line->level = level_;
  line_ = line.get();
  Take(start);
  Crossing prev = prev_start;
  Crossing cur = start;
  Crossing next;
  // Every step uses one crossing up, so the walk ends within the number of edges; the count is
  // a second bound that does not depend on that reasoning.
  for (size_t steps = hratio_.size() + vratio_.size(); steps > 0 && Step(prev, cur, &next); --steps) {
    Take(next);
    prev = cur;
    cur = next;
    if (OnBorder(cur)) break;
  }
  line_ = nullptr;
  if (line->points.size() >= 2) list_->AddTail(std::move(line));
}

void CContourTracer::TraceClosedLine(const Crossing& start) {
  auto line = std::make_unique<ContourLine>();
  line->level = level_;
  line_ = line.get();
  // The start stays unused until the walk comes back to it; a previous crossing in column 0
  // sends the first step to the right.
  line->points.push_back(WorldPoint(start, Ratio(start)));
  Crossing prev = {start.row, 0, false};
  Crossing cur = start;
  Crossing next;
  for (size_t steps = hratio_.size() + vratio_.size(); steps > 0 && Step(prev, cur, &next); --steps) {
    bool back_at_start = !next.horizontal && next.row == start.row && next.col == start.col;
    Take(next);
    if (back_at_start) break;
    prev = cur;
    cur = next;
  }
  // A walk that stopped short leaves the start unused; it must not start or feed another line.
  Ratio(start) = kNoCrossing;
  line_ = nullptr;
  if (line->points.size() >= 2) list_->AddTail(std::move(line));
}

void CContourTracer::TraceOpen() {
  if (nx_ < 2 || ny_ < 2 || list_ == nullptr) return;
  for (int c = 0; c + 1 < nx_; ++c) {  // bottom border, walking up
    Crossing e{0, c, true};
    if (Valid(e)) TraceOpenLine(e, {-1, c, true});
  }
  for (int r = 0; r + 1 < ny_; ++r) {  // left border, walking right
    Crossing e{r, 0, false};
    if (Valid(e)) TraceOpenLine(e, {r, -1, false});
  }
  for (int c = 0; c + 1 < nx_; ++c) {  // top border, walking down
    Crossing e{ny_ - 1, c, true};
    if (Valid(e)) TraceOpenLine(e, e);
  }
  for (int r = 0; r + 1 < ny_; ++r) {  // right border, walking left
    Crossing e{r, nx_ - 1, false};
    if (Valid(e)) TraceOpenLine(e, e);
  }
  if (touches_no_data_) TraceFromNoData();
}

bool CContourTracer::CellHasNoData(int row, int col) const {
  if (row < 0 || col < 0 || row + 1 >= ny_ || col + 1 >= nx_) return false;
  return std::isnan(Value(row, col)) || std::isnan(Value(row, col + 1)) || std::isnan(Value(row + 1, col)) ||
         std::isnan(Value(row + 1, col + 1));
}

void CContourTracer::TraceFromNoData() {
  // A line that runs into a cell with a no-data corner ends there. Its other end is traced from
  // that cell's side like a border start, walking away from the hole, so that the line comes out
  // whole instead of in the pieces a closed walk would leave.
  std::vector<Crossing> starts;
  for (uint32_t i : hmarked_) {
    Crossing e{static_cast<int>(i / (nx_ - 1)), static_cast<int>(i % (nx_ - 1)), true};
    const bool below = CellHasNoData(e.row - 1, e.col), above = CellHasNoData(e.row, e.col);
    if (below != above) starts.push_back(e);
  }
  for (uint32_t i : vmarked_) {
    Crossing e{static_cast<int>(i / nx_), static_cast<int>(i % nx_), false};
    const bool left = CellHasNoData(e.row, e.col - 1), right = CellHasNoData(e.row, e.col);
    if (left != right) starts.push_back(e);
  }
  // Only where the hole cell offers no other crossing does the line end there; a line that passes
  // through a cell with a no-data corner is left to the closed walk.
  auto ends_in = [this](const Crossing& e, int row, int col) {
    const Crossing sides[4] = {{row, col, true}, {row + 1, col, true}, {row, col, false}, {row, col + 1, false}};
    for (const Crossing& s : sides) {
      if (s.row == e.row && s.col == e.col && s.horizontal == e.horizontal) continue;
      if (Valid(s)) return false;
    }
    return true;
  };
  for (const Crossing& e : starts) {
    if (!Valid(e)) continue;
    const int hole_row = e.horizontal && CellHasNoData(e.row - 1, e.col) ? e.row - 1 : e.row;
    const int hole_col = !e.horizontal && CellHasNoData(e.row, e.col - 1) ? e.col - 1 : e.col;
    if (!ends_in(e, hole_row, hole_col)) continue;
    // The previous crossing lies on the hole's side, so the first step leaves the hole.
    if (e.horizontal) {
      TraceOpenLine(e, CellHasNoData(e.row - 1, e.col) ? Crossing{e.row - 1, e.col, true} : e);
    } else {
      TraceOpenLine(e, CellHasNoData(e.row, e.col - 1) ? Crossing{e.row, e.col - 1, false} : e);
    }
  }
}

void CContourTracer::TraceClosed() {
  if (nx_ < 2 || ny_ < 2 || list_ == nullptr) return;
  // Closed lines start at vertical edges of the inner columns, column by column and bottom to top
  // within a column. Only the marked edges can hold a crossing, so they are put in that order
  // instead of walking the whole array down its columns.
  std::vector<uint64_t> starts;
  starts.reserve(vmarked_.size());
  const uint32_t nx = static_cast<uint32_t>(nx_);
  for (uint32_t i : vmarked_) {
    uint32_t col = i % nx;
    uint32_t row = i / nx;
    if (col >= 1 && col + 1 < nx) starts.push_back(static_cast<uint64_t>(col) << 32 | row);
  }
  std::sort(starts.begin(), starts.end());
  for (uint64_t key : starts) {
    Crossing e{static_cast<int>(key & 0xffffffffu), static_cast<int>(key >> 32), false};
    if (Valid(e)) TraceClosedLine(e);
  }
}

}  // namespace velmora
