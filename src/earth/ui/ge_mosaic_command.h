// The earth application's snapshot mosaic set-up ("工具/拼图" of the earth application view): the
// question about a stopped job ("ge.exp": resume, drop, cancel) or about the last job's shots
// ("ge.lst": a new job, or the preview of the old one), the area dialog (corners kept under
// "exp"), the export file dialog (path, altitude, delay, flags) and the mosaic dialog, run with
// the main frame hidden.
#pragma once
#include <functional>
#include <string>

#include "platform/ui/ui_types.h"

namespace velmora {

class CDlgGEMosaic;
class CWnd;
class IChildView;

inline constexpr char kGeResumeQuestion[] = "是否续拼前次未完任务?";
inline constexpr char kGeNewJobQuestion[] = "是否开始新任务?";

// What a mosaic project file (".kep") presets in the export file dialog.
struct GeExportPreset {
  std::string path;
  float altitude_m = 0;
  int delay_ms = 1000;
  bool full_screen = false;
  bool coordinates = true;
};

// Runs the mosaic dialog modally with the main frame hidden meanwhile (the dialog holds the earth
// page and may cover the screen), then shows and activates the frame again.
void RunGeMosaicDialog(CDlgGEMosaic& dialog);

// The export file dialog (last path under "recent"/"export", default "kovra", ".jpg"; altitude
// under "region"/"export_alt", default `default_km`) or the project's values, then the mosaic over
// the two corners; `after` runs once the mosaic dialog ended. False when the file dialog was
// cancelled.
bool GeExportImage(CWnd* owner, const float top_left[2], const float bottom_right[2], double default_km,
                   const GeExportPreset* preset = nullptr, const std::function<void()>& after = {});

// The whole command: the questions, the area dialog over `view` (its corners loaded from and kept
// under "exp") and GeExportImage. False when the person cancelled before a mosaic ran.
bool RunGeMosaicCommand(IChildView* view, CWnd* owner, double default_km, const std::function<void()>& after = {});

}  // namespace velmora
