// The plug-in controller's marshalled calls against a scripted page stand-in (no web engine): a
// worker's calls of every code run on the user-interface thread and bring the page's answers
// back; a quit request, a time-out or the plug-in object going away end a wait; an answer that
// comes after the worker gave up lands in the shared record only; unknown codes do nothing; the
// terrain switch of a worker reaches the page only from the user-interface thread; MoveLT reports
// its real result and gives up after its bound. The stand-in models a flat view: the point under
// a pixel is the camera's position plus the pixel's offset from the centre times 0.001 degrees.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <set>
#include <thread>

#include "core/format.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_plugin_object.h"
#include "earth/ui/ge_plugin_ctrl.h"
#include "earth/ui/html_view_ex.h"
#include "platform/gfx/bitmap.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/earth/scripted_page_engine.h"
#include "platform/ui/window.h"

namespace velmora {
namespace {

using test::OnWorkerPumping;

constexpr int kWidth = 800, kHeight = 600;
constexpr double kDegPerPixel = 0.001;

struct PageWorld {
  std::shared_ptr<CEarthLink> link;
  uint64_t seq = 0;
  double lon = 100, lat = 20, alt = 5000, heading = 0, tilt = 0, roll = 0;
  double drift = 0;               // added to each camera move's longitude (a view that never settles)
  bool terrain = true;
  std::vector<std::string> seen;  // commands in the order the page ran them
  std::set<std::string> hang;     // commands answered only by Release
  std::set<std::string> refuse;   // commands that fail
  std::vector<std::function<void()>> held;
  std::atomic<int> off_ui_thread{0};
};

class CPluginPage : public test::CScriptedPageEngine {
 public:
  explicit CPluginPage(PageWorld& world) : CScriptedPageEngine(kWidth, kHeight), world_(world) {}
  void CallFunctionAsync(const std::string&, std::vector<ScriptValue> args,
                         std::function<void(std::optional<ScriptValue>)> done) override {
    if (!UiDispatcher().IsUiThread()) ++world_.off_ui_thread;
    UiDispatcher().PostCall([this, args = std::move(args), done = std::move(done)]() mutable {
      const std::string name = args.at(0).text;
      world_.seen.push_back(name);
      auto answer = [this, name, args, done]() {
        if (world_.refuse.count(name)) return done(std::nullopt);
        auto num = [&](size_t i) { return args.at(i).number; };
        std::string text;
        if (name == "ge.camera") {
          text = FormatC("%.17g %.17g %.17g %.17g %.17g %.17g", world_.lon, world_.lat, world_.alt, world_.heading,
                         world_.tilt, world_.roll);
        } else if (name == "ge.setAbstractView") {
          world_.lon = num(1) + world_.drift;
          world_.lat = num(2);
          world_.alt = num(3);
          world_.heading = num(4);
          world_.tilt = num(5);
          world_.roll = num(6);
        } else if (name == "ge.hitTest") {
          const double lon = world_.lon + (num(1) - kWidth / 2) * kDegPerPixel;
          const double lat = world_.lat - (num(2) - kHeight / 2) * kDegPerPixel;
          text = FormatC("%.17g %.17g %g", lon, lat, num(3) == 2 ? 123.0 : 0.0);
        } else if (name == "ge.enableLayer") {
          if (num(1) == 1) world_.terrain = args.at(2).number != 0;
          text = std::string("layer1=") + (world_.terrain ? "1" : "0");
        } else if (name == "ge.options") {
          text = std::string("flyToSpeed=1 layer1=") + (world_.terrain ? "1" : "0");
        }
        ++world_.seq;
        done(ScriptValue::String(std::to_string(world_.seq) + " " + text));
        world_.link->OnPageMessage(PictureDone(world_.seq));
      };
      if (world_.hang.count(name))
        world_.held.push_back(answer);
      else
        answer();
    });
  }

 private:
  PageWorld& world_;
};

class PluginCtrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.link = test::OpenScriptedPage(page, std::make_unique<CPluginPage>(world));
    ASSERT_TRUE(window.Create(nullptr, 4, "GEPluginView"));
    ctrl = std::make_unique<CGEPluginCtrl>();
    ctrl->AttachMessageWindow(&window);
    ctrl->SetCallTimeout(20000);
    ctrl->SetPluginObject(CEarthPluginObject::FromHandOver(
        world.link, "1.0.0\tHIT_TEST_GLOBE=1,HIT_TEST_TERRAIN=2,SPEED_TELEPORT=5,LAYER_TERRAIN=1"));
    ASSERT_TRUE(ctrl->HasPluginObject());
  }
  void TearDown() override {
    window.DestroyWindow();
    ctrl.reset();
    world.link->Detach();
    UiDispatcher().PumpPending();
  }


  PageWorld world;
  CHtmlViewEx page;
  CWnd window;
  std::unique_ptr<CGEPluginCtrl> ctrl;
};

