// The earth page's call channel and the automation above it, against a scripted page stand-in (no
// web engine): workers' calls reach the page in order and get their own answers, a stop or a
// time-out ends a wait, the page going away fails waiting calls at once, the user-interface
// thread never waits, a progress of 100 sent before the latest command never ends a picture
// wait, a stalled page raises, and camera steps and corner moves that do not settle end with the
// stop event set. The stand-in models a flat view: the terrain under a normalised point is the
// camera's focus plus the point times the half-size of the view in degrees.
#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "earth/ui/earth_link.h"
#include "earth/ui/google_earth_app.h"
#include "earth/ui/html_view_ex.h"
#include "platform/gfx/bitmap.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/earth/scripted_page_engine.h"

namespace velmora {
namespace {

using test::OnWorkerPumping;

constexpr int kWidth = 1024, kHeight = 768;
constexpr double kHalfWidthDeg = 2.0, kHalfHeightDeg = 1.5;  // the view's half-size in degrees

struct ScriptedWorld {
  std::shared_ptr<CEarthLink> link;
  uint64_t seq = 0;
  double lng = 100, lat = 20, range = 1000;
  double pick_bias = 0;       // added to every picked longitude (a centre that is never right)
  double overshoot = 1.0;     // how far a camera move goes of what was asked (2: oscillates)
  bool push_states = true;    // push a state of progress 100 after each command
  bool old_state_first = false;  // push a state of the previous command first
  std::vector<std::string> seen;  // commands in the order the page ran them
  std::set<std::string> hang;     // commands the page never answers
};

// The page: answers velmoraEarth.run on the user-interface thread, later (posted), as a web
// engine does.
class CScriptedPage : public test::CScriptedPageEngine {
 public:
  explicit CScriptedPage(ScriptedWorld& world) : CScriptedPageEngine(kWidth, kHeight), world_(world) {}
  void CallFunctionAsync(const std::string& function, std::vector<ScriptValue> args,
                         std::function<void(std::optional<ScriptValue>)> done) override {
    EXPECT_TRUE(UiDispatcher().IsUiThread());
    EXPECT_EQ(function, "velmoraEarth.run");
    UiDispatcher().PostCall([this, args = std::move(args), done = std::move(done)] {
      const std::string name = args.at(0).text;
      world_.seen.push_back(name == "echo" ? "echo " + args.at(1).text : name);
      if (world_.hang.count(name)) return;  // never answered
      std::string answer;
      auto num = [&](size_t i) { return args.at(i).number; };
      if (name == "echo") {
        answer = args.at(1).text;
      } else if (name == "camera") {
        answer = Text(world_.lng) + " " + Text(world_.lat) + " 0 " + Text(world_.range) + " 0 0";
      } else if (name == "setCamera") {
        world_.lng += world_.overshoot * (num(2) - world_.lng);
        world_.lat += world_.overshoot * (num(1) - world_.lat);
        world_.range = num(5) > 0 ? num(5) : num(3);
      } else if (name == "pick" || name == "pickPixel") {
        const double x = name == "pick" ? num(1) : 2 * num(1) / kWidth - 1;
        const double y = name == "pick" ? num(2) : 1 - 2 * num(2) / kHeight;
        answer = Text(world_.lng + x * kHalfWidthDeg + world_.pick_bias) + " " + Text(world_.lat + y * kHalfHeightDeg) +
                 " 0";
      } else if (name == "exaggeration") {
        answer = "1";
      }
      ++world_.seq;
      done(ScriptValue::String(std::to_string(world_.seq) + " " + answer));
      if (world_.old_state_first)
        world_.link->OnPageMessage(PictureDone(world_.seq - 1));
      if (world_.push_states) world_.link->OnPageMessage(PictureDone(world_.seq));
    });
  }

 private:
  static std::string Text(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
  }
  ScriptedWorld& world_;
};

class EarthLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.link = test::OpenScriptedPage(view, std::make_unique<CScriptedPage>(world));
  }
  void TearDown() override { world.link->Detach(); }

