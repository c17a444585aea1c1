// The plug-in view's snapshot export from the user's side: OnGpExport (the export file dialog,
// the progress dialog and the worker "ThreadExport" running RunGpExport) and OnGpMosaic (the
// questions about a stopped or finished job, the preview of the last job's shots, the area
// dialog), over any IGpExportPlugin. The plug-in view hands in its controller's calls.
#pragma once
#include <functional>
#include <string>

#include "earth/gp_export_job.h"
#include "platform/ui/ui_types.h"

namespace velmora {

class CDlgProgress;
class CWnd;
class IChildView;

inline constexpr char kGpResumeQuestion[] = "是否续拼前次未完任务?";
inline constexpr char kGpNewJobQuestion[] = "是否开始新任务?";
// The section the export's corners are kept under.
inline constexpr char kGpCornerSection[] = "exp";

struct GpExportContext {
  IGpExportPlugin* plugin = nullptr;  // the worker's calls of the controller
  CWnd* parent = nullptr;             // owner of the dialogs
  CWnd* render_window = nullptr;      // the progress dialog goes beside it (may be null)
  IChildView* view = nullptr;         // for the area dialog
  // The camera's longitude, latitude and altitude (metres) on the user-interface thread; false
  // when unknown.
  std::function<bool(double out[3])> get_center;
  // Hides the region overlay during the shots.
  std::function<void()> hide_overlay;
  // Test hooks: the job's parameters before it starts (time-outs, free space).
  std::function<void(GpExportParams&)> adjust;
};

// OnExport: the output path and export settings, then the job over the rectangle (top-left and
// bottom-right longitude, latitude); null corners resume the job of "gp.exp". False when the
// file dialog was cancelled (nothing started). `result` receives what the job did.
bool OnGpExport(const GpExportContext& context, const float* top_left, const float* bottom_right,
                GpExportResult* result = nullptr);

// OnMosaic: with "gp.exp" present, resume (Yes), drop it and start anew (No) or nothing (Cancel);
// else with "gp.lst" present, a new job (Yes), the preview of the last one (No) or nothing
// (Cancel); a new job takes its rectangle from the area dialog (corners kept under "exp").
void OnGpMosaic(const GpExportContext& context);

// The progress dialog as the job's host: lines, progress, messages asked on the user-interface
// thread, the folder opened there, the dialog closed at the end.
class GpExportDialogHost : public IGpExportHost {
 public:
  GpExportDialogHost(CDlgProgress& dialog, CWnd* render_window) : dialog_(dialog), render_window_(render_window) {}
  bool WaitDialogReady(Event& quit, unsigned timeout_ms) override;
  void PlaceDialog(const std::string& title) override;
  void Trace(const std::string& line) override;
  void Progress(int done, int total) override;
  void Message(const std::string& text) override;
  bool AskBmp() override;
  void OpenFolder(const std::string& folder) override;
  void Close() override;

 private:
  CDlgProgress& dialog_;
  CWnd* render_window_;
};

}  // namespace velmora
