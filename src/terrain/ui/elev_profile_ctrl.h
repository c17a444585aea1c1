// CElevProfileCtrl: the elevation preview of the contour dialog. It samples a longitude/latitude
// box into a grid of heights and a coloured picture of them (the altitude ramp), fills its
// contour tracer from the grid, draws the traced lines over the picture (white, the selected one
// red) and turns grid points into longitudes and latitudes, each axis by its own step. Nodes
// without data keep the ramp's "no data" colour in the picture and are holes for the tracer.
#pragma once
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "platform/ui/controls.h"
#include "terrain/contour_grid.h"
#include "terrain/elevation_profile.h"

namespace velmora {

class CElevationStore;

class CElevProfileCtrl : public CStatic {
 public:
  static constexpr Argb kBackColor = 0xFF000000u;
  static constexpr Argb kLineColor = 0xFFFFFFFFu;
  static constexpr Argb kSelectedColor = 0xFFFF0000u;

  CElevProfileCtrl();
  ~CElevProfileCtrl() override;

  // Where heights come from (null: the program's store).
  void SetElevationStore(CElevationStore* store) { store_ = store; }

  // Samples the box (top-left and bottom-right corners) with about the wanted counts at the map
  // view's resolution (behind the progress dialog in the web modes), fills the tracer (heights,
  // their range, node positions), renders the picture and repaints; the old lines go. False, with
  // everything as it was, when the box or counts are refused (PlanElevationGrid), the sampling
  // was cancelled or the grid does not fit in memory.
  bool SampleProfile(float left, float top, float right, float bottom, int columns, int rows);

  CContourGrid& Grid() { return grid_; }
  // Takes the tracer's current lines as the lines to draw (none selected) and repaints.
  void UpdateLines();
  // A grid point (column x, row y; fractions allowed) as longitude and latitude.
  ShapePoint GridToLngLat(float x, float y) const { return samples_.GridToLngLat(x, y); }
  std::vector<ShapePoint> LineToLngLat(const ContourLine& line) const;
  // Highlights line `index` of the tracer (-1 none) and repaints.
  void SetSelectedLine(int index);
  int SelectedLine() const { return selected_; }

  // ---- state ----
  const ElevationGrid& Samples() const { return samples_; }
  int Columns() const { return samples_.columns; }
  int Rows() const { return samples_.rows; }
  const CBitmap& Image() const { return image_; }
  // Where a grid point lands in a control of the given size (the picture fills the control, a
  // node at its pixel's centre).
  GfxPoint GridToScreen(const ContourPoint& p, int width, int height) const;

  bool OnPaint(CBitmap& canvas) override;

 private:
  void RenderImage();

  CContourGrid grid_;
  // The lines to draw, in grid units (screen points follow from the control's size when painted).
  std::vector<std::vector<ContourPoint>> lines_;
  // Columns, rows, per-row heights and positions, lowest and highest, steps and origin.
  ElevationGrid samples_;
  CBitmap image_;
  int selected_ = -1;
  CElevationStore* store_ = nullptr;
};

}  // namespace velmora