  ScriptedWorld world;
  CHtmlViewEx view;
};

TEST_F(EarthLinkTest, CallsOfManyWorkersArriveInOrderWithTheirOwnAnswers) {
  constexpr int kThreads = 4, kCalls = 50;
  std::atomic<int> finished{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const std::string mine = std::to_string(t) + ":" + std::to_string(i);
        std::optional<std::string> answer =
            world.link->Call("echo", {ScriptValue::String(mine)}, nullptr, 30000);
        if (answer != mine) ++wrong;
      }
      ++finished;
      UiDispatcher().Wake();
    });
  EXPECT_TRUE(UiDispatcher().PumpUntil([&] { return finished == kThreads; }, 60000));
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(world.link->AnsweredSeq(), uint64_t(kThreads * kCalls));
  // Each worker's calls reached the page in the order it made them.
  std::map<int, int> next;
  for (const std::string& s : world.seen) {
    int t = 0, i = 0;
    ASSERT_EQ(std::sscanf(s.c_str(), "echo %d:%d", &t, &i), 2) << s;
    EXPECT_EQ(i, next[t]++) << "thread " << t;
  }
}

TEST_F(EarthLinkTest, StopTimeOutAndAGonePageEndWaits) {
  world.hang = {"camera"};
  Event stop;
  std::string error;
  // A stop set while the worker waits.
  OnWorkerPumping([&] { EXPECT_FALSE(world.link->Call("camera", {}, &stop, 60000, &error)); },
                  [&] {
                    if (!world.seen.empty()) stop.Set();
                  });
  EXPECT_EQ(error, "stopped");
  // A time-out.
  OnWorkerPumping([&] { EXPECT_FALSE(world.link->Call("camera", {}, nullptr, 50, &error)); });
  EXPECT_EQ(error, "the earth page did not answer in time");
  // The page going away while a call waits: the call fails at once, later calls too.
  const size_t before = world.seen.size();
  OnWorkerPumping([&] { EXPECT_FALSE(world.link->Call("camera", {}, nullptr, 60000, &error)); },
                  [&] {
                    if (world.seen.size() > before && world.link->Status() == EarthPageStatus::kReady) world.link->Detach();
                  });
  EXPECT_EQ(error, "the earth page is gone");
  OnWorkerPumping([&] { EXPECT_FALSE(world.link->Call("echo", {ScriptValue::String("x")}, nullptr, 60000, &error)); });
  // The user-interface thread never waits on the page.
  EXPECT_FALSE(world.link->Call("echo", {ScriptValue::String("x")}, nullptr, 1000, &error));
}

TEST_F(EarthLinkTest, OnlyAProgressOfTheLatestCommandEndsAPictureWait) {
  CGoogleEarthApp app(world.link, nullptr);
  world.old_state_first = true;
  world.push_states = false;
  std::atomic<bool> waited{false};
  std::atomic<int> polls_before{1 << 30};  // set by the worker once its command ran
  OnWorkerPumping([&] {
    app.SetCameraParams(20, 100, 0, 2, 1000, 0, 0, 4.0);  // the page pushes "seq-1 100" only
    polls_before = app.PollCount();
    waited = app.WaitPicture();
  }, [&] {
    // After some polls the page reports the latest command's picture complete.
    if (app.PollCount() - polls_before.load() >= 5 && !waited)
      world.link->OnPageMessage("earth:state " + std::to_string(world.seq) + " 100 1 1024 768");
  });
  EXPECT_TRUE(waited);
  EXPECT_GE(app.PollCount() - polls_before.load(), 5);
  // A page whose state never moves: the stall time-out raises.
  app.SetStallTimeout(100);
  OnWorkerPumping([&] {
    app.SetCameraParams(21, 101, 0, 2, 1000, 0, 0, 4.0);
    try {
      app.WaitPicture();
      ADD_FAILURE() << "a stalled page ended the wait";
    } catch (const CEarthError& e) {
      EXPECT_EQ(e.Code(), kEarthStalled);
    }
  });
}

