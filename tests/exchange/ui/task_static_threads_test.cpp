// The region task panel with its worker: a task painting the progress picture and the status
// while the user-interface thread paints the panel and its timer shows the time, stopped by the
// user; a task that ends by itself; the panel destroyed while its worker waits in a send to the
// user-interface thread; the layer snapshot taken on the worker; a picture for more units than
// a picture can hold.
#include "velmora_build_paths.h"
#include "exchange/ui/task_static.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>

#include "core/format.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

constexpr unsigned kWait = 20000;  // upper bound of a wait; the tests end long before

// A map view whose layers change while workers copy them.
class LayeredView : public IMapViewState {
 public:
  MapCamera GetCamera() const override { return {}; }
  void GetViewBounds(float lt[2], float br[2]) const override { lt[0] = lt[1] = br[0] = br[1] = 0; }
  std::vector<MapLayer> CopyLayerList() const override {
    std::lock_guard lock(mutex_);
    return layers_;
  }
  void SetLayers(std::vector<MapLayer> layers) {
    std::lock_guard lock(mutex_);
    layers_ = std::move(layers);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<MapLayer> layers_;
};

class TaskStaticThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    ASSERT_TRUE(parent.Create(nullptr, 0, "地址下载", 0));
  }
  void TearDown() override {
    SetCurrentMapView(nullptr);
    parent.DestroyWindow();
    SetUiHost(nullptr);
  }
  CHeadlessUiHost host;
  CWnd parent;
};

// "%d:%d:%d.%d": hours, minutes, seconds and one digit of tenths.
bool IsElapsedText(const std::string& text) {
  int h = -1, m = -1, sec = -1, tenths = -1;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d.%d%c", &h, &m, &sec, &tenths, &tail) != 4) return false;
  return h >= 0 && m >= 0 && m < 60 && sec >= 0 && sec < 60 && tenths >= 0 && tenths < 10 &&
         text == FormatC("%d:%d:%d.%d", h, m, sec, tenths);
}

int CountColour(const CBitmap& b, Argb colour) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.GetPixel(x, y) == colour;
  return n;
}

TEST_F(TaskStaticThreadsTest, ATaskPaintsWhileThePanelIsPaintedAndStopsWhenAsked) {
  LayeredView view;
  MapLayer base;
  base.source_id = 0;
  view.SetLayers({base});
  SetCurrentMapView(&view);

  CTaskStatic panel;
  ASSERT_TRUE(panel.Create(&parent, 1511, "", WS_CHILD | WS_VISIBLE));
  panel.SetRegion({{119.2f, 37.1f}, {121.9f, 37.3f}, {121.5f, 35.2f}, {120.4f, 36.3f}, {119.6f, 35.0f}});
  RegionTiles tiles;
  ASSERT_TRUE(panel.RasterizeRegionTiles(1, 11, &tiles));
  ASSERT_TRUE(panel.ResetProgress(tiles.Width(), tiles.Height()));
  const int total = static_cast<int>(tiles.TileCount());
  ASSERT_GT(total, 10);

  std::atomic<size_t> layers_seen{0};
  ASSERT_TRUE(panel.StartTask("AddressDownloadThread", [&] {
    panel.SnapshotLayers();
    panel.Worker().SignalReady();
    layers_seen = panel.Layers().size();
    tiles.ForEachTileByColumn([&](int x, int y) {
      std::lock_guard lock(panel.Mutex());
      panel.SetProgress(x - tiles.x0, y - tiles.y0, 0xFF00FF00u);
      int done = ++panel.done;
      panel.SetStatus(FormatC("正在下载%d级数据...[%d-%d]", 11, done, panel.failed.load()));
      return !panel.Worker().QuitRequested();
    });
    panel.Worker().WaitQuit(kInfinite);  // a running task until the user stops it
    panel.FreeLayers();
  }));
  EXPECT_TRUE(panel.IsRunning());
  EXPECT_GE(UiDispatcher().TimerCount(), 1u);
  view.SetLayers({base, base});  // the view changes after the snapshot

  CBitmap canvas;
  ASSERT_TRUE(canvas.Create(320, 240));
  ASSERT_TRUE(UiDispatcher().PumpUntil(
      [&] {
        panel.OnPaint(canvas);  // the user-interface thread paints while the worker writes
        return panel.done.load() == total && panel.ElapsedText() != "0:0:0.0";
      },
      kWait));
  EXPECT_EQ(layers_seen.load(), 1u);
  EXPECT_TRUE(IsElapsedText(panel.ElapsedText())) << panel.ElapsedText();
  EXPECT_EQ(panel.Status(), FormatC("正在下载%d级数据...[%d-%d]", 11, total, 0));
  panel.OnPaint(canvas);
  EXPECT_GT(CountColour(canvas, 0xFF00FF00u), 100);  // the progress picture is on the panel
  SaveImageFile(canvas, VELMORA_BUILD_DIR "/test-artifacts/task_panel.png");  // for a look
  EXPECT_GT(panel.InvalidateCount(), 0u);

  ASSERT_TRUE(panel.StopTask());
  EXPECT_FALSE(panel.IsRunning());
  EXPECT_EQ(UiDispatcher().TimerCount(), 0u);  // timer 1 is gone with the task
  EXPECT_TRUE(panel.Layers().empty());
  const std::string final_time = panel.ElapsedText();
  UiDispatcher().PumpPending();
  EXPECT_EQ(panel.ElapsedText(), final_time);
}

