// CDlgMosaicPreview: the shots of the last mosaic job ("<prefix>.lst" in the data folder, prefix
// "ge" for the earth application's snapshot mosaic, "gp" for the plug-in's) before they are
// joined: which shots exist, one shot retaken (the earth application's jobs only, through
// CDlgGEMosaic with its retake column and row), and the join (MosaicAssemble) into the job's
// output picture.
#pragma once
#include <string>
#include <vector>

#include "earth/ge_mosaic_job.h"
#include "earth/mosaic_assemble.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/dialog.h"

namespace velmora {

inline constexpr int kMosaicPreviewDialogId = 2221;
inline constexpr int kMosaicPreviewList = 1001;
inline constexpr int kMosaicPreviewRetake = 1002;
inline constexpr int kMosaicPreviewJoin = 1003;

class CDlgMosaicPreview : public CDialog {
 public:
  CDlgMosaicPreview(std::string job_name, CWnd* parent = nullptr);

  // Reads the job's list file. False for a missing or broken one (a broken one is logged and
  // removed, so that the next job starts anew).
  bool LoadJob();
  const GeMosaicList& Job() const { return list_; }
  // "<col>,<row>" of each shot of the job, row by row, with whether its picture exists.
  struct Shot {
    int column, row;
    bool present;
  };
  std::vector<Shot> Shots() const;
  // Shoots (column, row) again: the earth application's snapshot mosaic with that retake, run
  // modally. False for another job name or a shot outside the job.
  bool Retake(int column, int row);
  // Joins the shots into the job's output picture (asking for a BMP when it is too large).
  MosaicResult Join(std::string* written_path = nullptr, std::string* error = nullptr);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(WPARAM wparam, LPARAM lparam) override;

 private:
  void FillList();
  std::string job_name_;
  std::string folder_;
  GeMosaicList list_;
  bool loaded_ = false;
  CListCtrl shots_list_;
};

}  // namespace velmora
