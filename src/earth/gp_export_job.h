// RunGpExport: the worker of the plug-in snapshot export. It steps the plug-in's camera over a
// rectangle at a fixed eye altitude, captures each shot ("gp_<col>_<row>.tmp" with its ".dat"
// record, and its ".dem" samples for the model outputs) into the data folder and then joins the
// shots into one picture (MosaicAssemble, world file and side files on request) or turns them into
// .x terrain models ("x": from the samples; "xa": from hit tests of the live view, 10 x 10). A job
// that is stopped leaves "gp.exp" to resume from; a finished one leaves "gp.lst".
//
// The job reaches the plug-in only through IGpExportPlugin (the controller's calls, marshalled to
// the user-interface thread) and its dialog only through IGpExportHost; both are called on the
// worker thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "earth/gp_export_files.h"
#include "platform/sync.h"

namespace velmora {

class CBitmap;

inline constexpr char kGpDiskFull[] = "系统缓存空间不足,无法继续进行!(至少需要%lluM)";
inline constexpr char kGpDone[] = "拼接完毕";
inline constexpr char kGpOutputError[] = "error : %d";
inline constexpr char kGpBmpQuestion[] = "限于机器处理能力，所选尺寸只能输出为bmp格式。是否继续?";
// Failures of ours for which the plug-in has no text of its own.
inline constexpr char kGpStalled[] = "地球插件长时间没有完成加载，任务已暂停，可稍后续拼。";
inline constexpr char kGpCaptureTooSmall[] = "地球插件窗口太小，无法截图。";
inline constexpr char kGpModelCaptureTooSmall[] = "地球插件窗口太小（截图宽高不足50像素），无法生成地形模型。";
inline constexpr char kGpBrokenResume[] = "前次未完任务的记录已损坏，已删除：%s";
inline constexpr char kGpNoRectangle[] = "拼接区域为空，无法拼接。";
// The code of "error : %d" for an output that cannot be written (the picture encoder's code for
// a failure of the system).
inline constexpr int kGpWriteErrorCode = 7;

// What the job needs of the plug-in controller. Every call may block while it is served on the
// user-interface thread; false answers mean the plug-in failed (or is gone).
class IGpExportPlugin {
 public:
  virtual ~IGpExportPlugin() = default;
  // The job's quit request while it runs (null afterwards): waits for the user-interface thread
  // may end on it. The camera and terrain are put back after a stop too, so those calls must not.
  virtual void SetQuitRequest(const Event* /*quit*/) {}
  virtual bool PushCamera() = 0;
  virtual bool PopCamera() = 0;
  // Camera over (lng, lat) at `altitude` metres, heading and tilt kept.
  virtual bool SetCameraParam(double lng, double lat, double altitude) = 0;
  // Moves the view so that (lng, lat) lies under the capture's top-left corner.
  virtual bool MoveLT(double lng, double lat) = 0;
  // Longitude and latitude under the capture's top-left and bottom-right corners.
  virtual bool GetCaptureBounds(double* left, double* top, double* right, double* bottom) = 0;
  // Terrain hit test at a render-window pixel: longitude, latitude, altitude (metres).
  virtual bool GetCoordByPos(int x, int y, double out[3]) = 0;
  // 0 to 100; 100 when the view is complete.
  virtual double GetStreamingPercent() = 0;
  virtual bool SetTerrainLayer(bool on) = 0;
  // Bit 0 of the controller's layer flags.
  virtual bool TerrainLayerOn() = 0;
  // The render window's client size.
  virtual bool GetRenderSize(int* width, int* height) = 0;
  // The capture rectangle's picture, or null.
  virtual std::unique_ptr<CBitmap> CaptureRender() = 0;
  // The view-change event: reset before a move, waited for after it. True when it came within
  // `timeout_ms`; the wait ends at once when `quit` is set.
  virtual void ResetViewChange() = 0;
  virtual bool WaitViewChange(Event& quit, unsigned timeout_ms) = 0;
};

// What the job needs of its progress dialog and the desktop.
class IGpExportHost {
 public:
  virtual ~IGpExportHost() = default;
  // Step 1: true when the dialog's window exists within `timeout_ms`; ends at once on `quit`.
  virtual bool WaitDialogReady(Event& quit, unsigned timeout_ms) = 0;
  // Places the dialog beside the render window with the output path as its title.
  virtual void PlaceDialog(const std::string& title) = 0;
  // A trace line of the job.
  virtual void Trace(const std::string& line) = 0;
  virtual void Progress(int done, int total) = 0;
  // A modal message (OK).
  virtual void Message(const std::string& text) = 0;
  // Too large to join in memory: write a BMP instead?
  virtual bool AskBmp() = 0;
  // Opens a folder in the desktop's file manager.
  virtual void OpenFolder(const std::string& folder) = 0;
  // Step 14: closes the dialog.
  virtual void Close() = 0;
};

// The job's parameters, handed from the export command to the worker.
struct GpExportParams {
  std::string data_folder;   // ends with '/'
  std::string output_path;
  uint32_t delay_ms = 1000;
  bool full_screen = false;
  bool coordinates = true;   // "COORD"
  bool write_log = false;    // "记录日志": the project text and the job log
  // The rectangle (top-left and bottom-right longitude, latitude); none: resume from "gp.exp".
  bool has_rectangle = false;
  float left = 0, top = 0, right = 0, bottom = 0;
  double altitude = 0;       // metres
  int jpeg_quality = 90;
  // The free space of a folder (null: the file system's). Tests stand in for a full disk.
  std::function<std::optional<uint64_t>(const std::string& folder)> free_space;
  // Waits that the page may never end: the view-change event, the dialog's window, a plug-in
  // whose progress stays below 100 without change.
  unsigned view_change_timeout_ms = 3000;
  unsigned dialog_timeout_ms = 10000;
  unsigned stall_timeout_ms = 60000;
  unsigned model_pause_ms = 10;  // between two "x" models
};

struct GpExportResult {
  bool finished = false;      // every shot taken and the output written ("拼接完毕")
  bool interrupted = false;   // stopped: "gp.exp" written
  int columns = 0, rows = 0;
  int shots_taken = 0;        // in this run
  std::string written_path;   // the picture (or the first model) written
};

// Runs the whole job on the calling (worker) thread; `quit` is the worker's quit request.
GpExportResult RunGpExport(const GpExportParams& params, IGpExportPlugin& plugin, IGpExportHost& host, Event& quit);

// The output base: the output path up to its last "." (the whole path without one).
std::string GpOutputBase(const std::string& output_path);
// The output's extension in lower case without its dot.
std::string GpOutputExtension(const std::string& output_path);

}  // namespace velmora
