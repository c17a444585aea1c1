// CContourGrid: smoothing, the per-level edge walks with their six-candidate choice, the joining
// of fragments and the final sieve of the grid tracer.
#include "terrain/contour_grid.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace velmora {
namespace {

// Ends closer than this are joined; a line whose ends come closer than kCloseDistance is closed.
constexpr double kJoinDistance = 4.0;
constexpr double kCloseDistance = 3.0;

inline double Distance(const ContourPoint& a, const ContourPoint& b) {
  double dx = static_cast<double>(a.x) - b.x;
  double dy = static_cast<double>(a.y) - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

// Which of the four joins of JoinContourFragments applies to lines i and j (1 to 4), 0 for none.
// Ends on a border edge are real ends of the contour and are never joined.
int JoinKind(const ContourLine& i, uint8_t i_border, const ContourLine& j, uint8_t j_border) {
  const ContourPoint& fi = i.points.front();
  const ContourPoint& li = i.points.back();
  const ContourPoint& fj = j.points.front();
  const ContourPoint& lj = j.points.back();
  const bool fi_free = !(i_border & 1);
  const bool li_free = !(i_border & 2);
  const bool fj_free = !(j_border & 1);
  const bool lj_free = !(j_border & 2);
  if (li_free && fj_free && Distance(li, fj) < kJoinDistance) return 1;
  if (li_free && lj_free && Distance(li, lj) < kJoinDistance) return 2;
  if (fi_free && fj_free && Distance(fi, fj) < kJoinDistance) return 3;
  if (fi_free && lj_free && Distance(fi, lj) < kJoinDistance) return 4;
  return 0;
}

// Appends or prepends j to i by join kind; returns i's new border-end bits.
uint8_t ApplyJoin(int kind, ContourLine& i, uint8_t i_border, const ContourLine& j, uint8_t j_border) {
  std::vector<ContourPoint>& p = i.points;
  const std::vector<ContourPoint>& q = j.points;
  const uint8_t j_first = j_border & 1;
  const uint8_t j_last = (j_border >> 1) & 1;
  switch (kind) {
    case 1:  // i's last meets j's first: j follows in its order
      p.insert(p.end(), q.begin(), q.end());
      return static_cast<uint8_t>((i_border & 1) | j_last << 1);
    case 2:  // i's last meets j's last: j follows reversed
      p.insert(p.end(), q.rbegin(), q.rend());
      return static_cast<uint8_t>((i_border & 1) | j_first << 1);
    case 3:  // i's first meets j's first: j, reversed, goes ahead of i
      p.insert(p.begin(), q.rbegin(), q.rend());
      return static_cast<uint8_t>((i_border & 2) | j_last);
    default:  // i's first meets j's last: j, in its order, goes ahead of i
      p.insert(p.begin(), q.begin(), q.end());
      return static_cast<uint8_t>((i_border & 2) | j_first);
  }
}

// Line ends of the open lines, bucketed in square cells of at least the join distance, so that
// every end within that distance of a point lies in the point's cell or one of its 8 neighbours.
class EndBuckets {
 public:
  void Build(const std::vector<ContourPoint>& points, const std::vector<uint32_t>& owners) {
    if (points.empty()) return;
    min_x_ = max_x_ = points[0].x;
    min_y_ = max_y_ = points[0].y;
    for (const ContourPoint& p : points) {
      min_x_ = std::min(min_x_, static_cast<double>(p.x));
      max_x_ = std::max(max_x_, static_cast<double>(p.x));
      min_y_ = std::min(min_y_, static_cast<double>(p.y));
      max_y_ = std::max(max_y_, static_cast<double>(p.y));
    }
    // Cells grow past the join distance only when the ends are sparse over a wide area, to keep
    // the bucket array in proportion to the number of ends.
    cell_ = kJoinDistance;
    const double limit = 4.0 * static_cast<double>(points.size()) + 4096;
    double w = std::floor((max_x_ - min_x_) / cell_) + 1;
    double h = std::floor((max_y_ - min_y_) / cell_) + 1;
    while (w * h > limit) {
      cell_ *= 2;
      w = std::floor((max_x_ - min_x_) / cell_) + 1;
      h = std::floor((max_y_ - min_y_) / cell_) + 1;
    }
    width_ = static_cast<size_t>(w);
    height_ = static_cast<size_t>(h);
    offsets_.assign(width_ * height_ + 1, 0);
    std::vector<size_t> cell_of(points.size());
    for (size_t k = 0; k < points.size(); ++k) {
      cell_of[k] = CellIndex(points[k]);
      ++offsets_[cell_of[k] + 1];
    }
    for (size_t c = 0; c < width_ * height_; ++c) offsets_[c + 1] += offsets_[c];
    entries_.resize(points.size());
    std::vector<size_t> fill(offsets_.begin(), offsets_.end() - 1);
    for (size_t k = 0; k < points.size(); ++k) entries_[fill[cell_of[k]]++] = owners[k];
  }

  // Calls fn(line) for every end bucketed in the 3 x 3 cells around p.
  template <typename Fn>
  void ForEachNear(const ContourPoint& p, Fn&& fn) const {
    if (entries_.empty() || !std::isfinite(p.x) || !std::isfinite(p.y)) return;
    const double fx = std::floor((p.x - min_x_) / cell_);
    const double fy = std::floor((p.y - min_y_) / cell_);
    // Farther than one cell outside the buckets: nothing can be near.
    if (fx < -1 || fy < -1 || fx > static_cast<double>(width_) || fy > static_cast<double>(height_)) return;
    const long long cx = static_cast<long long>(fx);
    const long long cy = static_cast<long long>(fy);
    for (long long y = cy - 1; y <= cy + 1; ++y) {
      if (y < 0 || y >= static_cast<long long>(height_)) continue;
      for (long long x = cx - 1; x <= cx + 1; ++x) {
        if (x < 0 || x >= static_cast<long long>(width_)) continue;
        size_t cell = static_cast<size_t>(y) * width_ + static_cast<size_t>(x);
        for (size_t e = offsets_[cell]; e < offsets_[cell + 1]; ++e) fn(entries_[e]);
      }
    }
  }

 private:
  size_t CellIndex(const ContourPoint& p) const {
    size_t x = std::min(static_cast<size_t>((p.x - min_x_) / cell_), width_ - 1);
    size_t y = std::min(static_cast<size_t>((p.y - min_y_) / cell_), height_ - 1);
    return y * width_ + x;
  }

  double min_x_ = 0, max_x_ = 0, min_y_ = 0, max_y_ = 0;
  double cell_ = kJoinDistance;
  size_t width_ = 0, height_ = 0;
  std::vector<size_t> offsets_;
  std::vector<uint32_t> entries_;
};

}  // namespace

void JoinContourFragments(std::vector<std::unique_ptr<ContourLine>>& lines, size_t first,
                       std::vector<uint8_t>& border_ends) {
  if (first > lines.size()) return;
  const size_t n = lines.size() - first;
  if (border_ends.size() != n) border_ends.assign(n, 0);
  if (n < 2) return;
  auto line = [&](size_t k) -> ContourLine& { return *lines[first + k]; };

  // Later lines are only ever removed, never changed, while an earlier one is being extended, so
  // the ends of the open lines can be bucketed once up front. Empty lines take no part, nor do
  // ends that are not finite (no distance to them is below anything).
  std::vector<ContourPoint> end_points;
  std::vector<uint32_t> end_owners;
  auto finite = [](const ContourPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y); };
  for (size_t k = 0; k < n; ++k) {
    const ContourLine& l = line(k);
    if (l.points.empty() || l.points.front() == l.points.back()) continue;
    if (!(border_ends[k] & 1) && finite(l.points.front())) {
      end_points.push_back(l.points.front());
      end_owners.push_back(static_cast<uint32_t>(k));
    }
    if (!(border_ends[k] & 2) && finite(l.points.back())) {
      end_points.push_back(l.points.back());
      end_owners.push_back(static_cast<uint32_t>(k));
    }
  }
  EndBuckets buckets;
  buckets.Build(end_points, end_owners);

