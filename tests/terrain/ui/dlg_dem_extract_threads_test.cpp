// Closing the elevation extraction dialog while its worker samples: the worker stops before the
// panel's arrays are cleared (run under ThreadSanitizer as well), and the dialog can run again; an
// earth view that goes closes the extraction sampling its screen first.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/counting_screen.h"
#include "support/isolated_folders.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/dem_extract_commands.h"
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

TEST(DlgDemExtractThreads, AViewThatGoesClosesTheExtractionSamplingItsScreenFirst) {
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  ScopedPageOptions built_in([] {
    PageOptions o = GetPageOptions();
    o.dem.contour_method = 0;
    return o;
  }());
  auto screen = std::make_unique<test::CountingScreen>();
  test::CountingScreen other;
  const std::vector<LngLatF> ring{{0, 0}, {999, 0}, {999, 999}, {0, 999}, {0, 0}};
  CDlgDemExtract* dialog = OpenDemExtractForScreen(ring, screen.get());
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(dialog->Panel().ScreenSource(), screen.get());
  dialog->SendMessage(WM_COMMAND, CDlgDemExtract::kCmdExtract, 0);
  UiDispatcher().PumpUntil([&] { return screen->asked.load() > 100; }, 10000);
  // Another view going leaves it alone.
  CloseDemExtractFor(&other);
  EXPECT_EQ(DemExtractDialog(), dialog);
  // This view going stops the worker and closes the dialog before the view is freed.
  CloseDemExtractFor(screen.get());
  EXPECT_EQ(DemExtractDialog(), nullptr);
  EXPECT_GT(screen->asked.load(), 0);
  screen.reset();
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