TEST_F(PluginCtrlTest, AWorkersCallsOfEveryCodeRunOnTheInterfaceThread) {
  std::atomic<bool> all_ok{true};
  auto check = [&](bool ok, const char* what) {
    if (!ok) {
      all_ok = false;
      ADD_FAILURE() << what;
    }
  };
  double center[3] = {0, 0, 0}, terrain[3] = {0, 0, 0};
  EarthCoordRecord record;
  record.value = 7;
  double percent = -1;
  bool moved = false;
  OnWorkerPumping([&] {
    check(ctrl->PushCamera(), "push");
    check(ctrl->SetCameraParam(110, 30, 8000, 0), "set camera");
    check(ctrl->GetCenter(center), "centre");
    check(ctrl->GetCoordByPos(400, 300, record, nullptr), "globe hit test");
    check(ctrl->GetCoordByPos(500, 200, terrain, nullptr), "terrain hit test");
    moved = ctrl->MoveLT(111.5, 30.5);
    percent = ctrl->GetStreamingPercent();
    check(ctrl->SetTerrainLayer(false), "terrain off");
    check(ctrl->SetFlyToSpeed(-1), "teleport speed");
    check(ctrl->PopCamera(), "pop");
  });
  EXPECT_TRUE(all_ok);
  EXPECT_DOUBLE_EQ(center[0], 110);
  EXPECT_DOUBLE_EQ(center[1], 30);
  EXPECT_DOUBLE_EQ(center[2], 8000);
  EXPECT_EQ(record.value, 7);  // the caller's own value stays
  EXPECT_DOUBLE_EQ(record.lng, 110);
  EXPECT_DOUBLE_EQ(record.lat, 30);
  EXPECT_NEAR(terrain[0], 110.1, 1e-9);
  EXPECT_NEAR(terrain[1], 30.1, 1e-9);
  EXPECT_EQ(terrain[2], 123);
  EXPECT_TRUE(moved);
  EXPECT_EQ(percent, 100);
  EXPECT_FALSE(world.terrain);
  EXPECT_EQ(ctrl->LayerFlags() & kGELayerTerrain, 0u);
  // The pop brought back the camera pushed first.
  EXPECT_DOUBLE_EQ(world.lon, 100);
  EXPECT_DOUBLE_EQ(world.lat, 20);
  EXPECT_DOUBLE_EQ(world.alt, 5000);
  // The page was only ever called on the user-interface thread; the terrain switch went there.
  EXPECT_EQ(world.off_ui_thread.load(), 0);
  EXPECT_NE(std::find(world.seen.begin(), world.seen.end(), "ge.enableLayer"), world.seen.end());
}

TEST_F(PluginCtrlTest, MoveLTPutsTheCoordinateUnderTheCornerAndStopsAtItsBound) {
  double corner[3] = {0, 0, 0};
  bool moved = false, stays = false;
  size_t moves_before = 0, moves_after = 0;
  OnWorkerPumping([&] {
    moved = ctrl->MoveLT(101.25, 19.5);
    EarthCoordRecord r;
    ctrl->GetCoordByPos(5, 70, r, nullptr);
    corner[0] = r.lng;
    corner[1] = r.lat;
  });
  EXPECT_TRUE(moved);
  EXPECT_NEAR(corner[0], 101.25, 1e-6);
  EXPECT_NEAR(corner[1], 19.5, 1e-6);
  // Already there: no camera move at all.
  moves_before = std::count(world.seen.begin(), world.seen.end(), "ge.setAbstractView");
  OnWorkerPumping([&] { stays = ctrl->MoveLT(corner[0], corner[1]); });
  moves_after = std::count(world.seen.begin(), world.seen.end(), "ge.setAbstractView");
  EXPECT_TRUE(stays);
  EXPECT_EQ(moves_after, moves_before);

  // A view that never settles: FALSE after the bound, with the trace.
  world.drift = 0.01;
  bool settled = true;
  OnWorkerPumping([&] { settled = ctrl->MoveLT(90, 10); });
  EXPECT_FALSE(settled);
  EXPECT_EQ(std::count(world.seen.begin(), world.seen.end(), "ge.setAbstractView") - moves_after, kMoveLTMaxRounds);
  EXPECT_EQ(ctrl->LastTrace().rfind("MoveLT Error [0x80004005], [Unspecified error], ", 0), 0u) << ctrl->LastTrace();

  // A failing page: the worker hears FALSE, not TRUE.
  world.drift = 0;
  world.refuse = {"ge.setAbstractView"};
  OnWorkerPumping([&] { settled = ctrl->MoveLT(95, 15); });
  EXPECT_FALSE(settled);
}

