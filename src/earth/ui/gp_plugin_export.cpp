// The plug-in controller's calls for the snapshot export.
#include "earth/ui/gp_plugin_export.h"

#include "earth/ui/ge_plugin_ctrl.h"
#include "platform/gfx/bitmap.h"

namespace velmora {

bool CGpPluginExport::PushCamera() { return ctrl_.PushCamera(nullptr); }
bool CGpPluginExport::PopCamera() { return ctrl_.PopCamera(nullptr); }
bool CGpPluginExport::SetCameraParam(double lng, double lat, double altitude) {
  return ctrl_.SetCameraParam(lng, lat, altitude, 0, quit_.load());
}
bool CGpPluginExport::MoveLT(double lng, double lat) { return ctrl_.MoveLT(lng, lat, 0, quit_.load()); }
bool CGpPluginExport::GetCaptureBounds(double* left, double* top, double* right, double* bottom) {
  return ctrl_.GetCaptureBounds(left, top, right, bottom, quit_.load());
}
bool CGpPluginExport::GetCoordByPos(int x, int y, double out[3]) { return ctrl_.GetCoordByPos(x, y, out, quit_.load()); }
double CGpPluginExport::GetStreamingPercent() { return ctrl_.GetStreamingPercent(quit_.load()); }
bool CGpPluginExport::SetTerrainLayer(bool on) { return ctrl_.SetTerrainLayer(on, nullptr); }
bool CGpPluginExport::TerrainLayerOn() { return (ctrl_.LayerFlags() & kGELayerTerrain) != 0; }
bool CGpPluginExport::GetRenderSize(int* width, int* height) { return ctrl_.RenderSize(width, height); }
std::unique_ptr<CBitmap> CGpPluginExport::CaptureRender() { return ctrl_.CaptureRender(quit_.load()); }
void CGpPluginExport::ResetViewChange() { ctrl_.ViewChangeEvent().Reset(); }
bool CGpPluginExport::WaitViewChange(Event& quit, unsigned timeout_ms) {
  const uint64_t end = TickCount64() + timeout_ms;
  while (!quit.IsSet()) {
    if (ctrl_.ViewChangeEvent().Wait(1)) return true;
    if (TickCount64() >= end) return false;
  }
  return false;
}

}  // namespace velmora
