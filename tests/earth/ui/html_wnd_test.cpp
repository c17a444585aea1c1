// The hidden script window: the shipped coordinate page against the program's own kind-4
// transforms, reply reading, the query pages' result codes, the load signal of mode -1, missing
// and broken pages, runaway page functions, exact GBK conversion, the bus-line and boundary pages
// over a real socket, and the map-window helpers of the 2D view with their installed hook.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "core/geodesy.h"
#include "core/scrambled_data.h"
#include "core/settings.h"
#include "earth/ui/html_wnd.h"
#include "earth/ui/script_page_engine.h"
#include "platform/text.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/splash_wnd.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "tiles/tile_manager.h"
#include "view/tile_engine.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr int kKind4Source = 13;  // a catalogue source in ellipsoidal Mercator

class CountingHtmlWnd : public CHtmlWnd {
 public:
  int completions = 0;

 protected:
  void OnDocumentComplete(const std::string& url) override {
    ++completions;
    CHtmlWnd::OnDocumentComplete(url);
  }
};

class HtmlWndTest : public ::testing::Test {
 protected:
  void SetUp() override { UiDispatcher().AttachToCurrentThread(); }
  static bool Pump(const std::function<bool()>& done) { return UiDispatcher().PumpUntil(done, 10000); }
  // Runs everything that loading posts (a page completes within two rounds of the queue).
  static void Settle() {
    for (int i = 0; i < 5; ++i) UiDispatcher().PumpPending();
  }
};

// A program folder of our own with the given pages packed as the build packs them.
class PageFolder {
 public:
  void Add(const std::string& name, const std::string& html) {
    ASSERT_TRUE(SaveScrambledFile(dir_.File(name + ".kmp"), html));
  }
  std::function<void(CAppOptions&)> Use() const {
    return [path = dir_.path()](CAppOptions& o) { o.program_dir = path; };
  }

 private:
  test::TempDir dir_;
};

// ---- the shipped coordinate page ----

TEST_F(HtmlWndTest, TheCoordinatePageAgreesWithTheKind4Transforms) {
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  // Before the page has loaded nothing converts, and the caller's values stay.
  double a = -1, b = -1, x = 116.4, y = 39.9;
  EXPECT_FALSE(wnd.CoordPixel(116.4, 39.9, &a, &b));
  EXPECT_FALSE(wnd.RequestCoordPixel(x, y));
  EXPECT_EQ(a, -1);
  EXPECT_EQ(x, 116.4);
  EXPECT_EQ(y, 39.9);
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));

  constexpr double kPixelTolerance = 1e-6;   // at zoom 18 the world is 67108864 pixels wide
  constexpr double kDegreeTolerance = 1e-9;
  std::vector<double> lats = {-90, -kEllipsoidalMercatorMaxLat, -85.08, 0, 1e-9, kEllipsoidalMercatorMaxLat, 90};
  for (double lat = -85; lat <= 85; lat += 2.5) lats.push_back(lat);
  int checked = 0;
  for (double lng = -180; lng <= 180; lng += 7.5) {
    for (double lat : lats) {
      PixelPoint want = LngLatToPixel(lng, lat, kKindEllipsoidalMercator, kScriptPixelZoom);
      ASSERT_TRUE(wnd.CoordPixel(lng, lat, &a, &b)) << lng << "," << lat;
      EXPECT_NEAR(a, want.x, kPixelTolerance) << lng << "," << lat;
      EXPECT_NEAR(b, want.y, kPixelTolerance) << lng << "," << lat;
      // The cross-thread entry answers the same on the user-interface thread itself.
      x = lng, y = lat;
      ASSERT_TRUE(wnd.RequestCoordPixel(x, y));
      EXPECT_EQ(x, a);
      EXPECT_EQ(y, b);
      ++checked;
    }
  }
  const double world = WorldPixels(kScriptPixelZoom);
  for (double px = -world / 3; px <= world * 1.4; px += world / 23) {
    for (double py = -1000; py <= world + 1000; py += world / 29) {
      LngLat want = PixelToLngLat(px, py, kKindEllipsoidalMercator, kScriptPixelZoom);
      ASSERT_TRUE(wnd.PixelCoord(px, py, &a, &b)) << px << "," << py;
      EXPECT_NEAR(a, want.lng, kDegreeTolerance) << px << "," << py;
      EXPECT_NEAR(b, want.lat, kDegreeTolerance) << px << "," << py;
      ++checked;
    }
  }
  EXPECT_GT(checked, 2000);
  // A coordinate that is not a number converts to nothing; an infinite latitude is the world's
  // edge, as in the program's transforms.
  EXPECT_FALSE(wnd.CoordPixel(std::nan(""), 10, &a, &b));
  EXPECT_FALSE(wnd.CoordPixel(10, std::nan(""), &a, &b));
  ASSERT_TRUE(wnd.CoordPixel(10, INFINITY, &a, &b));
  EXPECT_EQ(b, LngLatToPixel(10, INFINITY, kKindEllipsoidalMercator, kScriptPixelZoom).y);
}

