// The main frame's snapshot mosaic command on a real 2D view: a stopped job's question (cancel
// keeps it, no drops it), the box preset into the area dialog, the confirmed corners, export path
// and altitude kept, and the mosaic run on exactly that area (seen in the resume file a stopped
// run leaves, with the failure of the missing earth page told).
#include <gtest/gtest.h>

#include <filesystem>

#include "core/format.h"
#include "core/settings.h"
#include "earth/ge_mosaic_job.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/ge_mosaic_command.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "view/dlg_area_setting.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(nullptr);

TEST(GeMosaicCommandTest, TheBoxBecomesTheJobAndAStoppedJobIsAskedAbout) {
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  const std::string data = AppOptions().data_dir;
  std::filesystem::create_directories(data);
  auto tiles = test::MakeTileManager(kFolders.File("tiles/"));
  TileEngineOptions engine;
  engine.tiles = tiles.get();
  CPDView view({}, engine);
  ASSERT_TRUE(view.CreateView(WS_VISIBLE, nullptr));
  view.SendMessage(WM_SIZE, 0, MAKELPARAM(640, 480));
  view.SetCamera(120.35, 36.12, 10.0, false);
  float tl[2], br[2];
  EXPECT_FALSE(GeMosaicViewArea(view, tl, br)) << "no box, no region";
  view.SetTool(CPDView::Tool::kBox);
  view.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 150));
  view.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 250));
  view.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(440, 330));  // the view's own area dialog: cancelled
  const LngLat a = view.Engine().ScreenToLngLat(200, 150), b = view.Engine().ScreenToLngLat(440, 330);
  ASSERT_TRUE(GeMosaicViewArea(view, tl, br));
  EXPECT_EQ(tl[0], float(a.lng));
  EXPECT_EQ(br[1], float(b.lat));

  // A stopped job waits: cancel leaves it and opens nothing.
  GeMosaicJob old;
  old.output_path = data + "old.jpg";
  old.left = 1, old.top = 2, old.right = 3, old.bottom = 1;
  ASSERT_TRUE(WriteGeResumeFile(data + kGeResumeFile, old));
  host.ClearRecords();
  host.AnswerMessageBox(IDCANCEL);
  EXPECT_FALSE(RunGeMosaicCommand(&view));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{kGeResumeQuestion});
  EXPECT_EQ(host.Records().size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(data + kGeResumeFile));

  // No drops it; the area dialog shows the box, the person moves the west edge.
  host.AnswerMessageBox(IDNO);
  host.AnswerDialog(CDlgAreaSetting::IDD, [&](CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CDlgAreaSetting::IDC_LEFT_LNG), FormatFixed(float(a.lng), 6));
    EXPECT_EQ(d.GetDlgItemText(CDlgAreaSetting::IDC_BOTTOM_LAT), FormatFixed(float(b.lat), 6));
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_LEFT_LNG)->Type("120.2");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  const std::string out = data + "mosaic.png";
  host.AnswerFile({out}, 4, [](CFileDialog& d) { d.GetDlgItemAs<CEdit>(CFileDialogExport::kIdAltitude)->Type("2.5"); });
  // No earth page here: the person is told, and the run stops with its job in the resume file.
  host.ClearRecords();
  host.AnswerDialog(kGeMosaicDialogId, [](CDialog&) {});
  EXPECT_TRUE(RunGeMosaicCommand(&view));
  EXPECT_EQ(host.MessageTexts(), (std::vector<std::string>{kGeResumeQuestion, kGeMosaicNoEarth}));
  EXPECT_EQ(GetProfileString("recent", "export", ""), out);
  EXPECT_EQ(GetProfileDouble("region", "export_alt", 0), 2.5);
  EXPECT_EQ(ProgramSettings().GetPointF("explt", {}).x, 120.2f);
  GeMosaicJob job;
  ASSERT_TRUE(ReadGeResumeFile(data + kGeResumeFile, &job));
  EXPECT_EQ(job.output_path, out);
  EXPECT_EQ(job.left, 120.2f);
  EXPECT_EQ(job.top, float(a.lat));
  EXPECT_EQ(job.right, float(b.lng));
  EXPECT_EQ(job.bottom, float(b.lat));
  EXPECT_EQ(job.altitude, 2500.0f);
  EXPECT_EQ(job.coordinates, 1u);
  EXPECT_EQ(host.PendingAnswers(), 0u);
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
