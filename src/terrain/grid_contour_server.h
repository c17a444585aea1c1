// IGridContourServer: the gridding and contouring program that the elevation grid panel drives
// with files in the work folder, shaped like that program's automation: grid the x, y, z columns
// of a data file into a grid file, blank the grid outside a polygon, put a contour map of the
// grid on a document, set its levels, label frequency, font and per-level label and colour,
// export the contour lines and the labelled document as DXF, quit. CGdalGridServer
// (terrain/gdal_grid_server.h) is the one built here.
//
// ContourWithServer is the panel's whole run: the exchange files ("out.dat", "out.bln",
// "out.grd", "out.dxf", "out_all.dxf" or "out_proj.dxf"), the calls in their order and the lines
// and labels read back. Every output of an earlier run is deleted before a new one starts, so
// nothing a failed run left behind is ever read as its result.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/page_options.h"
#include "terrain/dem_grid.h"

namespace velmora {

class IGridContourServer {
 public:
  virtual ~IGridContourServer() = default;

  // Grid spacing in the points' unit for the next GridData; 0 takes it from the points' density.
  virtual void SetGridSpacing(double spacing) = 0;
  // Grids columns x, y, z (1-based) of the text file `data` into the grid file `grid`.
  virtual bool GridData(const std::string& data, int x_column, int y_column, int z_column,
                        const std::string& grid) = 0;
  // The nodes of `grid` outside the polygon of the blanking file `bln` become blank; the result
  // is written to `out`.
  virtual bool GridBlank(const std::string& grid, const std::string& bln, const std::string& out) = 0;
  // A new document with a contour map of `grid`.
  virtual bool AddContourMap(const std::string& grid) = 0;
  // Levels first, first + interval, ... up to `last`.
  virtual bool SetLevels(double first, double last, double interval) = 0;
  virtual int LevelCount() const = 0;
  virtual double LevelValue(int index) const = 0;  // 0-based
  // Label frequency: the first labelled level (1-based), how many in a row, how many skipped.
  virtual void SetLabelFrequency(int first, int labelled, int skipped) = 0;
  // Label font colour (straight ARGB) and the text height in the points' unit; label format type.
  virtual void SetLabelFont(Argb color, double height) = 0;
  virtual void SetLabelFormatType(int type) = 0;
  virtual void SetLevelLabel(int index, bool shown) = 0;
  virtual void SetLevelColor(int index, Argb color) = 0;
  // The map's contour lines as a DXF file (each at its level, in its level's colour).
  virtual bool ExportContours(const std::string& path) = 0;
  // The whole document as a DXF file with export options ("AllTextToAreas=0").
  virtual bool ExportDocument(const std::string& path, const std::string& options) = 0;
  // Closes the document without saving.
  virtual void Quit() = 0;
  virtual std::string LastError() const = 0;
};

// Makes a server; null with the reason when none can be made.
using GridServerFactory = std::function<std::unique_ptr<IGridContourServer>(std::string* error)>;
// CGdalGridServer.
std::unique_ptr<IGridContourServer> CreateGdalGridServer(std::string* error);

// The files of a run in the work folder.
inline constexpr char kGridDataFile[] = "out.dat";
inline constexpr char kGridBlankFile[] = "out.bln";
inline constexpr char kGridFile[] = "out.grd";
inline constexpr char kGridLinesFile[] = "out.dxf";
inline constexpr char kGridLabelledFile[] = "out_all.dxf";
inline constexpr char kGridLabelledProjectedFile[] = "out_proj.dxf";
inline constexpr char kGridExportOptions[] = "AllTextToAreas=0";

struct GridContourJob {
  std::string work_dir;  // ends with '/'
  bool projected = false;
  // Grid spacing in the points' unit (0: from the density).
  double spacing = 0;
  DemPageOptions options;
  int width = 800, height = 600;  // panel pixels of the labels
};

struct GridContourResult {
  bool ok = false;
  std::string error;           // why the run failed
  std::string labelled_file;   // the labelled DXF the run wrote ("" when labels were off)
};

// The grid spacing of a panel's points: region mode the sample step in degrees (metres when
// projected), screen mode 0 (from the density).
double GridSpacingOf(const CDemGrid& grid, bool projected);

// The level colour of level `index` (0-based) by the colour mode.
Argb GridLevelColor(const DemPageOptions& options, int index, double level);
// Whether level `index` (0-based) is labelled.
bool GridLevelLabelled(const DemPageOptions& options, int index, double level);

// The run over `grid`'s points, polygon, z range and interval. On success *set and *labels are
// replaced by what the DXF files hold; on failure they are left as they were and the files
// written so far stay in the work folder.
GridContourResult ContourWithServer(const CDemGrid& grid, const GridContourJob& job, const GridServerFactory& make,
                                    CContourLineSet* set, std::vector<DemLabel>* labels);

// Puts a region grid's samples back on their lattice: the box's nodes at the sample distance
// (the grid of a region run), every point on a node, nodes without a point no data. False (the
// tracer untouched) when a point lies off the lattice or the panel is not in the region mode.
bool PutPointsOnLattice(CDemGrid* grid);
// Grids the points through the server into the tracer's grid (blanked by the region polygon)
// with the same exchange files as a contour run; the x, y and z ranges become the grid's. False
// with the reason; the tracer is then untouched.
bool GridWithServer(CDemGrid* grid, const GridContourJob& job, const GridServerFactory& make, std::string* error);

}  // namespace velmora
