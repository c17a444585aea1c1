// HeightToColor: the altitude colour ramp shared by the profile chart, the terrain model and the
// elevation grid: water in pale cyan, lowland green, then yellow and brown up to grey peaks.
#pragma once
#include <cstdint>

namespace velmora {

struct RgbColor {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const RgbColor&) const = default;
};

// Table indexes of the ramp: -24 (water) to 196 (grey), 0 being the colour of sea level and of
// "no data".
inline constexpr int kHeightColorFirst = -24;
inline constexpr int kHeightColorLast = 196;

// The colour of a height in metres. Returned by value: every caller owns its colour, so that
// threads colouring at once never share one entry.
RgbColor HeightToColor(float height);

// The table entry at an index (clamped to kHeightColorFirst..kHeightColorLast).
RgbColor HeightColorEntry(int index);

}  // namespace velmora
