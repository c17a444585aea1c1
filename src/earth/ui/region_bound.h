// The plug-in view's region overlay and region command. The overlay is one placemark among the
// plug-in's top-level features, named "$$region_bound$", whose polygon's outer ring holds the
// region's four corners at altitude 0, drawn as an opaque green outline without fill; it is made
// with the plug-in's KML object calls (the page's KML object bridge, data/earth/region_bound.js),
// replaced in place when shown again and removed for a region of left = FLT_MAX. The region
// command writes the view's free region as "region_bound.kml", opens it in the plug-in and hands
// the region's closed pixel ring to the elevation extraction over the view's screen.
#pragma once
#include <functional>
#include <memory>
#include <string>

namespace velmora {

class CEarthPluginObject;
class CGEPluginCtrl;
class CRegionShape;

inline constexpr char kRegionBoundName[] = "$$region_bound$";
inline constexpr char kRegionBoundColor[] = "ff00ff00";
inline constexpr char kRegionBoundFile[] = "region_bound.kml";
// The operation name of the overlay's failure traces.
inline constexpr char kRegionBoundTraceName[] = "OpenKmz Error";

// Shows the region (longitudes left and right, latitudes top and bottom, degrees) as the overlay,
// replacing the ring of an overlay shown before, or removes the overlay when left is FLT_MAX.
// Nothing without a plug-in object. Runs on the user-interface thread; `done` hears later whether
// every call succeeded. A failed call ends the operation and is traced as
// "%s [0x%08x], [%s], %s" with "OpenKmz Error" to `trace`.
void ShowRegionBound(const std::shared_ptr<CEarthPluginObject>& plugin, float left, float top, float right,
                     float bottom, std::function<void(const std::string&)> trace = {},
                     std::function<void(bool)> done = {});

// The region command's update handler: the contour method of the elevation options (combo 1210)
// is not the built-in one and a free region of more than one point exists.
bool RegionBoundEnabled(const CRegionShape* region);

// The region command: "region_bound.kml" in the data folder with the region's placemark, opened
// in the plug-in (skipped when the file cannot be made); the region's pixel ring closed and handed
// to the elevation extraction over the controller's screen; the free region deleted. False when
// there is no region or nothing was opened for the extraction.
bool RunRegionBound(CGEPluginCtrl& ctrl, std::unique_ptr<CRegionShape>& region);

}  // namespace velmora
