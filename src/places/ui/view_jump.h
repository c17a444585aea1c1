// Moving the application's current view to a place found by a search: the search box, the local
// address search dialog and the place-name tree share it.
#pragma once

namespace velmora {

// Centres the current child view on (lng, lat) at `zoom`, pushing the position on the view
// history. A zoom of 0 (or one that is not a finite positive number) means that no zoom is
// known: the view keeps its own. False when there is no current view or the position is not a
// finite longitude and latitude.
bool JumpCurrentView(double lng, double lat, double zoom);

}  // namespace velmora
