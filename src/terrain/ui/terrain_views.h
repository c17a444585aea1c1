// The terrain module's views in the application: the 3D tile view (view kind 2) in the view
// registry, its command in the "视图" menu (which hands it the camera of the view shown before),
// and the fill-mode commands of the 3D views. src/app calls RegisterTerrainViews before the
// start-up.
#pragma once

namespace velmora {

class CKovraHomeExApp;
class IChildView;

// The menu text of the switch to the 3D tile view.
inline constexpr const char k3DTileViewCommandText[] = "三维瓦片视图";

// Registers the view factory and a frame step that adds the commands once the main frame exists
// (and removes them before it goes).
void RegisterTerrainViews(CKovraHomeExApp& app);

// Shows the 3D tile view (made on first use) and gives it the camera of the view shown before
// (IChildView slot 7), or the child views' default camera when there was none and the view has
// no camera yet. Null when the view cannot be made; the current view then stays.
IChildView* SwitchTo3DTileView(CKovraHomeExApp& app);

}  // namespace velmora