  std::vector<uint8_t> alive(n, 1);
  size_t last_alive = n - 1;
  size_t i = 0;
  while (i < last_alive) {
    ContourLine& li = line(i);
    bool joined = false;
    if (!li.points.empty() && !(li.points.front() == li.points.back())) {
      // The lowest-numbered later line that any of the four joins fits is the one taken.
      size_t best = n;
      int best_kind = 0;
      auto consider = [&](uint32_t j) {
        if (j <= i || j >= best || !alive[j]) return;
        int kind = JoinKind(li, border_ends[i], line(j), border_ends[j]);
        if (kind != 0) {
          best = j;
          best_kind = kind;
        }
      };
      if (!(border_ends[i] & 2)) buckets.ForEachNear(li.points.back(), consider);
      if (!(border_ends[i] & 1)) buckets.ForEachNear(li.points.front(), consider);
      if (best < n) {
        border_ends[i] = ApplyJoin(best_kind, li, border_ends[i], line(best), border_ends[best]);
        alive[best] = 0;
        lines[first + best].reset();
        while (last_alive > i && !alive[last_alive]) --last_alive;
        joined = true;
      }
    }
    if (!li.points.empty() && !(border_ends[i] & 3) &&
        Distance(li.points.front(), li.points.back()) < kCloseDistance) {
      // Closed, also when the ends already coincide: the first point is repeated once more.
      li.points.push_back(li.points.front());
    } else if (joined) {
      continue;
    }
    do {
      ++i;
    } while (i < n && !alive[i]);
  }

