// CDemGridCtrl: the picture panel of the elevation extraction dialog. It holds the region and
// the sampled elevations (CDemGrid), runs the sampling on its worker "ThreadSetDEMData", draws the
// progress dots while it runs and the contour lines afterwards, and reads and writes the point,
// grid, region, cache and contour files (terrain/dem_files.h), telling the user when a file
// cannot be written.
//
// Threads: every method is for the user-interface thread. During a run the worker writes the
// grid, the points and the ranges and paints dots into the progress picture under the panel's
// lock; the panel's own drawing lists are reset before the worker starts and built again only
// after the run (message 0x404 to the parent), so painting never meets them half made.
#pragma once
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "exchange/ui/task_static.h"
#include "terrain/dem_grid.h"
#include "terrain/grid_contour_server.h"

namespace velmora {

class CTextShape;
class IScreenTerrainSource;

class CDemGridCtrl : public CTaskStatic {
 public:
  static constexpr const char* kThreadName = "ThreadSetDEMData";
  // Posted to the parent when a run has ended (wparam 1 when it was stopped).
  static constexpr UINT kMsgExtractFinished = 0x404;
  static constexpr const char* kMillionQuestion = "提取点数预计会超过百万,计算缓慢\n是否继续?";
  static constexpr const char* kCannotCreate = "无法创建文件";
  static constexpr const char* kCountFormat = "提取点数:%d";
  // Shown when a run or an extraction needs more memory than there is.
  static constexpr const char* kOutOfMemory = "采样点过多,内存不足,提取已停止";
  // Shown when a file to import cannot be opened.
  static constexpr const char* kCannotOpen = "无法打开文件";
  // A failed run of the gridding program: the reason follows.
  static constexpr const char* kServerMissing = "请确定Surfer是否正确安装：";
  // The client size the contour display assumes when the panel has no window.
  static constexpr int kDefaultWidth = 800;
  static constexpr int kDefaultHeight = 600;

  CDemGridCtrl();
  ~CDemGridCtrl() override;

  // ---- the region ----
  bool SetPoints(LngLatF first, LngLatF second, double sample_distance);
  bool SetDemData(std::span<const LngLatF> polygon, double sample_distance);
  // Screen mode: render-window pixels of `source`'s view, which the screen runs then sample.
  bool LoadScreenPoints(std::span<const LngLatF> pixels, double sample_distance, IScreenTerrainSource* source);
  // The view whose screen the points belong to (null for a region).
  IScreenTerrainSource* ScreenSource() const { return screen_; }
  void SetAddToCache(bool on) { data_.add_to_cache = on; }
  // Resets the tracer, empties the points and the drawing lists, paints the progress white.
  void Clear();

  // ---- counts and runs ----
  // The count shown before a run: the built-in grid's nodes, or with the Surfer method the
  // positions the extraction builds (-1 when the user declined; points and ready flag stay).
  int64_t SampleCount();
  // The point extraction with the million question; an out-of-memory result is shown.
  DemExtractStatus ExtractDemPoints();
  // Starts a run by the mode and the contour method of the options. False when a run is going,
  // the user declined the extraction, or the worker could not start.
  bool OnSetDemData();
  // Stops a run; what was sampled stays. True when the worker ended within `ms`.
  bool StopDemData(unsigned ms = kInfinite) { return StopTask(ms); }
  // From the start of a run until the panel has heard of its end (just before the parent's
  // 0x404); the data may be read and changed only outside it.
  bool IsExtracting() const { return running_; }

  // ---- contours ----
  // Interval (type 0 the interval, 1 the number of intervals), trace, display. kBadInterval when
  // no positive interval results or no grid is there.
  ContourStatus ComputeContours(int type, double value);
  // Pens by the colour mode and the drawing records of the traced lines in client pixels.
  void BuildContourDisplay();
  // Gridding and contouring by the stand-in program (terrain/grid_contour_server.h) over the
  // sampled points at the panel's interval: the lines and labels it wrote replace the tracer's
  // lines and the label list, and the display is built. A failure shows kServerMissing with the
  // reason and leaves the old lines and labels. `projected` names the labelled file
  // "out_proj.dxf" instead of "out_all.dxf".
  bool ContourWithSurfer(bool projected);
  // The labelled DXF file that the latest stand-in run wrote ("" when it wrote none, or when the
  // latest run was the built-in tracer's): the only one a DXF export may merge.
  const std::string& LabelledFile() const { return labelled_file_; }
  // For the built-in tracer after an import or a cache load (points without a grid): puts the
  // points back on their lattice when they are a region grid's samples (the box's nodes at the
  // sample distance; missing nodes no data), else grids them through the stand-in. False when
  // neither gives a grid.
  bool EnsureGrid();
  // Makes the stand-in program (tests and the benchmark put another in).
  void SetServerFactory(GridServerFactory factory) { server_factory_ = std::move(factory); }

  // ---- files (false after the user was told) ----
  bool ExportText(const std::string& path);
  bool WriteCsvPoints(const std::string& path);
  bool ExportExcel(const std::string& path);
  // Reads the points first; a file that cannot be opened changes nothing. Unless quiet, the
  // points read are shown in the coordinate list dialog.
  bool ImportText(const std::string& path, bool quiet);
  bool ImportCsv(const std::string& path);
  bool ExportSurferGrid(const std::string& path);
  bool WriteBlnFile(const std::string& path);
  bool SaveDemCache(const std::string& path);
  bool LoadDemCache(const std::string& path);
  bool SaveDemCache();
  bool LoadDemCache();
  static bool DemCacheExists();
  void RecomputeRanges() { data_.RecomputeRanges(); }
  std::vector<std::unique_ptr<CTextShape>> AddContourLabels() const;

  // ---- state (read after a run) ----
  CDemGrid& Data() { return data_; }
  const CDemGrid& Data() const { return data_; }
  bool IsReady() const { return data_.ready.load(); }
  const std::vector<DemDrawRecord>& DrawRecords() const { return records_; }
  const std::vector<Argb>& Pens() const { return pens_; }
  std::vector<DemLabel>& Labels() { return labels_; }
  const std::string& LastRunError() const { return run_error_; }
  bool LastRunStopped() const { return run_stopped_; }

  bool OnPaint(CBitmap& canvas) override;

 protected:
  // The progress picture is made, white, at the client size when the panel gets its window
  // (created directly or bound to the dialog's picture control).
  int OnCreate() override;
  void PreSubclassWindow() override;

 private:
  void ClientSize(int* width, int* height) const;
  void ResetPicture();
  void DropGrid();
  // Imported points in place of the present ones: the grid goes (DropGrid) and in region mode
  // the positions become the points'.
  void TakePoints(std::vector<Point3D> points);
  void RunEnded(bool stopped, bool out_of_memory, std::string error);
  bool Told(bool ok, const char* message, const std::string& path, const std::string& error);

  CDemGrid data_;
  std::vector<DemDrawRecord> records_;
  std::vector<DemLabel> labels_;
  std::vector<Argb> pens_;
  IScreenTerrainSource* screen_ = nullptr;
  bool running_ = false;  // user-interface thread only
  CBitmap picture_;  // the progress dots, at the client size (guarded by Mutex())
  std::string run_error_;
  bool run_stopped_ = false;
  std::string worker_error_;  // handed from the worker under Mutex()
  bool worker_out_of_memory_ = false;
  std::string labelled_file_;
  GridServerFactory server_factory_ = &CreateGdalGridServer;
};

}  // namespace velmora
