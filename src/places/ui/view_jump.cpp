// The jump of the current view to a found place.
#include "places/ui/view_jump.h"

#include <cmath>

#include "shell/kovra_home_ex_app.h"

namespace velmora {

bool JumpCurrentView(double lng, double lat, double zoom) {
  CKovraHomeExApp* app = GetApp();
  IChildView* view = app ? app->GetCurrentView() : nullptr;
  if (!view || !std::isfinite(lng) || !std::isfinite(lat) || std::fabs(lng) > 180 || std::fabs(lat) > 90) return false;
  if (!(std::isfinite(zoom) && zoom > 0)) {
    // "No zoom known": the view's own zoom, not the whole world a zoom of 0 would show.
    double level = 0;
    view->GetCamera(nullptr, nullptr, &level);
    zoom = level;
  }
  view->SetCamera(lng, lat, zoom, true);
  return true;
}

}  // namespace velmora