// ---- replies ----

TEST(ReadCoordReplyTest, ReadsTheLeadingNumbersWithoutTheLocale) {
  const char* old_locale = std::setlocale(LC_ALL, nullptr);
  std::string saved = old_locale ? old_locale : "C";
  bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  double a = 0, b = 0;
  EXPECT_TRUE(ReadCoordReply("12.5,-3", &a, &b));
  EXPECT_EQ(a, 12.5);
  EXPECT_EQ(b, -3);
  EXPECT_TRUE(ReadCoordReply("42", &a, &b));
  EXPECT_EQ(a, 42);
  EXPECT_EQ(b, 42);
  EXPECT_TRUE(ReadCoordReply(" \t+7.25e2abc ,  -1e-3xyz, 9", &a, &b));
  EXPECT_EQ(a, 725);
  EXPECT_EQ(b, -0.001);
  EXPECT_TRUE(ReadCoordReply("no number", &a, &b));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
  EXPECT_TRUE(ReadCoordReply("5,", &a, &b));
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 0);
  a = b = 99;
  EXPECT_FALSE(ReadCoordReply("NaN,NaN", &a, &b));
  EXPECT_FALSE(ReadCoordReply("1,Infinity", &a, &b));
  EXPECT_FALSE(ReadCoordReply("1e999,2", &a, &b));
  EXPECT_EQ(a, 99);
  EXPECT_EQ(b, 99);
  std::setlocale(LC_ALL, saved.c_str());
  if (!german) GTEST_SKIP() << "de_DE.UTF-8 is not installed; read under the C locale only";
}

TEST_F(HtmlWndTest, RepliesOfTheCoordinatePageAreReadAsText) {
  PageFolder pages;
  pages.Add("bdcd", R"(<script>
      var replies = { 1: "12.5,-3", 2: "42", 3: "none", 4: 77.5, 5: [3, 4], 6: "NaN,1" };
      function CoordPixel(x, y) { return replies[x]; }
      function PixelCoord(x, y) { return String(x * 2) + "," + String(y * 2); }
    </script>)");
  ScopedAppOptions options(pages.Use());
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  double a = 0, b = 0;
  ASSERT_TRUE(wnd.CoordPixel(1, 0, &a, &b));
  EXPECT_EQ(a, 12.5);
  EXPECT_EQ(b, -3);
  ASSERT_TRUE(wnd.CoordPixel(2, 0, &a, &b));
  EXPECT_EQ(a, 42);
  EXPECT_EQ(b, 42);
  ASSERT_TRUE(wnd.CoordPixel(3, 0, &a, &b));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
  ASSERT_TRUE(wnd.CoordPixel(4, 0, &a, &b));  // a number reply reads as its text
  EXPECT_EQ(a, 77.5);
  EXPECT_EQ(b, 77.5);
  ASSERT_TRUE(wnd.CoordPixel(5, 0, &a, &b));  // an array reads as "3,4"
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 4);
  a = b = 1;
  EXPECT_FALSE(wnd.CoordPixel(6, 0, &a, &b));
  double x = 6, y = 0;
  EXPECT_FALSE(wnd.RequestCoordPixel(x, y));  // the marker carried the failure back
  EXPECT_EQ(x, 6);
  EXPECT_EQ(y, 0);
  ASSERT_TRUE(wnd.PixelCoord(0.25, -8, &a, &b));
  EXPECT_EQ(a, 0.5);
  EXPECT_EQ(b, -16);
}

TEST_F(HtmlWndTest, ARunawayPageFunctionFailsItsCall) {
  PageFolder pages;
  pages.Add("bdcd", R"(<script>
      function CoordPixel(x, y) { if (x > 0) for (;;) {} return "1,2"; }
      function PixelCoord(x, y) { var a = []; for (;;) a.push(new Array(1000)); }
    </script>)");
  ScopedAppOptions options(pages.Use());
  CHtmlWnd wnd;
  ScriptLimits limits;
  limits.call_ms = 100;
  limits.memory_bytes = size_t(16) << 20;
  dynamic_cast<CScriptPageEngine&>(wnd.Engine()).Script().SetLimits(limits);
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  double a = 5, b = 5;
  EXPECT_FALSE(wnd.CoordPixel(1, 0, &a, &b));
  EXPECT_FALSE(wnd.PixelCoord(1, 0, &a, &b));
  EXPECT_EQ(a, 5);
  ASSERT_TRUE(wnd.CoordPixel(-1, 0, &a, &b));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
}

