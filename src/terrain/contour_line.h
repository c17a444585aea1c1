// Contour line records shared by the two contour tracers and their users: one line of one level,
// the owning list of the lines of one level and the set of level lists, plus the status codes and
// limits of contouring.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

namespace velmora {

// A line vertex: grid units (column, row) for the grid tracer, world x and y for the tracer of
// the elevation grid panel.
struct ContourPoint {
  float x = 0;
  float y = 0;
  friend bool operator==(const ContourPoint&, const ContourPoint&) = default;
};

struct ContourLine {
  float level = 0;
  std::vector<ContourPoint> points;
};

// Why a contour run produced nothing. Every failure leaves the lines of the previous run as they
// were; the caller shows its own message.
enum class ContourStatus {
  kOk,
  kBadInterval,      // interval not a positive finite number, or a range that is not finite
  kIntervalTooFine,  // two consecutive levels round to the same 32-bit float
  kTooManyLevels,    // more than kMaxContourLevels levels
  kOutOfMemory,      // the lines did not fit in memory
};

// Upper bound on the levels of one run. Earth's whole relief at a 0.25 m interval stays below it;
// anything beyond comes from a mistyped interval or garbage heights and would only exhaust memory
// and time.
inline constexpr size_t kMaxContourLevels = 100000;

// Upper bound on the nodes of a contour grid (values plus crossing arrays stay below 3 GB).
inline constexpr size_t kMaxContourGridNodes = size_t{1} << 28;

// The lines of one level, in the order they were traced. Owns its lines; their addresses stay
// fixed while the list lives (display records point at them).
class CContourLineList {
 public:
  // Appends a new empty line of the given level and returns it.
  ContourLine* AddLine(float level);
  void AddTail(std::unique_ptr<ContourLine> line);
  void RemoveAll() { lines_.clear(); }

  size_t GetCount() const { return lines_.size(); }
  bool IsEmpty() const { return lines_.empty(); }
  ContourLine& operator[](size_t i) { return *lines_[i]; }
  const ContourLine& operator[](size_t i) const { return *lines_[i]; }

  // Iteration over the owned lines (as unique_ptr).
  auto begin() { return lines_.begin(); }
  auto end() { return lines_.end(); }
  auto begin() const { return lines_.begin(); }
  auto end() const { return lines_.end(); }

 private:
  std::vector<std::unique_ptr<ContourLine>> lines_;
};

// One list per traced level, in ascending level order. Owns its lists.
class CContourLineSet {
 public:
  CContourLineList* Add();
  void RemoveAll() { lists_.clear(); }

  size_t GetSize() const { return lists_.size(); }
  bool IsEmpty() const { return lists_.empty(); }
  CContourLineList& operator[](size_t i) { return *lists_[i]; }
  const CContourLineList& operator[](size_t i) const { return *lists_[i]; }
  // The total number of lines over all levels.
  size_t LineCount() const;

  auto begin() { return lists_.begin(); }
  auto end() { return lists_.end(); }
  auto begin() const { return lists_.begin(); }
  auto end() const { return lists_.end(); }

 private:
  std::vector<std::unique_ptr<CContourLineList>> lists_;
};

// Contour levels start, start + interval, ... while below `stop`, each computed as
// start + k * interval in double and held as a 32-bit float. Fails (levels untouched) when the
// interval or the range is not finite and positive, when the count would pass kMaxContourLevels
// or when two consecutive levels round to the same float.
ContourStatus ComputeContourLevels(double start, double stop, double interval, std::vector<float>* levels);

}  // namespace velmora
