// The mosaic preview of a job's shots (list file, shots present, join, a broken list removed,
// retakes only of the earth application's jobs and only inside the job) and the snapshot mosaic
// dialog's size on a screen.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/settings.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/dlg_mosaic_preview.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(nullptr);

void WriteShot(const std::string& prefix, int c, int r) {
  CBitmap shot;
  ASSERT_TRUE(shot.Create(20, 10, MakeArgb(255, uint8_t(50 * c), uint8_t(60 * r), 90)));
  ASSERT_TRUE(SaveImageFile(shot, MosaicShotPath(AppOptions().data_dir, prefix, c, r), ImageType::kBmp));
}

TEST(MosaicPreviewTest, ListsJoinsAndRefusesWhatItCannotDo) {
  const std::string data = AppOptions().data_dir;
  std::filesystem::create_directories(data);
  GeMosaicList list{2, 2, 0, data + "preview.png", 2000.0f, 100};
  ASSERT_TRUE(WriteGeListFile(data + "ge.lst", list));
  WriteShot("ge", 0, 0);
  WriteShot("ge", 1, 0);
  WriteShot("ge", 0, 1);
  CDlgMosaicPreview preview("ge");
  ASSERT_TRUE(preview.LoadJob());
  EXPECT_EQ(preview.Job().output_path, list.output_path);
  std::vector<CDlgMosaicPreview::Shot> shots = preview.Shots();
  ASSERT_EQ(shots.size(), 4u);
  EXPECT_TRUE(shots[0].present);
  EXPECT_FALSE(shots[3].present);
  EXPECT_EQ(shots[3].column, 1);
  EXPECT_EQ(shots[3].row, 1);
  // The shorter second row leaves its end blank.
  std::string written, error;
  ASSERT_EQ(preview.Join(&written, &error), MosaicResult::kWritten) << error;
  CBitmap joined;
  ASSERT_TRUE(LoadImageFile(written, &joined));
  EXPECT_EQ(joined.Width(), 40);
  EXPECT_EQ(joined.Height(), 20);
  EXPECT_EQ(joined.GetPixel(25, 15), 0xFFFFFFFFu);
  // Retakes: outside the job, or of another job's shots, refused without running anything.
  EXPECT_FALSE(preview.Retake(2, 0));
  EXPECT_FALSE(preview.Retake(0, -1));
  ASSERT_TRUE(WriteGeListFile(data + "gp.lst", list));
  CDlgMosaicPreview plugin("gp");
  ASSERT_TRUE(plugin.LoadJob());
  EXPECT_FALSE(plugin.Retake(0, 0));
  // A broken list is removed; a missing one loads nothing.
  test::WriteTestFile(data + "gp.lst", "broken");
  EXPECT_FALSE(plugin.LoadJob());
  EXPECT_FALSE(std::filesystem::exists(data + "gp.lst"));
  EXPECT_FALSE(plugin.LoadJob());
  EXPECT_EQ(plugin.Join(), MosaicResult::kFailed);
}

TEST(MosaicPreviewTest, SnapshotDialogSize) {
  int w = 0, h = 0;
  GeMosaicDialogSize(1920, 1080, false, &w, &h);
  EXPECT_EQ(w, 1382);
  EXPECT_EQ(h, 755);
  GeMosaicDialogSize(1920, 1080, true, &w, &h);
  EXPECT_EQ(w, 1920);
  EXPECT_EQ(h, 1080);
  GeMosaicDialogSize(1000, 1000, false, &w, &h);
  EXPECT_EQ(w, 720);  // 1000 x 0.72f = 720.0000286...
  EXPECT_EQ(h, 699);  // 1000 x 0.7f = 699.999988...
}

}  // namespace
}  // namespace velmora
