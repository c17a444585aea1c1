// The current 2D map view as the rest of the program reads it.
#include "tiles/map_view_state.h"

#include <atomic>

namespace velmora {

namespace {
std::atomic<IMapViewState*> g_current{nullptr};
}  // namespace

IMapViewState* CurrentMapView() { return g_current.load(std::memory_order_acquire); }
void SetCurrentMapView(IMapViewState* view) { g_current.store(view, std::memory_order_release); }

}  // namespace velmora