  size_t out = 0;
  for (size_t k = 0; k < n; ++k) {
    if (!alive[k]) continue;
    lines[first + out] = std::move(lines[first + k]);
    border_ends[out] = border_ends[k];
    ++out;
  }
  lines.resize(first + out);
  border_ends.resize(out);
}

CContourGrid::CContourGrid() = default;

bool CContourGrid::Allocate(int nx, int ny) {
  FreeLines();
  FreeGrid();
  if (nx < 0 || ny < 0) return false;
  size_t nodes = static_cast<size_t>(nx) * static_cast<size_t>(ny);
  if (nodes > kMaxContourGridNodes) return false;
  try {
    values_.assign(nodes, 0.0f);
    positions_.assign(nodes, ContourPoint{});
  } catch (const std::bad_alloc&) {
    FreeGrid();
    return false;
  }
  nx_ = nx;
  ny_ = ny;
  return true;
}

void CContourGrid::FreeGrid() {
  std::vector<float>().swap(values_);
  std::vector<ContourPoint>().swap(positions_);
  std::vector<uint8_t>().swap(hflag_);
  std::vector<uint8_t>().swap(vflag_);
  nx_ = 0;
  ny_ = 0;
}

void CContourGrid::Smooth() {
  for (int r = 1; r + 1 < ny_; ++r) {
    float* below = Row(r - 1);
    float* row = Row(r);
    float* above = Row(r + 1);
    for (int c = 1; c + 1 < nx_; ++c) {
      // A node without data, or one beside it, keeps its value: the hole neither grows nor
      // pulls its neighbours towards NaN.
      bool hole = false;
      for (int k = -1; k <= 1; ++k) hole |= std::isnan(below[c + k]) || std::isnan(row[c + k]) || std::isnan(above[c + k]);
      if (hole) continue;
      double corners = static_cast<double>(below[c - 1]) + below[c + 1] + above[c - 1] + above[c + 1];
      double sides = static_cast<double>(below[c]) + above[c] + row[c - 1] + row[c + 1];
      row[c] = static_cast<float>((corners + 2.0 * sides + 4.0 * row[c]) * 0.0625);
    }
  }
}

bool CContourGrid::InGrid(const Edge& e) const {
  if (e.row < 0 || e.col < 0) return false;
  return e.horizontal ? (e.row < ny_ && e.col < nx_ - 1) : (e.row < ny_ - 1 && e.col < nx_);
}

