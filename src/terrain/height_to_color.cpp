// The altitude colour ramp: a 221-entry table built once from its anchor colours.
#include "terrain/height_to_color.h"

#include <array>
#include <cmath>

namespace velmora {
namespace {

constexpr int kTableSize = kHeightColorLast - kHeightColorFirst + 1;  // 221

struct Anchor {
  int index;
  uint8_t r, g, b;
};

// The colours the ramp passes through; the entries between two anchors are blended linearly.
constexpr Anchor kAnchors[] = {
    {-24, 182, 227, 230}, {-23, 163, 233, 245}, {-12, 162, 244, 255}, {-1, 185, 254, 207},  {0, 56, 123, 44},
    {1, 65, 128, 23},     {10, 64, 167, 60},    {34, 71, 255, 155},   {68, 243, 236, 0},    {102, 194, 158, 0},
    {136, 148, 83, 1},    {170, 156, 119, 90},  {195, 191, 191, 191}, {196, 191, 191, 191},
};

constexpr uint8_t Blend(int a, int b, int step, int steps) {
  // Rounded to the nearest byte: (a * (steps - step) + b * step) / steps.
  const int num = a * (steps - step) + b * step;
  return static_cast<uint8_t>((2 * num + steps) / (2 * steps));
}

constexpr std::array<RgbColor, kTableSize> BuildTable() {
  std::array<RgbColor, kTableSize> table{};
  for (size_t i = 0; i + 1 < std::size(kAnchors); ++i) {
    const Anchor& lo = kAnchors[i];
    const Anchor& hi = kAnchors[i + 1];
    const int steps = hi.index - lo.index;
    for (int s = 0; s <= steps; ++s) {
      table[lo.index - kHeightColorFirst + s] =
          RgbColor{Blend(lo.r, hi.r, s, steps), Blend(lo.g, hi.g, s, steps), Blend(lo.b, hi.b, s, steps)};
    }
  }
  return table;
}

constexpr std::array<RgbColor, kTableSize> kTable = BuildTable();

// Heights from 6670 m up are grey; the byte is clamped so that peaks above 8848 m stay white-grey
// instead of wrapping round to black.
RgbColor Grey(double height) {
  const double v = std::trunc((height - 6670.0) * 0.029385172 + 191.0);
  const uint8_t g = v >= 255.0 ? 255 : static_cast<uint8_t>(v);
  return RgbColor{g, g, g};
}

}  // namespace

RgbColor HeightColorEntry(int index) {
  if (index < kHeightColorFirst) index = kHeightColorFirst;
  if (index > kHeightColorLast) index = kHeightColorLast;
  return kTable[index - kHeightColorFirst];
}

RgbColor HeightToColor(float height) {
  // No data (-9999), sea level and values that are not numbers share the base entry.
  if (height == 0.0f || height == -9999.0f || std::isnan(height)) return HeightColorEntry(0);
  const double h = height;
  if (h < 0.0) {
    // From just below 0 m down to -392 m the formula runs from entry -23 to 0. Deeper water
    // would run back into the land colours: it keeps the last water entry instead.
    if (h < -392.0) return HeightColorEntry(-1);
    return HeightColorEntry(static_cast<int>(std::trunc((h + 392.0) * -0.06122449)));
  }
  if (h < 6670.0) return HeightColorEntry(static_cast<int>(std::trunc(h * 0.029385172)));
  return Grey(h);
}

}  // namespace velmora
