// The preview of a mosaic job's shots: list, retake, join.
#include "earth/ui/dlg_mosaic_preview.h"

#include <filesystem>

#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "platform/ui/ui_host.h"

namespace velmora {

namespace {

DialogTemplate PreviewTemplate() {
  DialogTemplate d;
  d.id = kMosaicPreviewDialogId;
  d.caption = "拼接预览";
  d.cx = 260;
  d.cy = 200;
  d.controls = {{ControlKind::kListView, kMosaicPreviewList, "", 7, 7, 246, 160, 0},
                {ControlKind::kButton, kMosaicPreviewRetake, "重拍", 140, 178, 50, 14, 0},
                {ControlKind::kDefButton, kMosaicPreviewJoin, "拼接", 200, 178, 50, 14, 0}};
  return d;
}

}  // namespace

CDlgMosaicPreview::CDlgMosaicPreview(std::string job_name, CWnd* parent)
    : CDialog(PreviewTemplate(), parent), job_name_(std::move(job_name)), folder_(AppOptions().data_dir) {
  BindControl(kMosaicPreviewList, shots_list_);
}

bool CDlgMosaicPreview::LoadJob() {
  const std::string path = folder_ + job_name_ + ".lst";
  std::error_code ec;
  loaded_ = false;
  if (!std::filesystem::exists(path, ec)) return false;
  std::string error;
  if (!ReadGeListFile(path, &list_, &error)) {
    AppLog("mosaic preview: the job list is broken and removed: %s", error.c_str());
    std::filesystem::remove(path, ec);
    return false;
  }
  loaded_ = true;
  return true;
}

std::vector<CDlgMosaicPreview::Shot> CDlgMosaicPreview::Shots() const {
  std::vector<Shot> shots;
  if (!loaded_) return shots;
  std::error_code ec;
  for (int r = 0; r < int(list_.rows); ++r)
    for (int c = 0; c < int(list_.columns); ++c)
      shots.push_back(Shot{c, r, std::filesystem::is_regular_file(MosaicShotPath(folder_, job_name_, c, r), ec)});
  return shots;
}

bool CDlgMosaicPreview::Retake(int column, int row) {
  if (!loaded_ || job_name_ != kGeShotPrefix || column < 0 || row < 0 || column >= int(list_.columns) ||
      row >= int(list_.rows))
    return false;
  CDlgGEMosaic mosaic(this);
  mosaic.job.output_path = list_.output_path;
  mosaic.job.full_screen = list_.full_screen;
  mosaic.job.altitude = list_.altitude;
  mosaic.job.delay_ms = list_.delay_ms;
  mosaic.retake_column = column;
  mosaic.retake_row = row;
  mosaic.DoModal();
  FillList();
  return true;
}

MosaicResult CDlgMosaicPreview::Join(std::string* written_path, std::string* error) {
  if (!loaded_) return MosaicResult::kFailed;
  MosaicAssembleOptions options;
  options.folder = folder_;
  options.jpeg_quality = AppOptions().jpeg_quality;
  options.ask_bmp = [] { return ShowMessageBox(kGeMosaicTooLarge, MB_YESNO) == IDYES; };
  const MosaicResult result =
      MosaicAssemble(list_.output_path, job_name_, int(list_.columns), int(list_.rows), options, written_path, error);
  if (result == MosaicResult::kCreateFailed) ShowMessageBox(kGeMosaicCreateFailed, MB_OK);
  return result;
}

bool CDlgMosaicPreview::OnInitDialog() {
  shots_list_.InsertColumn(0, "列,行", LVCFMT_LEFT, 80);
  shots_list_.InsertColumn(1, "图片", LVCFMT_LEFT, 80);
  if (!LoadJob()) {
    EndDialog(IDCANCEL);
    return true;
  }
  if (job_name_ != kGeShotPrefix) GetDlgItem(kMosaicPreviewRetake)->EnableWindow(false);
  FillList();
  return true;
}

void CDlgMosaicPreview::FillList() {
  if (!shots_list_.IsWindow()) return;
  shots_list_.DeleteAllItems();
  for (const Shot& shot : Shots()) {
    const int item = shots_list_.InsertItem(shots_list_.GetItemCount(),
                                            std::to_string(shot.column) + "," + std::to_string(shot.row));
    shots_list_.SetItemText(item, 1, shot.present ? "✓" : "-");
    shots_list_.SetItemData(item, uintptr_t(shot.row) * 100000 + uintptr_t(shot.column));
  }
}

bool CDlgMosaicPreview::OnCommand(WPARAM wparam, LPARAM lparam) {
  const int id = LOWORD(wparam);
  if (id == kMosaicPreviewRetake) {
    const int item = shots_list_.GetNextItem(-1, LVNI_SELECTED);
    if (item >= 0) {
      const uintptr_t data = shots_list_.GetItemData(item);
      Retake(int(data % 100000), int(data / 100000));
    }
    return true;
  }
  if (id == kMosaicPreviewJoin) {
    std::string written;
    if (Join(&written) == MosaicResult::kWritten) {
      ShowMessageBox(kGeMosaicDone, MB_OK);
      EndDialog(IDOK);
    }
    return true;
  }
  return CDialog::OnCommand(wparam, lparam);
}

}  // namespace velmora
