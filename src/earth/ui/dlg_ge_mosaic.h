// CDlgGEMosaic: the snapshot mosaic of the earth application (dialog 222 "Google Earth 图片拼接").
// It holds the earth page's window in its static 1513 while its worker "GEAppExport" moves the
// camera shot by shot, captures each shot to "ge_<col>_<row>.tmp" in the data folder and joins
// them (MosaicAssemble) with an optional world file; a stopped job leaves "ge.exp" to resume from.
// A retake (column and row set) shoots one shot again in the output's format.
//
// The dialog's handlers run on the user-interface thread, the job on its worker with a
// CGoogleEarthApp of its own; the worker's quit request is the only shared signal (Cancel, and the
// worker itself on failures). The worker posts 0x404 when it ends, which gives the page back.
#pragma once
#include <atomic>
#include <string>

#include "core/work_thread.h"
#include "earth/ge_mosaic_job.h"
#include "platform/ui/dialog.h"

namespace velmora {

class CGoogleEarthApp;

inline constexpr int kGeMosaicDialogId = 222;
inline constexpr int kGeMosaicRenderHolder = 1513;
inline constexpr char kGeMosaicCaption[] = "Google Earth 图片拼接";
inline constexpr char kGeMosaicDiskFull[] = "系统缓存空间不足,无法继续进行!(至少需要%dM)";
inline constexpr char kGeMosaicDone[] = "拼接完毕";
inline constexpr char kGeMosaicTooLarge[] = "限于机器处理能力，所选尺寸只能输出为bmp格式。是否继续?";
inline constexpr char kGeMosaicCreateFailed[] = "创建文件失败!";
// Shown when the earth page cannot start (no page, no WebGL) and the job was not stopped.
inline constexpr char kGeMosaicNoEarth[] = "启动Google Earth出现错误";

// The dialog's size on a screen of width x height: the screen when full screen, else
// (int)(width x 0.72f) by (int)(height x 0.7f), the factors single precision widened to double.
void GeMosaicDialogSize(int screen_width, int screen_height, bool full_screen, int* width, int* height);
// The screen the dialog sizes itself by (the front end sets it; 1920 x 1080 until then).
void SetGeMosaicScreenSize(int width, int height);

class CDlgGEMosaic : public CDialog {
 public:
  explicit CDlgGEMosaic(CWnd* parent = nullptr);
  ~CDlgGEMosaic() override;

  // ---- set by the owner before the dialog runs ----
  GeMosaicJob job;             // rectangle, altitude, output path, flags, delay (next shot: set here)
  int retake_column = -1;      // both -1: a whole job
  int retake_row = -1;

  bool ClosesItself() const override { return true; }
  void OnCancel() override;

  // ---- what the job did (after the dialog ended) ----
  bool Finished() const { return finished_; }   // a whole job that ended normally and was joined
  bool Stopped() const { return stopped_; }     // stopped: "ge.exp" written
  const std::string& WrittenPath() const { return written_path_; }
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }

 protected:
  bool OnInitDialog() override;
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void RunWholeJob();
  void RunRetake();
  void OnDone();
  bool Join(CGoogleEarthApp& app);

  CWorkThread worker_;
  bool resumed_ = false;        // the job continues from "ge.exp"
  bool cancelled_ = false;      // Cancel was pressed (user-interface thread only)
  CWnd* page_home_ = nullptr;   // the render window's parent before the dialog took it
  std::string folder_;          // the data folder
  std::atomic<bool> finished_{false};
  std::atomic<bool> stopped_{false};
  std::string written_path_;    // written by the worker before it posts 0x404
  int columns_ = 0;
  int rows_ = 0;
  int shots_ = 0;
  int shots_done_ = 0;
};

}  // namespace velmora
