// Helpers of the places tests: the recorded replies in tests/places/replies, and a map view
// stand-in with a set camera and view box for the requests that read the current view.
#pragma once
#include "velmora_build_paths.h"
#include <string>

#include "support/temp_dir.h"
#include "tiles/map_view_state.h"

namespace velmora::test {

// The bytes of a recorded reply, e.g. Recorded("geocoder_qingdao.json").
inline std::string Recorded(const std::string& name) {
  return ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/replies/" + name);
}

class TestMapView : public IMapViewState {
 public:
  TestMapView() { SetCurrentMapView(this); }
  ~TestMapView() override { SetCurrentMapView(nullptr); }
  TestMapView(const TestMapView&) = delete;
  TestMapView& operator=(const TestMapView&) = delete;

  MapCamera GetCamera() const override { return camera; }
  void GetViewBounds(float top_left[2], float bottom_right[2]) const override {
    top_left[0] = west;
    top_left[1] = north;
    bottom_right[0] = east;
    bottom_right[1] = south;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }

  MapCamera camera;
  float west = 120.0f, north = 36.5f, east = 120.5f, south = 36.0f;
};

}  // namespace velmora::test
