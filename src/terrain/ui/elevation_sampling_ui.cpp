// Elevation sampling on the user-interface thread or behind the progress dialog.
#include "terrain/ui/elevation_sampling_ui.h"

#include <atomic>

#include "core/settings.h"
#include "core/work_thread.h"
#include "shell/dlg_progress.h"
#include "shell/dlg_worker_base.h"
#include "terrain/elevation_store.h"
#include "tiles/map_view_state.h"

namespace velmora {

bool IsWebElevationMode(int mode) {
  return mode == kDemSourceGoogle || mode == kDemSourceSrtmThenGoogle || mode == kDemSourceGoogleThenSrtm;
}

bool RunElevationSampling(const std::string& title, CWnd* parent,
                          const std::function<bool(const SampleControl&)>& sample) {
  if (!IsWebElevationMode(AppOptions().dem_source_mode)) return sample(SampleControl{});
  CDlgProgress dialog(title, parent);
  std::atomic<bool> finished{false};
  const bool started = dialog.StartThread("ElevationSampling", [&dialog, &finished, &sample] {
    SampleControl control;
    control.quit = CWorkThread::CurrentQuitFlag();
    control.progress = [&dialog](float done) { dialog.SetProgress(done); };
    dialog.AddLine("%s", "正在获取高程...");
    finished = sample(control);
  });
  if (!started) return false;
  dialog.DoModal();
  // Cancel stopped the worker already; a worker that closed the dialog itself ends at once.
  StopWorkerPumping(dialog.Thread());
  return finished.load() && dialog.Result() != IDCANCEL;
}

int CurrentMapResolution() {
  IMapViewState* view = CurrentMapView();
  return view ? ProfileResolution(view->GetCamera().zoom) : 1;
}

}  // namespace velmora
