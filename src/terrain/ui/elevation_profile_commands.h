// The commands of the profile and contour windows in the application: the 2D map view's contour
// command (32711, "工具" menu), which opens the contour dialog for the view's box, and the
// height profile of the line selected on the 2D map (ID_ELEV_PROFILE, "工具" menu), which opens
// the profile window. Both windows are made on first use and live until the frame goes.
#pragma once
#include "platform/ui/ui_types.h"

namespace velmora {

class CKovraHomeExApp;
class CMapShape;
class CPDView;

// The profile window's command (the object list that opened it in the original is not built).
inline constexpr UINT ID_ELEV_PROFILE = 0x8E52;

// Registers a frame step that adds the two commands once the main frame exists and removes them,
// and closes the two windows, before it goes.
void RegisterElevationProfileCommands(CKovraHomeExApp& app);

// The 2D map view's contour command: the program's contour dialog for the view, shown modeless.
void OnContour(CPDView* view);
// The program's profile window for a line of the map; false when the shape is no line.
bool ShowElevationProfile(const CMapShape& shape);
// Closes and frees the two windows (the frame step does it before the frame goes).
void CloseElevationProfileWindows();

}  // namespace velmora
