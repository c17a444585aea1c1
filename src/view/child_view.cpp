// The shared parts of the child-view interface.
#include "view/child_view.h"

#include "platform/ui/window.h"

namespace velmora {

bool IChildView::CreateView(uint32_t style, CWnd* parent) {
  CWnd* window = GetWnd();
  if (!window) return false;
  if (window->IsWindow()) return true;
  return window->Create(parent, GetViewKind(), GetName(), style | WS_CHILD);
}

void IChildView::GetCamera(double* lng, double* lat, double* level) const {
  if (lng) *lng = kDefaultCameraLng;
  if (lat) *lat = kDefaultCameraLat;
  if (level) *level = kDefaultCameraLevel;
}

int IChildView::LoadShapes(std::vector<CMapShape*>&, bool) { return 0; }

}  // namespace velmora
