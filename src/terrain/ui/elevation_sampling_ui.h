// Sampling elevations for a window: in the height-file modes the sampler runs at once on the
// user-interface thread (millions of look-ups a second); in the web modes, where every point is a
// request that may take seconds, it runs on a worker behind the shared progress dialog, whose
// Cancel stops it within one request (the quit flag reaches the HTTP transfer).
#pragma once
#include <functional>
#include <string>

#include "terrain/elevation_profile.h"

namespace velmora {

class CWnd;

// True for the source modes that ask the web elevation service (3, 4 and 5).
bool IsWebElevationMode(int mode);

// Runs `sample` with a control that carries the quit flag and the progress in the web modes (the
// mode of the options), directly otherwise. True when the sampler returned true and was not
// cancelled.
bool RunElevationSampling(const std::string& title, CWnd* parent, const std::function<bool(const SampleControl&)>& sample);

// The sampling resolution of the current 2D map view (ProfileResolution of its zoom); 1 (the
// finest) when there is no map view.
int CurrentMapResolution();

}  // namespace velmora
