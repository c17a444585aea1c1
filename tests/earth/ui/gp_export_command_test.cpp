// The plug-in export's commands with a headless host and the scripted earth view: the stopped
// job's question (No drops "gp.exp" and opens the area dialog, Yes resumes it), the finished
// job's question (No previews its shots), the area dialog's corners kept under "exp", the export
// dialog's altitude from the camera, the overlay hidden, and the job run under the progress
// dialog to its end message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/format.h"
#include "core/settings.h"
#include "earth/gp_export_stand_in.h"
#include "earth/ui/dlg_mosaic_preview.h"
#include "earth/ui/gp_export_command.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dlg_progress.h"
#include "support/isolated_folders.h"
#include "view/dlg_area_setting.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
const test::TempDir& kFolders = test::IsolatedFolders(nullptr);

class GpExportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    data = AppOptions().data_dir;
    fs::create_directories(data);
    for (const char* name : {kGpResumeFile, kGpListFile}) fs::remove(data + name);
    context.plugin = &plugin;
    context.get_center = [](double out[3]) {
      out[0] = 116.0, out[1] = 39.0, out[2] = 5000.0;
      return true;
    };
    context.hide_overlay = [this] { ++overlay_hidden; };
    context.adjust = [](GpExportParams& p) {
      p.delay_ms = 0;
      p.view_change_timeout_ms = 50;
    };
  }
  void TearDown() override { SetUiHost(nullptr); }

  // The area dialog answered with a rectangle 1.5 captures wide and one capture high.
  void AnswerArea() {
    const double s = view.S();
    right = static_cast<float>(116.0 + 1.5 * 936 * s);
    bottom = static_cast<float>(MercatorYToLat(MercatorLatToY(39.05, 20) + 605 * view.scale, 20) + 1e-5);
    host.AnswerDialog(CDlgAreaSetting::IDD, [this](CDialog& d) {
      d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_LEFT_LNG)->Type("116");
      d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_TOP_LAT)->Type("39.05");
      d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_RIGHT_LNG)->Type(FormatFixed(right, 6));
      d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_BOTTOM_LAT)->Type(FormatFixed(bottom, 6));
      d.GetDlgItemAs<CButton>(IDOK)->Click();
    });
  }

  CHeadlessUiHost host;
  test::ScriptedView view;
  test::DirectPlugin plugin{view};
  GpExportContext context;
  std::string data;
  int overlay_hidden = 0;
  float right = 0, bottom = 0;
};

TEST_F(GpExportCommandTest, ANewJobFromTheAreaDialogRunsUnderTheProgressDialog) {
  AnswerArea();
  const std::string out = kFolders.File("export/gp.tif");
  fs::create_directories(kFolders.File("export"));
  double shown_km = 0;
  host.AnswerFile({out}, 2, [&](CFileDialog& d) {
    shown_km = std::atof(d.GetDlgItemText(CFileDialogExport::kIdAltitude).c_str());
    d.GetDlgItemAs<CEdit>(CFileDialogExport::kIdAltitude)->Type("4");
  });
  // No altitude kept yet (a fresh profile): the camera's altitude x 0.0008.
  OnGpMosaic(context);
  EXPECT_NEAR(shown_km, 5000.0 * 0.0008, 1e-6);
  EXPECT_EQ(overlay_hidden, 1);
  EXPECT_TRUE(fs::exists(out));
  EXPECT_TRUE(fs::exists(data + kGpListFile));
  EXPECT_EQ(host.LastMessage(), kGpDone);
  EXPECT_EQ(view.captures, 2);
  EXPECT_EQ(view.altitude, 5000);  // the camera back where it was
  EXPECT_EQ(GetProfileString("recent", "export", ""), out);
  EXPECT_EQ(GetProfileDouble("region", "export_alt", 0), 4.0);
  EXPECT_FLOAT_EQ(ProgramSettings().GetPointF("explt", {}).x, 116.0f);
  EXPECT_FLOAT_EQ(ProgramSettings().GetPointF("expbr", {}).y, std::stof(FormatFixed(bottom, 6)));
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

TEST_F(GpExportCommandTest, StoppedAndFinishedJobsAreAskedAbout) {
  GpExportState stopped;
  stopped.left = 116.0f, stopped.top = 39.05f, stopped.right = right = 116.12f, stopped.bottom = 39.0f;
  stopped.altitude = 5000;
  ASSERT_TRUE(WriteGpResumeFile(data + kGpResumeFile, stopped));
  // Cancel: nothing changes.
  host.AnswerMessageBox(IDCANCEL);
  OnGpMosaic(context);
  EXPECT_TRUE(fs::exists(data + kGpResumeFile));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{kGpResumeQuestion});
  // No: the file goes and the area dialog opens (cancelled here).
  host.ClearRecords();
  host.AnswerMessageBox(IDNO);
  host.AnswerDialog(CDlgAreaSetting::IDD, [](CDialog&) {});
  OnGpMosaic(context);
  EXPECT_FALSE(fs::exists(data + kGpResumeFile));
  ASSERT_EQ(host.Records().size(), 2u);
  EXPECT_EQ(host.Records()[1].caption, std::to_string(CDlgAreaSetting::IDD));
  EXPECT_EQ(view.captures, 0);

  // Yes resumes: no area dialog, the job of the file.
  ASSERT_TRUE(WriteGpResumeFile(data + kGpResumeFile, stopped));
  host.ClearRecords();
  host.AnswerMessageBox(IDYES);
  host.AnswerFile({kFolders.File("resumed.tif")});
  OnGpMosaic(context);
  EXPECT_FALSE(fs::exists(data + kGpResumeFile));
  EXPECT_TRUE(fs::exists(kFolders.File("resumed.tif")));
  EXPECT_GT(view.captures, 0);
  EXPECT_EQ(host.LastMessage(), kGpDone);

  // A finished job ("gp.lst"): No opens the preview of its shots; Cancel nothing.
  host.ClearRecords();
  host.AnswerMessageBox(IDNO);
  host.AnswerDialog(kMosaicPreviewDialogId, [](CDialog&) {});
  OnGpMosaic(context);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{kGpNewJobQuestion});
  ASSERT_EQ(host.Records().size(), 2u);
  EXPECT_EQ(host.Records()[1].caption, std::to_string(kMosaicPreviewDialogId));
  // A cancelled export dialog starts nothing.
  fs::remove(data + kGpListFile);
  const int captures = view.captures;
  AnswerArea();
  host.AnswerFileCancel();
  OnGpMosaic(context);
  EXPECT_EQ(view.captures, captures);
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

}  // namespace
}  // namespace velmora