// ---- query pages ----

const char kQueryPage[] = R"(<meta charset="utf-8"><script>
    var next = "0";
    function GetQueryResult() { return next; }
    function QuerBusLine(a, b) { next = a === "number" ? 17 : a + b; }
    function QuerPolygon(name) { next = name === "number" ? 17 : name; }
  </script>)";

TEST_F(HtmlWndTest, QueryResultCodes) {
  PageFolder pages;
  pages.Add("bdbl", kQueryPage);
  pages.Add("bpyg", kQueryPage);
  ScopedAppOptions options(pages.Use());
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    CountingHtmlWnd wnd;
    auto query = [&](const std::string& text) {
      return mode == 1 ? wnd.QuerBusLine(text, "") : wnd.QuerPolygon(text);
    };
    auto result = [&](std::string& text) {
      return mode == 1 ? wnd.GetQueryResult(text) : wnd.GetPolygonQueryResult(text);
    };
    std::string text = "kept";
    EXPECT_FALSE(query("x"));  // before the page has loaded
    EXPECT_FALSE(result(text));
    EXPECT_EQ(text, "kept");
    ASSERT_TRUE(wnd.CreateHidden(mode));
    ASSERT_TRUE(Pump([&] { return wnd.completions == 2; }));
    EXPECT_NE(wnd.FunctionId(mode == 1 ? CHtmlWnd::kQuerBusLine : CHtmlWnd::kQuerPolygon), 0);

    EXPECT_FALSE(result(text));  // "0": nothing yet
    EXPECT_EQ(text, "");
    ASSERT_TRUE(query("7"));
    text = "kept";
    EXPECT_TRUE(result(text));  // "7": done, nothing found
    EXPECT_EQ(text, "");
    ASSERT_TRUE(query("1路 → 火车站 😀"));
    EXPECT_TRUE(result(text));
    EXPECT_EQ(text, "1路 → 火车站 😀");
    // A reply that is not text leaves the text as it was.
    ASSERT_TRUE(query("number"));
    EXPECT_TRUE(result(text));
    EXPECT_EQ(text, "1路 → 火车站 😀");
    text.clear();
    EXPECT_FALSE(result(text));
  }
}

TEST_F(HtmlWndTest, TheBusLineAndBoundaryPagesAskTheirServices) {
  test::HttpTestServer server;
  server.Route("/busline", [](const test::HttpRequestRecord& r) {
    return test::HttpReply::Ok("lines for " + r.query, "text/plain; charset=utf-8");
  });
  server.Route("/boundary", test::HttpReply::Status(503));
  ASSERT_TRUE(WriteProfileString(kHtmlPagesSection, "busline_host", server.BaseUrl()));
  ASSERT_TRUE(WriteProfileString(kHtmlPagesSection, "boundary_host", server.BaseUrl() + "/"));

  CHtmlWnd bus;
  ASSERT_TRUE(bus.CreateHidden(1));
  ASSERT_TRUE(Pump([&] { return bus.FunctionId(CHtmlWnd::kQuerBusLine) != 0; }));
  std::string text;
  ASSERT_TRUE(bus.QuerBusLine("北京", "1路"));
  ASSERT_TRUE(Pump([&] { return bus.GetQueryResult(text); }));
  EXPECT_EQ(text, "lines for city=" + UrlEncode("北京") + "&line=" + UrlEncode("1路"));

  CHtmlWnd boundary;
  ASSERT_TRUE(boundary.CreateHidden(2));
  ASSERT_TRUE(Pump([&] { return boundary.FunctionId(CHtmlWnd::kQuerPolygon) != 0; }));
  ASSERT_TRUE(boundary.QuerPolygon("海淀区"));
  text = "kept";
  ASSERT_TRUE(Pump([&] { return boundary.GetPolygonQueryResult(text); }));
  EXPECT_EQ(text, "");  // the service failed: "7"
  ASSERT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(server.Requests()[1].target, "/boundary?name=" + UrlEncode("海淀区"));
}

// ---- life of the window ----

