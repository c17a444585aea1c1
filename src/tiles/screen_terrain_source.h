// IScreenTerrainSource: what the elevation tools may ask of a view that shows the earth's terrain
// on screen (the two earth views): the render window's size, the terrain point under one of its
// pixels, terrain switched on for sampling and off again, and a KML file opened on the globe.
// The elevation grid panel samples a region drawn on such a view in its screen mode.
//
// Screen points are render-window pixels: (0, 0) is the top-left pixel of the window that shows
// the globe, x grows east on screen and y grows down. Every call may come from a worker thread;
// an implementation that must run on the user-interface thread marshals the call there (message
// 0x401) and waits without holding a lock; a view that is destroyed answers failure from then on.
#pragma once
#include <string>

namespace velmora {

class Event;

class IScreenTerrainSource {
 public:
  virtual ~IScreenTerrainSource() = default;
  // The render window's client size in pixels; false when the view has no window.
  virtual bool GetClientSize(int* width, int* height) = 0;
  // Longitude, latitude (degrees) and altitude (metres) of the terrain under the render-window
  // pixel (x, y); false when the pixel shows no globe or the view cannot answer.
  virtual bool ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) = 0;
  // Makes terrain available for sampling: switches it on and waits until the view has streamed
  // what it shows (progress 100). `stop` (may be null) ends the wait early. False when stopped,
  // timed out or failed. A view whose terrain is always on only waits.
  virtual bool PrepareTerrain(Event* stop) = 0;
  // Undoes PrepareTerrain (terrain off again where it was switched on; otherwise nothing).
  virtual void FinishTerrain() = 0;
  // Opens a KML file on the globe (contours written by the elevation tools); false on failure.
  virtual bool OpenKmlFile(const std::string& path) = 0;
};

}  // namespace velmora