TEST_F(EarthLinkTest, StepsAndCornerMovesSettleOrStopTheJob) {
  Event stop;
  CGoogleEarthApp app(world.link, &stop);
  FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  OnWorkerPumping([&] {
    ASSERT_TRUE(app.StepCamera(110.0, 30.0, 5000.0, true));
    // One pixel up and right of the centre.
    EXPECT_NEAR(app.LngStepPerPixel(), 2 * kHalfWidthDeg / kWidth, 1e-12);
    EXPECT_NEAR(app.LatStepPerPixel(), 2 * kHalfHeightDeg / kHeight, 1e-12);
    ASSERT_TRUE(app.MoveLT(111.0, 31.0, log));
    double l, t, r, b;
    app.GetCaptureBounds(&l, &t, &r, &b);
    EXPECT_LT(std::fabs(l - 111.0), app.LngStepPerPixel());
    EXPECT_LT(std::fabs(t - 31.0), app.LatStepPerPixel());
    // The capture of a 1024 x 768 render window.
    std::unique_ptr<CBitmap> shot = app.CaptureRender();
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(shot->Width(), 936);
    EXPECT_EQ(shot->Height(), 605);
  });
  EXPECT_FALSE(stop.IsSet());
  std::rewind(log);
  char text[4096] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, log);
  std::fclose(log);
  const std::string lines(text, n);
  size_t at = 0;
  for (const char* stage : {"MoveLT...", "Lng put...", "Lng put Ok", "Lat put...", "Lat put Ok", "MoveLT Ok"}) {
    at = lines.find(std::string(" : ") + stage, at);
    EXPECT_NE(at, std::string::npos) << stage << " in " << lines;
  }
  EXPECT_EQ(lines.front(), '\n');

  // A centre that never comes to the target: StepCamera ends, the stop event set.
  world.pick_bias = 1e-6;
  OnWorkerPumping([&] { EXPECT_FALSE(app.StepCamera(112.0, 32.0, 5000.0, true)); });
  EXPECT_TRUE(stop.IsSet());
  // A view that overshoots every move: MoveLT ends, the stop event set.
  stop.Reset();
  world.pick_bias = 0;
  world.overshoot = 2.0;
  OnWorkerPumping([&] { EXPECT_FALSE(app.MoveLT(113.0, 33.0, nullptr)); });
  EXPECT_TRUE(stop.IsSet());
}

TEST_F(EarthLinkTest, SmallRenderWindowsAndClosedPagesFailCleanly) {
  Event stop;
  CGoogleEarthApp app(world.link, &stop);
  world.link->OnPageMessage("earth:state 0 100 1 88 500");
  OnWorkerPumping([&] { EXPECT_THROW(app.CaptureRender(), CEarthError); });
  world.link->Detach();
  OnWorkerPumping([&] {
    double param[3];
    app.GetCameraParam(param);
    EXPECT_EQ(param[0], 120.0);
    EXPECT_EQ(param[1], 36.0);
    EXPECT_EQ(param[2], 100000.0);
    EXPECT_THROW(app.GetCamera(), CEarthError);
    app.LookReset();  // caught
    app.SetTerrain(2.0);
  });
  CGoogleEarthApp none(std::shared_ptr<CEarthLink>(), nullptr);
  try {
    none.GetCamera();
    ADD_FAILURE() << "no application answered";
  } catch (const CEarthError& e) {
    EXPECT_EQ(e.Code(), kEarthPointerError);
  }
}

TEST(EarthStateTest, ParsesOnlyWholeStates) {
  std::optional<EarthPageState> s = ParseEarthState("12 100 1.5 1024 768");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->seq, 12u);
  EXPECT_EQ(s->progress, 100);
  EXPECT_EQ(s->exaggeration, 1.5);
  EXPECT_EQ(s->width, 1024);
  for (const char* bad : {"", "12 100 1", "12 101 1 10 10", "-1 50 1 10 10", "x 50 1 10 10", "1 50 1 -3 10"})
    EXPECT_FALSE(ParseEarthState(bad)) << bad;
}

}  // namespace
}  // namespace velmora
