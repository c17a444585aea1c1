// The 2D map view that the map information tools (bus lines, boundaries, weather) draw on: the
// application's view of kind 0, or null when it has none yet.
#pragma once

namespace velmora {

class CPDView;

CPDView* MapToolView();

}  // namespace velmora
