// The contour and profile commands and the program's two windows.
#include "terrain/ui/elevation_profile_commands.h"

#include <memory>

#include "shapes/map_shape.h"
#include "shell/command_table.h"
#include "shell/dlg_worker_base.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_view_commands.h"
#include "terrain/ui/dlg_contour.h"
#include "terrain/ui/dlg_elev_profile.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

// The program's windows (user-interface thread only); the frame step closes them.
std::unique_ptr<CDlgContour>& ContourDialog() {
  static std::unique_ptr<CDlgContour> dialog;
  return dialog;
}
std::unique_ptr<CDlgElevProfile>& ProfileDialog() {
  static std::unique_ptr<CDlgElevProfile> dialog;
  return dialog;
}

bool IsLine(const CMapShape* shape) {
  return shape && (shape->GetType() == kShapePolyline || shape->GetType() == kShapeLabelPolyline);
}

std::vector<AppCommand> Commands() {
  AppCommand contour;
  contour.id = CPDView::ID_CONTOUR;
  contour.menu = "工具";
  contour.text = "等高线(&C)...";
  contour.prompt = "为地图视图的范围采样高程并生成等高线\n等高线";
  contour.order = 30;
  contour.handler = [] {
    if (CPDView* view = ShownMapView()) OnContour(view);
  };
  contour.update = [](CCmdUI& ui) { ui.Enable(ShownMapView() != nullptr); };

  AppCommand profile;
  profile.id = ID_ELEV_PROFILE;
  profile.menu = "工具";
  profile.text = "高程剖面(&P)...";
  profile.prompt = "显示地图上选中线路的高程剖面\n高程剖面";
  profile.order = 31;
  profile.handler = [] {
    CPDView* view = ShownMapView();
    if (view && IsLine(view->SelectedShape())) ShowElevationProfile(*view->SelectedShape());
  };
  profile.update = [](CCmdUI& ui) {
    CPDView* view = ShownMapView();
    ui.Enable(view && IsLine(view->SelectedShape()));
  };
  return {std::move(contour), std::move(profile)};
}

}  // namespace

void OnContour(CPDView* view) {
  std::unique_ptr<CDlgContour>& dialog = ContourDialog();
  if (!dialog) dialog = std::make_unique<CDlgContour>();
  dialog->SetMapView(view);
  ShowModelessDialog(dialog.get());
}

bool ShowElevationProfile(const CMapShape& shape) {
  if (!IsLine(&shape)) return false;
  std::unique_ptr<CDlgElevProfile>& dialog = ProfileDialog();
  if (!dialog) dialog = std::make_unique<CDlgElevProfile>();
  return dialog->ShowProfile(shape);
}

void CloseElevationProfileWindows() {
  ContourDialog().reset();
  ProfileDialog().reset();
}

void RegisterElevationProfileCommands(CKovraHomeExApp& app) {
  RegisterCommandStep(app, "elevation profiles", Commands(), CloseElevationProfileWindows);
}

}  // namespace velmora