TEST_F(PluginCtrlTest, QuitTimeOutLateAnswersAndAGoneObjectEndWaits) {
  world.hang = {"ge.hitTest"};
  Event quit;
  EarthCoordRecord record;
  record.lng = -1;
  record.lat = -2;
  bool ok = true;
  // A quit request while the page has not answered.
  OnWorkerPumping([&] { ok = ctrl->GetCoordByPos(10, 10, record, &quit); },
                  [&] {
                    if (!world.held.empty()) quit.Set();
                  });
  EXPECT_FALSE(ok);
  // The late answer lands in the shared record; the worker's values stay as they were.
  ASSERT_EQ(world.held.size(), 1u);
  world.held.front()();
  world.held.clear();
  UiDispatcher().PumpPending();
  EXPECT_EQ(record.lng, -1);
  EXPECT_EQ(record.lat, -2);

  // A time-out.
  ctrl->SetCallTimeout(50);
  OnWorkerPumping([&] { ok = ctrl->GetCoordByPos(10, 10, record, nullptr); });
  EXPECT_FALSE(ok);
  world.held.clear();

  // Capture bounds fail when a corner fails; nothing stale comes back.
  ctrl->SetCallTimeout(20000);
  world.hang.clear();
  world.refuse = {"ge.hitTest"};
  double l = 1, t = 2, r = 3, b = 4;
  OnWorkerPumping([&] { ok = ctrl->GetCaptureBounds(&l, &t, &r, &b); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(l + t + r + b, 10);
  EXPECT_TRUE(std::isnan(ctrl->GetCaptureCornerLat()));

  // The object going away while a worker waits: the wait ends at once; later reads give 0.
  world.refuse.clear();
  world.hang = {"ge.camera"};
  double percent = -1;
  bool streamed = true;
  OnWorkerPumping([&] {
    ok = ctrl->PushCamera();
    percent = ctrl->GetStreamingPercent();
    streamed = ctrl->WaitStreaming(nullptr, 60000);
  },
           [&] {
             if (!world.held.empty() && ctrl->HasPluginObject()) ctrl->SetPluginObject(nullptr);
           });
  EXPECT_FALSE(ok);
  EXPECT_EQ(percent, 0.0);
  EXPECT_FALSE(streamed);
  world.held.clear();
}

TEST_F(PluginCtrlTest, CodesAboveSevenDoNothing) {
  auto request = std::make_shared<GEPluginRequest>();
  std::optional<LRESULT> result;
  const size_t before = world.seen.size();
  OnWorkerPumping([&] {
    result = UiDispatcher().SendMessage(window.GetSafeHwnd(), kGEPluginRequestMessage, 8,
                                        reinterpret_cast<LPARAM>(request.get()));
  });
  UiDispatcher().PumpPending();
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 1);
  EXPECT_FALSE(request->Done());
  EXPECT_EQ(world.seen.size(), before);
  // The user-interface thread's own calls never wait: a hit test there fails at once.
  EarthCoordRecord record;
  EXPECT_FALSE(ctrl->GetCoordByPos(1, 1, record, nullptr));
  EXPECT_FALSE(ctrl->MoveLT(1, 1));
}

// The texts the page sends and the traces' message texts.
TEST(PluginTexts, NumbersOptionsFeaturesAndErrorTexts) {
  EXPECT_EQ(ParsePluginNumbers("120.5,36.1,5000", 3, ','), (std::vector<double>{120.5, 36.1, 5000}));
  EXPECT_EQ(ParsePluginNumbers(" 1e-7 , -2 ,3", 3, ','), (std::vector<double>{1e-7, -2, 3}));
  EXPECT_EQ(ParsePluginNumbers("1  2 3 4", 3, ' '), (std::vector<double>{1, 2, 3}));
  EXPECT_FALSE(ParsePluginNumbers("120.5,36.1", 3, ','));
  EXPECT_FALSE(ParsePluginNumbers("120.5,nan,1", 3, ','));
  EXPECT_FALSE(ParsePluginNumbers("inf,1,1", 3, ','));
  EXPECT_FALSE(ParsePluginNumbers("1,2,", 3, ','));
  EXPECT_FALSE(ParsePluginNumbers("1,x2,3", 3, ','));
  const std::map<std::string, double> options = ParsePluginOptions("grid=1 sun=0 bad=x =3 layer1=1");
  EXPECT_EQ(options, (std::map<std::string, double>{{"grid", 1}, {"sun", 0}, {"layer1", 1}}));
  const std::vector<GEPluginFeature> features = ParsePluginFeatures("0\t7\t1\t区域\n1\t8\t0\ta\tb\nbroken\n");
  ASSERT_EQ(features.size(), 2u);
  EXPECT_EQ(features[0].name, "区域");
  EXPECT_EQ(features[1].depth, 1);
  EXPECT_EQ(features[1].id, 8);
  EXPECT_FALSE(features[1].visible);
  EXPECT_EQ(features[1].name, "a\tb");
  EXPECT_EQ(PluginErrorMessage(kGECallError), "Unspecified error");
  EXPECT_EQ(PluginErrorMessage(static_cast<long>(0x80040205)), "IDispatch error #5");
  EXPECT_EQ(PluginErrorMessage(static_cast<long>(0x80070057)), "Unknown error 0x80070057");
  // A hand-over without constants or version is refused.
  EXPECT_EQ(CEarthPluginObject::FromHandOver(std::make_shared<CEarthLink>(), "1.0.0"), nullptr);
  EXPECT_EQ(CEarthPluginObject::FromHandOver(std::make_shared<CEarthLink>(), "1.0.0\tX=nan"), nullptr);
}

}  // namespace
}  // namespace velmora
