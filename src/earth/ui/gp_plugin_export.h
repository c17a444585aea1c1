// CGpPluginExport: the plug-in controller as the snapshot export's plug-in (IGpExportPlugin).
// Every call is the controller's marshalled call from the worker; the waits of the moves, hit
// tests, captures and streaming polls end on the job's quit request, while the camera and
// terrain switches (which a stopped job still makes to put things back) end on their time-out
// only.
#pragma once
#include <atomic>

#include "earth/gp_export_job.h"

namespace velmora {

class CGEPluginCtrl;

class CGpPluginExport : public IGpExportPlugin {
 public:
  explicit CGpPluginExport(CGEPluginCtrl& ctrl) : ctrl_(ctrl) {}
  void SetQuitRequest(const Event* quit) override { quit_ = quit; }
  bool PushCamera() override;
  bool PopCamera() override;
  bool SetCameraParam(double lng, double lat, double altitude) override;
  bool MoveLT(double lng, double lat) override;
  bool GetCaptureBounds(double* left, double* top, double* right, double* bottom) override;
  bool GetCoordByPos(int x, int y, double out[3]) override;
  double GetStreamingPercent() override;
  bool SetTerrainLayer(bool on) override;
  bool TerrainLayerOn() override;
  bool GetRenderSize(int* width, int* height) override;
  std::unique_ptr<CBitmap> CaptureRender() override;
  void ResetViewChange() override;
  bool WaitViewChange(Event& quit, unsigned timeout_ms) override;

 private:
  CGEPluginCtrl& ctrl_;
  std::atomic<const Event*> quit_{nullptr};
};

}  // namespace velmora