TEST_F(TaskStaticThreadsTest, ATaskThatEndsByItselfStopsTheTimer) {
  CTaskStatic panel;
  ASSERT_TRUE(panel.Create(&parent, 1511, ""));
  ASSERT_TRUE(panel.ResetProgress(10, 10));
  for (int round = 0; round < 3; ++round) {  // a panel runs one task after another
    Event go;
    ASSERT_TRUE(panel.StartTask("DemDownload", [&] {
      panel.Worker().SignalReady();
      go.Wait(kWait);
      for (int i = 0; i < 10; ++i) panel.SetProgress(i, i, 0xFF0000FFu);
      panel.SetStatus("downloading-90m ok...[10-0]");
    }));
    EXPECT_FALSE(panel.StartTask("again", [] {})) << "one task at a time";
    go.Set();
    ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return !panel.IsRunning() && UiDispatcher().TimerCount() == 0; }, kWait));
  }
  EXPECT_EQ(panel.Status(), "downloading-90m ok...[10-0]");
  EXPECT_EQ(panel.ProgressAt(9, 9), 0xFF0000FFu);
  EXPECT_EQ(panel.ProgressAt(0, 9), 0u);
}

TEST_F(TaskStaticThreadsTest, DestroyingThePanelStopsAWorkerWaitingOnTheUserInterfaceThread) {
  std::atomic<int> served{0};
  parent.MapMessage(WM_UI_REQUEST, [&](WPARAM, LPARAM) {
    ++served;
    return LRESULT{1};
  });
  const HWND target = parent.GetSafeHwnd();
  auto panel = std::make_unique<CTaskStatic>();
  ASSERT_TRUE(panel->Create(&parent, 1511, ""));
  CTaskStatic* p = panel.get();
  ASSERT_TRUE(panel->StartTask("ThreadSetDEMData", [p, target] {
    p->Worker().SignalReady();
    while (!p->Worker().QuitRequested())
      UiDispatcher().SendMessage(target, WM_UI_REQUEST, 0, 0, &p->Worker().QuitRequest());
  }));
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return served.load() >= 3; }, kWait));
  panel->DestroyWindow();  // stops the worker while serving its sends
  EXPECT_FALSE(panel->IsRunning());
  EXPECT_EQ(UiDispatcher().TimerCount(), 0u);

  // The object going away with its task running stops it too.
  ASSERT_TRUE(panel->Create(&parent, 1511, ""));
  ASSERT_TRUE(panel->StartTask("ThreadSetDEMData", [p] {
    p->Worker().SignalReady();
    p->Worker().WaitQuit(kInfinite);
  }));
  panel.reset();
  UiDispatcher().PumpPending();  // the ended message finds no window: dropped
}

TEST_F(TaskStaticThreadsTest, ProgressForMoreUnitsThanAPictureHoldsIsScaled) {
  CTaskStatic panel;
  // China at zoom 18 is some 45,000 by 40,000 tiles.
  ASSERT_TRUE(panel.ResetProgress(45000, 40000, 0xFFFFFFFFu));
  EXPECT_GT(panel.ProgressScale(), 1);
  EXPECT_EQ(panel.ProgressWidth(), 45000);
  panel.SetProgress(44999, 39999, 0xFFFF0000u);
  panel.SetProgress(45000, 0, 0xFFFF0000u);  // outside: ignored
  panel.SetProgress(-1, 0, 0xFFFF0000u);
  EXPECT_EQ(panel.ProgressAt(44999, 39999), 0xFFFF0000u);
  EXPECT_EQ(panel.ProgressAt(0, 0), 0u);
  EXPECT_FALSE(panel.ResetProgress(0, 5));
  EXPECT_EQ(CTaskStatic::FormatElapsed(3723456), "1:2:3.4");
  EXPECT_EQ(CTaskStatic::FormatElapsed(59999), "0:0:59.9");
}

}  // namespace
}  // namespace velmora