TEST_F(HtmlWndTest, ModeMinusOneSignalsOncePerDocumentAndLoadsNoPage) {
  CountingHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(-1));
  EXPECT_FALSE(wnd.LoadEvent().Wait(0));
  ASSERT_TRUE(Pump([&] { return wnd.completions == 1; }));
  EXPECT_TRUE(wnd.LoadEvent().Wait(0));
  EXPECT_FALSE(wnd.LoadEvent().Wait(0));  // auto reset: one signal per document
  Settle();
  EXPECT_EQ(wnd.completions, 1);  // no page of its own follows
  EXPECT_EQ(wnd.FunctionId(CHtmlWnd::kCoordPixel), 0);

  ASSERT_TRUE(wnd.LoadHtml("<script>function CoordPixel() { return '1,1'; }</script>"));
  ASSERT_TRUE(Pump([&] { return wnd.completions == 2; }));
  EXPECT_TRUE(wnd.LoadEvent().Wait(0));
  EXPECT_FALSE(wnd.LoadEvent().Wait(0));
  double a, b;
  EXPECT_FALSE(wnd.CoordPixel(1, 1, &a, &b));  // mode -1 looks up no function
}

TEST_F(HtmlWndTest, AMissingOrIncompletePageLeavesEveryCallFailing) {
  PageFolder pages;  // no pages at all
  ScopedAppOptions options(pages.Use());
  CountingHtmlWnd missing;
  ASSERT_TRUE(missing.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return missing.completions == 1; }));
  Settle();
  EXPECT_EQ(missing.completions, 1);
  double a = 3, b = 3;
  EXPECT_FALSE(missing.CoordPixel(1, 1, &a, &b));
  EXPECT_FALSE(missing.PixelCoord(1, 1, &a, &b));
  EXPECT_FALSE(missing.IsCoordReady());

  // A page without its second function is loaded once, not again and again.
  pages.Add("bdcd", "<script>function CoordPixel() { return '1,2'; }</script>");
  CountingHtmlWnd incomplete;
  ASSERT_TRUE(incomplete.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return incomplete.completions == 2; }));
  Settle();
  EXPECT_EQ(incomplete.completions, 2);
  EXPECT_TRUE(incomplete.CoordPixel(1, 1, &a, &b));
  EXPECT_FALSE(incomplete.PixelCoord(1, 1, &a, &b));
  EXPECT_FALSE(incomplete.IsCoordReady());
}

TEST_F(HtmlWndTest, CreateNavigateDestroyAndCreateAgain) {
  CountingHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  EXPECT_FALSE(wnd.CreateHidden(1));  // the window exists: nothing changes
  EXPECT_EQ(wnd.Mode(), 0);
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));

  // Code 2 navigates; the blank document's completion brings the mode's page back.
  const char blank[] = "about:blank";
  EXPECT_EQ(wnd.SendMessage(WM_UI_REQUEST, CHtmlWnd::kRequestNavigate, reinterpret_cast<LPARAM>(blank)), 1);
  EXPECT_EQ(wnd.SendMessage(WM_UI_REQUEST, 99, 0), 1);
  ASSERT_TRUE(Pump([&] { return wnd.completions == 4; }));
  EXPECT_TRUE(wnd.IsCoordReady());

  wnd.DestroyHidden();
  EXPECT_FALSE(wnd.IsWindow());
  double a = 8, b = 8, x = 1, y = 2;
  EXPECT_FALSE(wnd.CoordPixel(1, 2, &a, &b));
  EXPECT_FALSE(wnd.RequestCoordPixel(x, y));
  EXPECT_EQ(x, 1);
  EXPECT_EQ(a, 8);
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  EXPECT_TRUE(wnd.RequestCoordPixel(x, y));
}

