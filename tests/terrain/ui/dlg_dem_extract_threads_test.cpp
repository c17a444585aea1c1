// Closing the elevation extraction dialog while its worker samples: the worker stops before the
// panel's arrays are cleared (run under ThreadSanitizer as well), and the dialog can run again.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/dlg_dem_extract.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

TEST(DlgDemExtractThreads, ClosingMidExtractionStopsTheWorkerBeforeClearing) {
  UpdateAppOptions([](CAppOptions& o) {
    o.program_dir = kFolders.File("program/");
    o.dem_source_mode = kDemSourceSrtm;
  });
  HeightGridLayout layout = HeightLayout3s(60, 5);
  layout.height = 150;
  ASSERT_TRUE(WriteHeightSamples(
      AppOptions().program_dir + "data/" + CHeightFile::FileName(CHeightFile3s::TileNumber(60, 5), kHeightFileSmh),
      BuildHeightGrid(layout, [](double lon, double lat) { return 100 + 1000 * (lon - 116) + 500 * (lat - 39.9); })));
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  ScopedPageOptions built_in([] {
    PageOptions o = GetPageOptions();
    o.dem.contour_method = 0;
    return o;
  }());
  for (int round = 0; round < 3; ++round) {
    CDlgDemExtract dialog;
    // About 3.7 million nodes: far more than one round samples before the close.
    ASSERT_TRUE(dialog.SetPoints({116.0f, 40.0f}, {116.2f, 39.8f}, 12));
    ShowModelessDialog(&dialog);
    dialog.SendMessage(WM_COMMAND, CDlgDemExtract::kCmdExtract, 0);
    ASSERT_TRUE(dialog.Panel().IsExtracting());
    // Let the worker fill some of the grid while this thread paints.
    CBitmap canvas;
    ASSERT_TRUE(canvas.Create(200, 150));
    UiDispatcher().PumpUntil([&] { return DemSampleCounter().load() > 1000 * (round + 1); }, 10000);
    dialog.Panel().OnPaint(canvas);
    dialog.OnCancel();
    EXPECT_FALSE(dialog.Panel().IsRunning());
    EXPECT_FALSE(dialog.Panel().IsExtracting());
    EXPECT_TRUE(dialog.Panel().Data().points.empty());
    EXPECT_EQ(dialog.Panel().Data().tracer.nx(), 0);
  }
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
