// The 2D map view of the map information tools.
#include "places/ui/map_tool_views.h"

#include "shell/kovra_home_ex_app.h"
#include "view/child_view.h"
#include "view/pd_view.h"

namespace velmora {

CPDView* MapToolView() {
  CKovraHomeExApp* app = GetApp();
  if (!app) return nullptr;
  return dynamic_cast<CPDView*>(app->FindView(kViewMap2D));
}

}  // namespace velmora
