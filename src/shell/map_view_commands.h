// The main frame's map commands: the map tools (browse, box, free region), which the current
// view takes through its own command map (a view without them greys them), and the "视图/地图源"
// submenu: one item per map source of the catalogue (geocoders left out), grouped by provider,
// which sets the 2D view's base map.
#pragma once
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

// Ids of the source items: kSourceCommandFirst + the source's place in the catalogue.
inline constexpr UINT kSourceCommandFirst = 0x9000;
inline constexpr UINT kSourceCommandLast = 0x9FFF;
// The menu the source items live under.
inline constexpr const char kSourceMenu[] = "视图/地图源";

// Registers the tools and, when the catalogue is loaded, one item per map source; an id that a
// module registered already keeps the module's entry. Returns the ids registered here, which
// UnregisterMapViewCommands removes again.
std::vector<UINT> RegisterMapViewCommands();
void UnregisterMapViewCommands(const std::vector<UINT>& ids);

class CPDView;
// The 2D map view when it is the application's current view, else null (the commands that work
// on the map the user looks at are greyed otherwise).
CPDView* ShownMapView();
// Makes the 2D map view the current view and returns it (null without an application or a 2D
// view).
CPDView* SwitchToMapView();

}  // namespace velmora
