// An earth view's screen for the elevation tools' screen mode: its pixels map linearly onto
// 116-117 E, 40-39 N over 1000 x 1000 pixels, the altitude is 100 + x, and it counts the calls a
// worker makes, as a view that marshals them would see them.
#pragma once
#include <atomic>
#include <string>

#include "tiles/screen_terrain_source.h"

namespace velmora::test {

class CountingScreen : public IScreenTerrainSource {
 public:
  bool GetClientSize(int* w, int* h) override {
    *w = *h = 1000;
    return true;
  }
  bool ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) override {
    ++asked;
    *lng = 116 + x / 1000;
    *lat = 40 - y / 1000;
    *alt = 100 + x;
    return true;
  }
  bool PrepareTerrain(Event*) override { return ++prepared > 0; }
  void FinishTerrain() override { ++finished; }
  bool OpenKmlFile(const std::string&) override { return false; }
  std::atomic<int> asked{0}, prepared{0}, finished{0};
};

}  // namespace velmora::test
