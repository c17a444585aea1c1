// The terrain module's views in the application: the 3D tile view (view kind 2) and the 3D globe
// view (view kind 1) in the view registry, their commands in the "视图" menu (the first takes the
// camera of the view shown before, the second rebuilds for the map's area), the fill-mode
// commands of the 3D views, and the satellite library panel "卫星库" in the side bar. src/app calls RegisterTerrainViews before the
// start-up.
#pragma once

namespace velmora {

class CKovraHomeExApp;
class IChildView;

// The menu text of the switch to the 3D tile view.
inline constexpr const char k3DTileViewCommandText[] = "三维瓦片视图";
// The menu text of the switch to the 3D globe view.
inline constexpr const char k3DGlobeCommandText[] = "三维地球";

// Registers the view factory and a frame step that adds the commands once the main frame exists
// (and removes them before it goes).
void RegisterTerrainViews(CKovraHomeExApp& app);

// Shows the 3D tile view (made on first use) and gives it the camera of the view shown before
// (IChildView slot 7), or the child views' default camera when there was none and the view has
// no camera yet. Null when the view cannot be made; the current view then stays.
IChildView* SwitchTo3DTileView(CKovraHomeExApp& app);

// Shows the 3D globe view (made on first use) and rebuilds it for the 2D map's area when it was
// not the view shown (IChildView slot 7). Null when the view cannot be made.
IChildView* SwitchTo3DGlobeView(CKovraHomeExApp& app);

}  // namespace velmora
