// The area export command.
#include "terrain/ui/area_export.h"

#include <atomic>

#include "core/log.h"
#include "core/settings.h"
#include "exchange/ui/dlg_export_region_set.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/ui_host.h"
#include "shell/command_table.h"
#include "shell/dlg_progress.h"
#include "shell/dlg_worker_base.h"
#include "terrain/3ds_writer.h"
#include "terrain/area_model_export.h"
#include "terrain/ui/dlg_export_3d.h"
#include "tiles/map_view_state.h"
#include "tiles/tile_manager.h"

namespace velmora {

bool RunAreaExport(CWnd* parent, const AreaExportSources& sources) {
  CDlgExportRegionSet region(parent);
  if (region.DoModal() != IDOK) return false;
  AreaExportJob job;
  job.west = region.top_left.lng;
  job.north = region.top_left.lat;
  job.east = region.bottom_right.lng;
  job.south = region.bottom_right.lat;
  CFileDialogExport file("jpg", ProgramSettings().GetString(kAreaExportPathKey, ""), parent);
  file.OfferModelType([parent] {
    CDlgExport3D options(parent);
    return options.DoModal() == IDOK;
  });
  if (file.DoModal() != IDOK || file.GetPathName().empty()) return false;
  job.path = file.GetPathName();
  const bool model = file.ModelChosen();
  ProgramSettings().SetString(kAreaExportPathKey, job.path);
  if (IMapViewState* view = CurrentMapView()) job.layers = view->CopyLayerList();
  CTileManager& tiles = sources.tiles ? *sources.tiles : TileManager();

  bool written = false;
  std::string error;
  {
    CDlgProgress dialog(kAreaExportTitle, parent);
    std::atomic<bool> cancel{false};
    const bool started = dialog.StartThread("TilesExport", [&] {
      AreaExportHooks hooks;
      hooks.cancel = &cancel;
      hooks.progress = [&](float p) {
        dialog.SetProgress(p);
        if (dialog.Thread().QuitRequested()) cancel = true;
      };
      written = model ? ExportAreaModel(job, tiles, sources.elevation, hooks, &error)
                      : ExportAreaPicture(job, tiles, hooks, &error);
      dialog.Close();
    });
    if (!started) {
      AppLog("area export could not start");
      return false;
    }
    dialog.DoModal();
    StopWorkerPumping(dialog.Thread());
  }
  if (!written) {
    AppLog("area export %s: %s", job.path.c_str(), error.c_str());
    if (error != C3dsWriter::kCancelled) ShowMessageBox(error, MB_OK | MB_ICONWARNING);
    return false;
  }
  return true;
}

void RegisterAreaExportCommand() {
  AppCommand c;
  c.id = ID_EXPORT_AREA;
  c.menu = "文件";
  c.text = kAreaExportCommandText;
  c.prompt = "将地图区域导出为图片或三维模型(3ds)\n区域导出";
  c.order = 50;
  c.handler = [] { RunAreaExport(nullptr); };
  AppCommands().Register(std::move(c));
}

void UnregisterAreaExportCommand() { AppCommands().Unregister(ID_EXPORT_AREA); }

}  // namespace velmora
