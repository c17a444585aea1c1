// CDxfExport: DXF output of contours and other lines. The target is a new file, or an existing
// drawing that the user chose to add to (its bytes are kept and the new entities spliced in) or
// to overwrite. Polylines carry their level as elevation and their colour (the nearest colour
// index and the true colour); another DXF file's polylines and texts can be merged in, clipped
// to a rectangle. The file is written atomically by SaveFile.
//
// Domain code: the question whether to add to an existing file is asked through a callback
// that the window side fills with a message box.
#pragma once
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "exchange/dxf_reader.h"
#include "exchange/dxf_writer.h"
#include "platform/gfx/bitmap.h"

namespace velmora {

struct DxfPoint {
  double x = 0, y = 0;
};

class CDxfExport {
 public:
  // The question asked for a target that exists (Yes: add, No: overwrite).
  static constexpr const char* kQuestion = "指定DXF文件已存在，是：添加，否：覆盖";
  enum class Answer { kAdd, kOverwrite, kCancel };
  using AskAddOrOverwrite = std::function<Answer(const std::string& question)>;

  // Chooses the target. A path that does not exist starts a new drawing. For an existing file
  // `ask` decides: add (the file is read now; one that cannot be read as a DXF drawing is
  // refused and will not be written), overwrite (replaced by a new drawing at SaveFile), or
  // cancel. False when cancelled or refused (reason in LastError()); nothing is written then.
  bool OpenTarget(const std::string& path, const AskAddOrOverwrite& ask);

  // The layer of the entities added next ("0" until set) and its colour in a new layer table.
  void SetLayer(std::string_view name, Argb color = 0xFFFFFFFFu);

  // A polyline at elevation `level` in `color` (straight ARGB; alpha ignored). Points are in the
  // drawing's units (degrees or metres of the chosen coordinate system).
  void AddPolyline(double level, std::span<const DxfPoint> points, Argb color, bool closed = false);
  // The same with `count` float x, y pairs.
  void AddPolyline(double level, const float* xy, size_t count, Argb color, bool closed = false);
  // A one-line text with its insertion point at (x, y).
  void AddText(double x, double y, double height, std::string_view text, Argb color, double rotation = 0);

  // Merges the model-space polylines and texts of the DXF file at `path`, clipped to
  // [x_min, x_max] × [y_min, y_max]: lines are cut at the rectangle's border, texts kept when
  // their insertion point lies inside. They keep their layers (added with the source's layer
  // colours) and colours. False (reason in LastError(), nothing merged) when the file cannot be
  // read. `merged` receives the number of entities added.
  bool AddContours(const std::string& path, double x_min, double x_max, double y_min, double y_max,
                   size_t* merged = nullptr);

  // Writes the target atomically: a new drawing, or the existing file with the new entities
  // spliced in. False (reason in LastError()) without a target or when the file cannot be
  // written; the old file is then untouched.
  bool SaveFile();

  const std::string& LastError() const { return error_; }
  // OpenTarget ended because the question was answered with cancel.
  bool Cancelled() const { return cancelled_; }
  const std::string& Path() const { return path_; }
  bool IsAdding() const { return adding_; }
  const DxfContent& Content() const { return content_; }

 private:
  void UseLayer(const std::string& name, int aci);

  std::string path_;
  bool open_ = false;
  bool adding_ = false;
  bool cancelled_ = false;
  std::string original_;  // the bytes of the drawing added to
  DxfDrawing target_;
  DxfContent content_;
  std::string layer_ = "0";
  std::string error_;
};

// Cuts a polyline at the border of the rectangle: the parts inside, in order (a closed line
// that lies wholly inside comes back whole and closed). z follows the cut for 3D lines.
std::vector<DxfPolyline> ClipPolyline(const DxfPolyline& line, double x_min, double x_max, double y_min,
                                      double y_max);

}  // namespace velmora
