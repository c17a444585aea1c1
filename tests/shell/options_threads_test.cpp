// Options changed on the options sheet while workers run: an elevation worker that keeps asking
// the elevation store (which reads the source mode from the options at every look-up) answers
// from the height files once the elevation page's OK chose SRTM, and stops when it chose none;
// a contour worker reading the page's values sees the generation method change. Run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/page_options.h"
#include "core/settings.h"
#include "core/work_thread.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/options_sheet.h"
#include "support/isolated_folders.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

// What a worker saw last, and a wait for it.
class Seen {
 public:
  void Report(int value) {
    {
      std::lock_guard lock(mutex_);
      if (value == value_) return;
      value_ = value;
    }
    changed_.notify_all();
  }
  bool WaitFor(int value) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return value_ == value; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int value_ = -1;
};

// Runs the options sheet with the elevation page's controls set as a person would.
void ChooseOnElevationPage(CHeadlessUiHost& host, int source_mode, int method) {
  host.AnswerDialog(CPropertySheet::kTemplateId, [=](CDialog& d) {
    auto& sheet = static_cast<COptionsSheet&>(d);
    sheet.DemPage().GetDlgItemAs<CComboBox>(CPgOptDem::kIdSourceMode)->Select(source_mode);
    sheet.DemPage().GetDlgItemAs<CComboBox>(CPgOptDem::kIdMethod)->Select(method);
    sheet.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  ASSERT_EQ(ShowOptionsSheet(), IDOK);
}

TEST(OptionsThreads, ElevationPageReachesRunningWorkers) {
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  ScopedAppOptions start([](CAppOptions& o) { o.dem_source_mode = kDemSourceNone; });
  ScopedPageOptions page(PageOptions{});

  // A 3-arc-second tile at 100-105 E, 40-35 N; only its first rows are written.
  test::TempDir dir;
  HeightGridLayout layout = HeightLayout3s(57, 5);
  layout.height = 24;
  ASSERT_TRUE(WriteHeightSamples(dir.File(CHeightFile::FileName(CHeightFile3s::TileNumber(57, 5), kHeightFileSmh)),
                                 BuildHeightGrid(layout, [](double, double) { return 1234.0; })));
  CElevationStore store(nullptr, dir.path());

  Seen status, method;
  std::atomic<long> lookups{0};
  CWorkThread elevation, contour;
  ASSERT_TRUE(elevation.Start("ElevationWorker", [&] {
    elevation.SignalReady();
    while (!elevation.WaitQuit(0)) {
      float pos[2] = {100.01f, 39.999f};
      float height = 0;
      int s = store.GetElevation(pos, &height, 90);  // the mode of the options snapshot now
      status.Report(s == kElevFound && height == 1234.0f ? kElevFound : s);
      ++lookups;
    }
  }));
  ASSERT_TRUE(contour.Start("ContourWorker", [&] {
    contour.SignalReady();
    while (!contour.WaitQuit(1)) method.Report(GetPageOptions().dem.contour_method);
  }));

  EXPECT_TRUE(status.WaitFor(kElevNoData));
  EXPECT_TRUE(method.WaitFor(0));
  ChooseOnElevationPage(host, kDemSourceSrtm, 1);
  EXPECT_EQ(AppOptions().dem_source_mode, kDemSourceSrtm);
  EXPECT_TRUE(status.WaitFor(kElevFound));
  EXPECT_TRUE(method.WaitFor(1));
  ChooseOnElevationPage(host, kDemSourceNone, 0);
  EXPECT_TRUE(status.WaitFor(kElevNoData));
  EXPECT_TRUE(method.WaitFor(0));

  EXPECT_TRUE(elevation.Stop(kInfinite));
  EXPECT_TRUE(contour.Stop(kInfinite));
  EXPECT_GT(lookups.load(), 0);
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