bool CContourGrid::NoDataBeside(const Edge& e) const {
  auto hole = [this](int row, int col) {
    return row >= 0 && col >= 0 && row < ny_ && col < nx_ && std::isnan(Value(row, col));
  };
  if (e.horizontal) {
    return hole(e.row - 1, e.col) || hole(e.row - 1, e.col + 1) || hole(e.row + 1, e.col) || hole(e.row + 1, e.col + 1);
  }
  return hole(e.row, e.col - 1) || hole(e.row + 1, e.col - 1) || hole(e.row, e.col + 1) || hole(e.row + 1, e.col + 1);
}

bool CContourGrid::Crossing(const Edge& e, float level, ContourPoint* point) const {
  const float a = Value(e.row, e.col);
  const float b = e.horizontal ? Value(e.row, e.col + 1) : Value(e.row + 1, e.col);
  // A node equal to the level counts as above it (NaN as below, and its edges never cross), so a
  // level equal to a node value keeps its own value.
  if (std::isnan(a) || std::isnan(b) || (a >= level) == (b >= level)) return false;
  double t = (static_cast<double>(level) - a) / (static_cast<double>(b) - a);
  if (e.horizontal) {
    *point = {static_cast<float>(e.col + t), static_cast<float>(e.row)};
  } else {
    *point = {static_cast<float>(e.col), static_cast<float>(e.row + t)};
  }
  return true;
}

ContourLine* CContourGrid::StartLine(const Edge& start, float level, bool start_on_border) {
  ContourPoint p;
  Crossing(start, level, &p);
  Flag(start) = 1;
  lines_.push_back(std::make_unique<ContourLine>());
  ContourLine* line = lines_.back().get();
  line->level = level;
  line->points.push_back(p);
  border_ends_.push_back(start_on_border || NoDataBeside(start) ? 1 : 0);
  Follow(line, start, level);
  return line;
}

void CContourGrid::Follow(ContourLine* line, Edge cur, float level) {
  // Candidates from the current edge: the three other edges of the cell on one side and of the
  // cell on the other, the edge straight across each cell at indices 1 and 4.
  static constexpr struct {
    int dr;
    int dc;
    bool horizontal;
  } kFromHorizontal[6] = {{-1, 0, false}, {-1, 0, true}, {-1, 1, false}, {0, 1, false}, {1, 0, true}, {0, 0, false}},
    kFromVertical[6] = {{0, 0, true}, {0, 1, false}, {1, 0, true}, {1, -1, true}, {0, -1, false}, {0, -1, true}};
  // Every step flags the edge it moves to, which was clear, so a walk ends within the number of
  // edges.
  for (;;) {
    const auto& table = cur.horizontal ? kFromHorizontal : kFromVertical;
    const ContourPoint last = line->points.back();
    Edge edges[6];
    ContourPoint points[6];
    double distance[6];
    bool crosses[6];
    for (int k = 0; k < 6; ++k) {
      edges[k] = {cur.row + table[k].dr, cur.col + table[k].dc, table[k].horizontal};
      crosses[k] = InGrid(edges[k]) && !Flag(edges[k]) && Crossing(edges[k], level, &points[k]);
      if (crosses[k]) {
        // Crossings seen but not taken are used up as well; the fragments this leaves are joined
        // again after the level.
        Flag(edges[k]) = 1;
        distance[k] = Distance(points[k], last);
      }
    }
    // The nearest crossing on a side edge wins; the edges straight across only when no side edge
    // has one. Ties keep the lower index.
    int best = -1;
    for (int k : {0, 2, 3, 5}) {
      if (crosses[k] && (best < 0 || distance[k] < distance[best])) best = k;
    }
    if (best < 0) {
      for (int k : {1, 4}) {
        if (crosses[k] && (best < 0 || distance[k] < distance[best])) best = k;
      }
    }
    if (best < 0) break;
    // Through a node equal to the level two crossings share a point; it is kept once.
    if (!(points[best] == last)) line->points.push_back(points[best]);
    cur = edges[best];
  }
  const bool end_on_border = cur.horizontal ? (cur.row == 0 || cur.row == ny_ - 1) : (cur.col == 0 || cur.col == nx_ - 1);
  // A line that stops at a node without data ends there as it would at the border.
  if (end_on_border || NoDataBeside(cur)) border_ends_.back() |= 2;
}

