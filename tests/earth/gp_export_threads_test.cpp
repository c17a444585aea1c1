// The plug-in export's worker against a scripted view that lives on the user-interface thread:
// every plug-in call is posted to that thread and waited for on a shared record, the view-change
// event is raised by the user-interface thread after a move, the progress dialog appears late,
// and Cancel comes from the user-interface thread in the middle of the shots. Run under TSan.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <future>

#include "core/work_thread.h"
#include "gp_export_stand_in.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// The user-interface thread's queue of calls.
class UiQueue {
 public:
  void Post(std::function<void()> call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
    cv_.notify_one();
  }
  // Runs what is queued, waiting up to `ms` for a first call.
  void Pump(unsigned ms) {
    std::deque<std::function<void()>> calls;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !calls_.empty(); });
      calls.swap(calls_);
    }
    for (auto& call : calls) call();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> calls_;
};

// The scripted view reached only on the user-interface thread. A worker's call waits for its
// answer on a record shared with the posted call (a late answer lands there, never on the
// worker's stack) up to a time-out.
class MarshalledPlugin : public IGpExportPlugin {
 public:
  MarshalledPlugin(test::ScriptedView& view, UiQueue& ui) : view_(view), ui_(ui) {}

  bool PushCamera() override { return Call<bool>([this] { return view_.Push(); }); }
  bool PopCamera() override { return Call<bool>([this] { return Moved(view_.Pop()); }); }
  bool SetCameraParam(double lng, double lat, double alt) override {
    return Call<bool>([=, this] { return Moved(view_.SetCamera(lng, lat, alt)); });
  }
  bool MoveLT(double lng, double lat) override { return Call<bool>([=, this] { return Moved(view_.MoveLT(lng, lat)); }); }
  bool GetCaptureBounds(double* l, double* t, double* r, double* b) override {
    std::array<double, 5> got = Call<std::array<double, 5>>([this] {
      std::array<double, 5> v{};
      v[4] = view_.Bounds(&v[0], &v[1], &v[2], &v[3]) ? 1 : 0;
      return v;
    });
    if (got[4] == 0) return false;
    *l = got[0];
    *t = got[1];
    *r = got[2];
    *b = got[3];
    return true;
  }
  bool GetCoordByPos(int x, int y, double out[3]) override {
    std::array<double, 4> got = Call<std::array<double, 4>>([=, this] {
      std::array<double, 4> v{};
      v[3] = view_.Hit(x, y, v.data()) ? 1 : 0;
      return v;
    });
    std::copy(got.begin(), got.begin() + 3, out);
    return got[3] != 0;
  }
  double GetStreamingPercent() override { return Call<double>([this] { return view_.Percent(); }); }
  bool SetTerrainLayer(bool on) override { return Call<bool>([=, this] { return view_.SetTerrain(on); }); }
  bool TerrainLayerOn() override { return Call<bool>([this] { return view_.terrain; }); }
  bool GetRenderSize(int* w, int* h) override {
    std::pair<int, int> size = Call<std::pair<int, int>>([this] { return std::make_pair(view_.width, view_.height); });
    *w = size.first;
    *h = size.second;
    return size.first > 0;
  }
  std::unique_ptr<CBitmap> CaptureRender() override {
    std::shared_ptr<CBitmap> shot = Call<std::shared_ptr<CBitmap>>([this] {
      return std::shared_ptr<CBitmap>(view_.Capture().release());
    });
    if (!shot) return nullptr;
    auto copy = std::make_unique<CBitmap>();
    *copy = std::move(*shot);
    return copy;
  }
  void ResetViewChange() override { view_change_.Reset(); }
  bool WaitViewChange(Event& quit, unsigned timeout_ms) override {
    const uint64_t end = TickCount64() + timeout_ms;
    while (!quit.IsSet()) {
      if (view_change_.Wait(1)) return true;
      if (TickCount64() >= end) return false;
    }
    return false;
  }

  std::atomic<int> late_answers{0};
  Event abandoned{true, false};  // a call was given up
  std::atomic<unsigned> call_timeout_ms{5000};

 private:
  // The page reports the end of a move on a later turn of the user-interface thread.
  bool Moved(bool ok) {
    ui_.Post([this] {
      if (view_.view_changed) {
        view_.view_changed = false;
        view_change_.Set();
      }
    });
    return ok;
  }
  template <class R>
  R Call(std::function<R()> call) {
    struct Record {
      std::promise<R> answer;
      std::atomic<bool> abandoned{false};
    };
    auto record = std::make_shared<Record>();
    std::future<R> answer = record->answer.get_future();
    ui_.Post([record, call, this] {
      if (record->abandoned) ++late_answers;
      record->answer.set_value(call());
    });
    if (answer.wait_for(std::chrono::milliseconds(call_timeout_ms)) != std::future_status::ready) {
      record->abandoned = true;
      abandoned.Set();
      return R{};
    }
    return answer.get();
  }