TEST_F(HtmlWndTest, TheMainFramesWindowIsNamedAndMadeInCoordinateMode) {
  // A kind-4 map reads its coordinates through the page while the window exists.
  std::unique_ptr<CTileManager> tiles = test::MakeTileManager(kFolders.File("script_tiles/"));
  TileEngineOptions options;
  options.tiles = tiles.get();
  CTileEngine engine(options);
  engine.SetLayers({MapLayer{kKind4Source}});
  engine.SetWindowSize(400, 300);
  engine.SetCamera(116.4, 39.9, 9);
  const LngLat own = engine.ScreenToLngLat(10, 20);
  double lng = 0, lat = 0;
  EXPECT_TRUE(engine.WindowToLngLat(10, 20, &lng, &lat));

  SplashWnd().Reset();
  CreateHiddenScriptWindow();
  EXPECT_EQ(SplashWnd().Text(), "初始化搜索引擎");
  EXPECT_EQ(HtmlWnd().Name(), "Baidu Coord");
  EXPECT_EQ(HtmlWnd().Mode(), 0);
  EXPECT_FALSE(engine.WindowToLngLat(10, 20, &lng, &lat));  // the page is not ready yet
  EXPECT_EQ(lng, own.lng);                                  // the view's own answer meanwhile
  ASSERT_TRUE(Pump([] { return HtmlWnd().IsCoordReady(); }));
  ASSERT_TRUE(engine.WindowToLngLat(10, 20, &lng, &lat));  // the page's answer, as the kind's own
  EXPECT_NEAR(lng, own.lng, 1e-9);
  EXPECT_NEAR(lat, own.lat, 1e-9);

  DestroyHiddenScriptWindow();
  EXPECT_FALSE(HtmlWnd().IsCoordReady());
  EXPECT_FALSE(HtmlWnd().IsWindow());
  EXPECT_TRUE(engine.WindowToLngLat(10, 20, &lng, &lat));  // the hook went with the window
  EXPECT_EQ(lng, own.lng);
}

// ---- text ----

TEST(BstrFromAnsiTest, ConvertsGbkExactly) {
  const std::string gbk = Utf8ToAnsi(std::string_view("公交线路"));
  ASSERT_EQ(gbk.size(), 8u);
  EXPECT_EQ(BstrFromAnsi(gbk.c_str()), "公交线路");
  EXPECT_EQ(BstrFromAnsi(gbk.c_str(), 8), "公交线路");
  EXPECT_EQ(BstrFromAnsi(gbk.c_str(), 4), "公交");
  // A length that cuts a character shows that, instead of dropping or inventing text.
  EXPECT_EQ(BstrFromAnsi(gbk.c_str(), 3), "公\xEF\xBF\xBD");
  const std::string with_nul = std::string("a\0b", 3) + gbk;
  EXPECT_EQ(BstrFromAnsi(with_nul.data(), static_cast<int>(with_nul.size())), std::string("a\0b", 3) + "公交线路");
  EXPECT_EQ(BstrFromAnsi(with_nul.data()), "a");
  EXPECT_EQ(BstrFromAnsi(nullptr), "");
}

// ---- the 2D view's helpers ----

TEST_F(HtmlWndTest, MapWindowPixelsMatchTheKind4Window) {
  CHtmlWnd wnd;
  MapCamera camera;
  double lng = 0, lat = 0, x = 0, y = 0;
  EXPECT_FALSE(ScriptWindowToLngLat(wnd, camera, 1, 1, &lng, &lat));  // no page yet
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  const KindTransforms& t = TransformsOfKind(kKindEllipsoidalMercator);
  for (MapCamera cam : {MapCamera{116.391, 39.907, 12.5, 800, 600, 4}, MapCamera{-179.95, -60.2, 9.0, 1024, 768, 4},
                        MapCamera{10.0, 84.9, 3.2, 640, 480, 4}}) {
    // The window as the 2D view lays it out: the centre's world pixel in the middle.
    const double cx = t.lng_to_x(cam.lng, cam.zoom), cy = t.lat_to_y(cam.lat, cam.zoom);
    for (double px = 0; px <= cam.width; px += cam.width / 8.0) {
      for (double py = 0; py <= cam.height; py += cam.height / 6.0) {
        double wx = cx + (px - cam.width * 0.5), wy = cy + (py - cam.height * 0.5);
        double want_lng = t.x_to_lng(wx, cam.zoom), want_lat = t.y_to_lat(wy, cam.zoom);
        ASSERT_TRUE(ScriptWindowToLngLat(wnd, cam, px, py, &lng, &lat));
        EXPECT_NEAR(lng, want_lng, 1e-9);
        EXPECT_NEAR(lat, want_lat, 1e-9);
        ASSERT_TRUE(ScriptLngLatToWindow(wnd, cam, lng, lat, &x, &y));
        if (wy > 1 && wy < WorldPixels(cam.zoom) - 1) {  // beyond the world's edge the latitude clamps
          EXPECT_NEAR(x, px, 1e-5);
          EXPECT_NEAR(y, py, 1e-5);
        }
      }
    }
  }
  // Across the antimeridian the nearer copy of a point is taken.
  MapCamera east{179.99, 0, 10, 800, 600, 4};
  ASSERT_TRUE(ScriptLngLatToWindow(wnd, east, -179.99, 0, &x, &y));
  EXPECT_GT(x, 400);
  EXPECT_LT(x, 420);
}

}  // namespace
}  // namespace velmora