void CContourGrid::TraceLevel(float level) {
  std::fill(hflag_.begin(), hflag_.end(), 0);
  std::fill(vflag_.begin(), vflag_.end(), 0);
  const size_t first = lines_.size();
  border_ends_.clear();
  ContourPoint unused;
  for (int row : {0, ny_ - 1}) {
    for (int c = 0; c + 1 < nx_; ++c) {
      Edge e{row, c, true};
      if (!Flag(e) && Crossing(e, level, &unused)) StartLine(e, level, true);
    }
  }
  for (int col : {0, nx_ - 1}) {
    for (int r = 0; r + 1 < ny_; ++r) {
      Edge e{r, col, false};
      if (!Flag(e) && Crossing(e, level, &unused)) StartLine(e, level, true);
    }
  }
  for (int r = 1; r + 1 < ny_; ++r) {
    const uint8_t* flags = &hflag_[static_cast<size_t>(r) * (nx_ - 1)];
    const float* v = Row(r);
    for (int c = 0; c + 1 < nx_; ++c) {
      if (flags[c] || (v[c] >= level) == (v[c + 1] >= level)) continue;
      Edge e{r, c, true};
      if (!Crossing(e, level, &unused)) continue;
      ContourLine* line = StartLine(e, level, false);
      // A walk from inside that came back near its start is a ring; the walk itself stops one
      // crossing short (the start used up the crossings around it).
      std::vector<ContourPoint>& p = line->points;
      if (!(border_ends_.back() & 2) && p.size() >= 4 && Distance(p.front(), p.back()) < kCloseDistance) {
        p.push_back(p.front());
      }
    }
  }
  JoinContourFragments(lines_, first, border_ends_);
}

ContourStatus CContourGrid::Compute(int interval) {
  if (interval < 1) return ContourStatus::kBadInterval;
  std::vector<float> levels;
  ContourStatus status = ComputeContourLevels(lowest_, highest_, interval, &levels);
  if (status != ContourStatus::kOk) return status;
  FreeLines();
  interval_ = interval;
  if (nx_ < 2 || ny_ < 2) return ContourStatus::kOk;
  try {
    hflag_.assign(static_cast<size_t>(ny_) * (nx_ - 1), 0);
    vflag_.assign(static_cast<size_t>(ny_ - 1) * nx_, 0);
    line_ends_.clear();
    for (float level : levels) {
      TraceLevel(level);
      line_ends_.insert(line_ends_.end(), border_ends_.begin(), border_ends_.end());
    }
  } catch (const std::bad_alloc&) {
    FreeLines();
    return ContourStatus::kOutOfMemory;
  }
  // Keep lines of more than the minimum point count that reach the border (by a margin of one
  // cell) or whose ends line up: closed rings and the lines that leave the grid.
  const float right = static_cast<float>(nx_ - 2);
  const float top = static_cast<float>(ny_ - 2);
  auto on_border = [&](const ContourPoint& p) { return p.x <= 0 || p.x >= right || p.y <= 0 || p.y >= top; };
  // Lines that end at a hole in the data are kept as those that leave the grid.
  size_t out = 0;
  for (size_t k = 0; k < lines_.size(); ++k) {
    const std::vector<ContourPoint>& p = lines_[k]->points;
    const bool hole_end = k < line_ends_.size() && line_ends_[k] != 0;
    const bool keep = p.size() > static_cast<size_t>(min_points_) &&
                      (hole_end || on_border(p.front()) || on_border(p.back()) || p.front().x == p.back().x ||
                       p.front().y == p.back().y);
    if (keep) lines_[out++] = std::move(lines_[k]);
  }
  lines_.resize(out);
  line_ends_.clear();
  return ContourStatus::kOk;
}

}  // namespace velmora