  test::ScriptedView& view_;
  UiQueue& ui_;
  Event view_change_{false, false};  // auto-reset
};

// The progress dialog: its window appears on the user-interface thread some turns after start.
class DialogHost : public test::RecordingHost {
 public:
  bool WaitDialogReady(Event& quit, unsigned timeout_ms) override {
    const uint64_t end = TickCount64() + timeout_ms;
    while (!window_.IsSet()) {
      if (quit.Wait(1) || TickCount64() >= end) return false;
    }
    return true;
  }
  Event window_{true, false};
};

class GpExportThreads : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::ScriptedView view;  // user-interface thread only, while a worker runs
  UiQueue ui;
  MarshalledPlugin plugin{view, ui};
  DialogHost host;
  CWorkThread worker;

  GpExportParams Params(const std::string& name, bool rectangle) {
    fs::create_directories(dir.File("data"));
    GpExportParams p;
    p.data_folder = dir.File("data/");
    p.output_path = dir.File(name);
    p.delay_ms = 1;
    p.has_rectangle = rectangle;
    p.left = 116.0f;
    p.top = 39.05f;
    const double s = view.scale / test::PixelsPerDegree();
    p.right = static_cast<float>(116.0 + 1.5 * 936 * s);
    p.bottom = static_cast<float>(MercatorYToLat(MercatorLatToY(39.05, 20) + 1.5 * 605 * view.scale, 20));
    p.altitude = 5000;
    p.view_change_timeout_ms = 500;
    return p;
  }

  // Runs a job on the worker while this thread serves the view; `each_turn` runs on this thread
  // between turns.
  GpExportResult RunJob(const GpExportParams& p, const std::function<void()>& each_turn = nullptr) {
    GpExportResult result;
    std::atomic<bool> done{false};
    worker.Start("ThreadExport", [&] {
      worker.SignalReady();
      result = RunGpExport(p, plugin, host, worker.QuitRequest());
      done = true;
    });
    int turns = 0;
    while (!done) {
      ui.Pump(2);
      if (++turns == 3) host.window_.Set();  // the dialog shows after the worker started
      if (each_turn) each_turn();
    }
    worker.Stop(kInfinite);
    ui.Pump(0);
    return result;
  }
};

TEST_F(GpExportThreads, WholeJobWithCancelFromTheUserInterfaceThreadAndResume) {
  view.centre_lng = 100;
  // Cancel as the dialog's button would, once the second shot is taken.
  bool cancelled = false;
  GpExportResult r = RunJob(Params("out.tif", true), [&] {
    if (!cancelled && view.captures == 2) {
      worker.QuitRequest().Set();
      cancelled = true;
    }
  });
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(r.interrupted);
  EXPECT_FALSE(r.finished);
  EXPECT_TRUE(fs::exists(dir.File("data/gp.exp")));
  EXPECT_FALSE(fs::exists(dir.File("out.tif")));
  EXPECT_EQ(view.centre_lng, 100);  // the camera is back after the stop
  EXPECT_TRUE(view.terrain);
  EXPECT_EQ(host.closed, 1);

  r = RunJob(Params("out.tif", false));
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(view.captures, 4);
  EXPECT_EQ(r.columns, 2);
  EXPECT_EQ(r.rows, 2);
  CBitmap joined;
  ASSERT_TRUE(LoadImageFile(dir.File("out.tif"), &joined));
  EXPECT_EQ(joined.Width(), 2 * 936);
  EXPECT_EQ(joined.Height(), 2 * 605);
  EXPECT_TRUE(host.Said(kGpDone));
  EXPECT_EQ(view.terrain_at_capture, std::vector<bool>(4, false));
  EXPECT_TRUE(view.terrain);
  EXPECT_EQ(view.centre_lng, 100);
}

TEST_F(GpExportThreads, ACallThatTimesOutLeavesItsLateAnswerToTheSharedRecord) {
  // The user-interface thread stops serving after the first move until the worker has given up
  // on a call; then Cancel, and the stale call is served after its sender left.
  // The short time-out starts with the block, so that a slow machine's first calls do not end
  // the job before it.
  GpExportParams p = Params("late.tif", true);
  p.view_change_timeout_ms = 20;
  bool blocked = false;
  GpExportResult r = RunJob(p, [&] {
    if (!blocked && view.moves >= 1) {
      plugin.call_timeout_ms = 50;
      blocked = true;
      EXPECT_TRUE(plugin.abandoned.Wait(5000));
      worker.QuitRequest().Set();
    }
  });
  EXPECT_TRUE(blocked);
  EXPECT_GE(plugin.late_answers.load(), 1);
  EXPECT_FALSE(r.finished);
  EXPECT_TRUE(r.interrupted);
  EXPECT_TRUE(fs::exists(dir.File("data/gp.exp")));
  EXPECT_FALSE(fs::exists(dir.File("late.tif")));
  EXPECT_TRUE(view.terrain);  // restored once the thread served again
}

}  // namespace
}  // namespace velmora
