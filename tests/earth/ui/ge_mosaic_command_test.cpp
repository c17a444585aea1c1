// The earth application's mosaic set-up on a headless host: a stopped job's question (cancel keeps
// it, no drops it), the last job's question (no opens its preview), the kept corners preset into
// the area dialog, the confirmed corners, export path and altitude kept, and the mosaic run on
// exactly that area (seen in the resume file a stopped run leaves, with the failure of the missing
// earth page told); a mosaic project's values preset in the export file dialog.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/format.h"
#include "core/settings.h"
#include "earth/ge_mosaic_job.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/dlg_mosaic_preview.h"
#include "earth/ui/ge_mosaic_command.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "view/dlg_area_setting.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(nullptr);

TEST(GeMosaicCommandTest, KeptCornersBecomeTheJobAndOldJobsAreAskedAbout) {
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  const std::string data = AppOptions().data_dir;
  std::filesystem::create_directories(data);
  ProgramSettings().SetPointF("explt", {120.35f, 36.5f});
  ProgramSettings().SetPointF("expbr", {120.75f, 36.1f});

  // A stopped job waits: cancel leaves it and opens nothing.
  GeMosaicJob old;
  old.output_path = data + "old.jpg";
  old.left = 1, old.top = 2, old.right = 3, old.bottom = 1;
  ASSERT_TRUE(WriteGeResumeFile(data + kGeResumeFile, old));
  host.ClearRecords();
  host.AnswerMessageBox(IDCANCEL);
  EXPECT_FALSE(RunGeMosaicCommand(nullptr, nullptr, 5.0));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{kGeResumeQuestion});
  EXPECT_EQ(host.Records().size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(data + kGeResumeFile));

  // No drops it; the area dialog shows the kept corners, the person moves the west edge.
  host.AnswerMessageBox(IDNO);
  host.AnswerDialog(CDlgAreaSetting::IDD, [&](CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CDlgAreaSetting::IDC_LEFT_LNG), FormatFixed(120.35f, 6));
    EXPECT_EQ(d.GetDlgItemText(CDlgAreaSetting::IDC_BOTTOM_LAT), FormatFixed(36.1f, 6));
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_LEFT_LNG)->Type("120.2");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  const std::string out = data + "mosaic.png";
  host.AnswerFile({out}, 4, [](CFileDialog& d) {
    EXPECT_EQ(static_cast<CFileDialogExport&>(d).altitude_km, 5.0) << "the caller's default";
    d.GetDlgItemAs<CEdit>(CFileDialogExport::kIdAltitude)->Type("2.5");
  });
  // No earth page here: the person is told, and the run stops with its job in the resume file.
  host.ClearRecords();
  host.AnswerDialog(kGeMosaicDialogId, [](CDialog&) {});
  int after = 0;
  EXPECT_TRUE(RunGeMosaicCommand(nullptr, nullptr, 5.0, [&after] { ++after; }));
  EXPECT_EQ(after, 1);
  EXPECT_EQ(host.MessageTexts(), (std::vector<std::string>{kGeResumeQuestion, kGeMosaicNoEarth}));
  EXPECT_EQ(GetProfileString("recent", "export", ""), out);
  EXPECT_EQ(GetProfileDouble("region", "export_alt", 0), 2.5);
  EXPECT_EQ(ProgramSettings().GetPointF("explt", {}).x, 120.2f);
  GeMosaicJob job;
  ASSERT_TRUE(ReadGeResumeFile(data + kGeResumeFile, &job));
  EXPECT_EQ(job.output_path, out);
  EXPECT_EQ(job.left, 120.2f);
  EXPECT_EQ(job.top, 36.5f);
  EXPECT_EQ(job.right, 120.75f);
  EXPECT_EQ(job.bottom, 36.1f);
  EXPECT_EQ(job.altitude, 2500.0f);
  EXPECT_EQ(job.coordinates, 1u);
  EXPECT_EQ(host.PendingAnswers(), 0u);

  // The last job's list without a stopped job: cancel ends, no opens the preview of "ge".
  std::filesystem::remove(data + kGeResumeFile);
  GeMosaicList list;
  list.columns = list.rows = 1;
  list.output_path = out;
  ASSERT_TRUE(WriteGeListFile(data + kGeListFile, list));
  host.ClearRecords();
  host.AnswerMessageBox(IDCANCEL);
  EXPECT_FALSE(RunGeMosaicCommand(nullptr, nullptr, 5.0));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{kGeNewJobQuestion});
  bool previewed = false;
  host.AnswerMessageBox(IDNO);
  host.AnswerDialog(kMosaicPreviewDialogId, [&previewed](CDialog&) { previewed = true; });
  EXPECT_FALSE(RunGeMosaicCommand(nullptr, nullptr, 5.0));
  EXPECT_TRUE(previewed);
  EXPECT_EQ(host.PendingAnswers(), 0u);
  SetUiHost(nullptr);
}

TEST(GeMosaicCommandTest, AProjectPresetsTheExportDialog) {
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  GeMosaicJob written;
  written.output_path = "/somewhere/else/city.jpg";
  written.delay_ms = 750;
  written.full_screen = 1;
  written.coordinates = 0;
  written.left = 116.25f, written.top = 40.5f, written.right = 116.75f, written.bottom = 40.0f;
  written.next_lng = 116.5f, written.next_lat = 40.25f, written.altitude = 3500.0f;
  written.column = 2, written.row = 1;
  GeMosaicJob job;
  std::string layer, error;
  ASSERT_TRUE(ParseGeProjectText(GeProjectFileText(written), &job, &layer, &error)) << error;
  EXPECT_EQ(layer, "GE");
  EXPECT_EQ(job.output_path, "city.jpg");
  EXPECT_EQ(job.left, 116.25f);
  EXPECT_EQ(job.bottom, 40.0f);
  EXPECT_EQ(job.altitude, 3500.0f);
  EXPECT_EQ(job.column, 2u);
  // Broken texts are refused whole.
  for (const char* bad : {"NAME: a.jpg\nLAYER: GE\n", "NAME: a\nLAYER: GE\nDELAY: x\nFULLSCREEN: 0\nCOORD: 1\nBOUND: 1,2;3,4;5,6,7;0,0",
                          "NAME: a\nLAYER: GE\nDELAY: 1\nFULLSCREEN: 0\nCOORD: 1\nBOUND: 1,2;3,nan;5,6,7;0,0",
                          "NAME: a\nLAYER: GE\nDELAY: -5\nFULLSCREEN: 0\nCOORD: 1\nBOUND: 1,2;3,4;5,6,7;0,0"})
    EXPECT_FALSE(ParseGeProjectText(bad, &job, &layer, &error)) << bad;

  GeExportPreset preset;
  preset.path = "/tmp/city.jpg";
  preset.altitude_m = 3500.0f;
  preset.delay_ms = 750;
  preset.full_screen = true;
  preset.coordinates = false;
  host.AnswerFile({}, 0, [](CFileDialog& d) {
    EXPECT_EQ(d.InitialPath(), "/tmp/city.jpg");
    auto& file = static_cast<CFileDialogExport&>(d);
    EXPECT_EQ(file.altitude_km, 3.5);
    EXPECT_EQ(file.delay_ms, 750);
    EXPECT_TRUE(file.full_screen);
    EXPECT_FALSE(file.geographic);
  });
  const float lt[2] = {116.25f, 40.5f}, br[2] = {116.75f, 40.0f};
  EXPECT_FALSE(GeExportImage(nullptr, lt, br, 5.0, &preset)) << "cancelled";
  EXPECT_EQ(host.PendingAnswers(), 0u);
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
