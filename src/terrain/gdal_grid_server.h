// CGdalGridServer: the gridding and contouring program of the elevation grid panel, in process on
// GDAL. Gridding is GDAL's linear interpolation over the Delaunay triangles of the points
// (GDALGridCreate, GGA_Linear), so points on a lattice come back unchanged at its nodes; nodes
// outside the points' hull are blank. The grid is a Surfer ASCII grid ("DSAA", our own writer),
// read back through GDAL; blanking makes the nodes outside the polygon blank; the contours are
// GDALContourGenerateEx at the fixed levels. Both DXF outputs are our own writer's drawings: the
// lines at their levels in their colours, and the labelled document holding only the TEXT labels
// of the labelled levels (one per line, at its middle, along it and upright), so that a reader of
// both never meets a line twice.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "core/geodesy.h"
#include "terrain/grid_contour_server.h"

namespace velmora {

// Upper bound on the nodes along one side of a grid (the spacing grows beyond it).
inline constexpr int kMaxGridSide = 4096;
// Contouring reaches half a cell into the cells beside blank nodes; a blanked map's lines are cut
// where they leave the outline, a vertex this many cells from it still counting as on it (the
// outline's own coordinates are single-precision and six-decimal).
inline constexpr double kBlankEdgeTolerance = 0.05;

// Whether (x, y) lies inside the polygon (even-odd) or within `tolerance` of its outline.
bool InsideOutline(std::span<const PixelPoint> polygon, double x, double y, double tolerance);

// Reads a grid file (Surfer ASCII or binary) into a tracer's grid: rows from the south, blank
// nodes NaN, the x and y ranges the node extent, the z range the values'. False with the reason.
bool ReadGridFile(const std::string& path, CContourTracer* tracer, std::string* error = nullptr);

class CGdalGridServer : public IGridContourServer {
 public:
  static constexpr const char* kCollinear = "the points lie on one line: no surface can be gridded";

  void SetGridSpacing(double spacing) override { spacing_ = spacing; }
  bool GridData(const std::string& data, int x_column, int y_column, int z_column, const std::string& grid) override;
  bool GridBlank(const std::string& grid, const std::string& bln, const std::string& out) override;
  bool AddContourMap(const std::string& grid) override;
  bool SetLevels(double first, double last, double interval) override;
  int LevelCount() const override { return static_cast<int>(levels_.size()); }
  double LevelValue(int index) const override;
  void SetLabelFrequency(int first, int labelled, int skipped) override;
  void SetLabelFont(Argb color, double height) override;
  void SetLabelFormatType(int type) override { label_format_ = type; }
  void SetLevelLabel(int index, bool shown) override;
  void SetLevelColor(int index, Argb color) override;
  bool ExportContours(const std::string& path) override;
  bool ExportDocument(const std::string& path, const std::string& options) override;
  void Quit() override;
  std::string LastError() const override { return error_; }

  struct Level {
    double value = 0;
    bool label = false;
    Argb color = 0xFF000000u;
  };
  struct Line {
    int level = 0;  // index into the levels
    std::vector<std::pair<double, double>> points;
  };
  const std::vector<Level>& Levels() const { return levels_; }
  // The contour lines (traced on the first export).
  const std::vector<Line>& Lines() const { return lines_; }

 private:
  bool Fail(std::string reason);
  bool Trace();

  double spacing_ = 0;
  std::vector<PixelPoint> blank_polygon_;  // the outline of the last blanking
  std::string map_grid_;
  std::vector<Level> levels_;
  std::vector<Line> lines_;
  bool traced_ = false;
  Argb label_color_ = 0xFF000000u;
  double label_height_ = 1;
  int label_format_ = 0;
  std::string error_;
};

}  // namespace velmora
