// What the rest of the program may read of the current 2D map view without depending on its
// window: the camera, the bounds on screen and the layer list. The 2D view publishes itself here
// when it is created; place search, region tasks, exports and the 3D views read through it.
#pragma once
#include <vector>

namespace velmora {

// The 2D view's camera: centre, fractional zoom, window size in pixels and the projection kind
// of its base source.
struct MapCamera {
  double lng = 120.0;
  double lat = 36.0;
  double zoom = 10.0;
  int width = 0;
  int height = 0;
  int kind = 1;
};

// One layer of the map view: the map source it shows (its id gives the catalogue record, which
// gives the projection kind), whether it is shown and its opacity (0-1).
struct MapLayer {
  int source_id = 0;
  int kind = 1;
  bool visible = true;
  float opacity = 1.0f;
};

class IMapViewState {
 public:
  virtual ~IMapViewState() = default;
  // A consistent copy of the camera (thread-safe).
  virtual MapCamera GetCamera() const = 0;
  // Longitude and latitude of the window's top-left (0, 0) and bottom-right (width, height)
  // pixels (thread-safe).
  virtual void GetViewBounds(float top_left[2], float bottom_right[2]) const = 0;
  // Copies of the view's layers, base layer first (thread-safe).
  virtual std::vector<MapLayer> CopyLayerList() const = 0;
};

// The current 2D map view, or null before it exists. Set on the user-interface thread; the view
// clears it before it is destroyed.
IMapViewState* CurrentMapView();
void SetCurrentMapView(IMapViewState* view);

}  // namespace velmora
