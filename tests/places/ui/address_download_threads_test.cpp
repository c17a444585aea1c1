// The address data download against the test web server standing in for the three geocoders:
// every enabled source asked once per tile of the region and level, source 8 spaced, stored
// tiles painted without a request, failures red, the cell layout of two and three sources, a
// slow reply counted before the finished text, the resume files after a stop and after a full
// run, an empty level range and a service that cannot be reached.
#include "velmora_build_paths.h"
#include "places/ui/addr_download_ctrl.h"
#include "places/ui/address_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "../places_test_util.h"
#include "core/format.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "view/pd_view.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;
using test::HttpTestServer;
using test::Recorded;

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

constexpr unsigned kWait = 30000;  // upper bound of a wait; the tests end long before
constexpr char kPath8[] = "/maps/api/geocode/json";
constexpr char kPath111[] = "/geocoder";
constexpr char kPath112[] = "/gss/simple";

// A box near Qingdao: one or two tiles a side at levels 10 and 11.
const std::vector<LngLatF> kRegion = {{120.1f, 36.3f}, {120.6f, 36.3f}, {120.6f, 35.95f}, {120.1f, 35.95f}};

std::vector<std::pair<int, int>> RegionTileList(int zoom) {
  RegionTiles tiles;
  EXPECT_TRUE(RasterizeRegionTiles(1, zoom, std::span<const LngLatF>(kRegion), &tiles));
  std::vector<std::pair<int, int>> out;
  tiles.ForEachTileByColumn([&](int x, int y) {
    out.emplace_back(x, y);
    return true;
  });
  return out;
}

class AddressDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    ASSERT_TRUE(parent.Create(nullptr, 0, "地址下载", 0));
    PointHostsAt(server.Port());
    WriteProfileString(kKeysSection, "111", "0123456789abcdef");
    EnableOnly({8, 111, 112});
    tiles = test::MakeTileManager(dir.File("tiles/"), 3, false);
  }
  void TearDown() override {
    panel.reset();
    tiles.reset();
    EnableOnly({8, 111, 112});
    parent.DestroyWindow();
    SetUiHost(nullptr);
  }
  static void PointHostsAt(uint16_t port) {
    for (const char* id : {"8", "111", "112"}) WriteProfileString(kHostsSection, id, FormatC("127.0.0.1:%u", port));
  }
  static void EnableOnly(std::initializer_list<int> ids) {
    CLayerManager& layers = LayerManager();
    for (int i = 0; i < layers.GeocoderCount(); ++i) {
      bool on = false;
      for (int id : ids) on = on || layers.GeocoderAt(i)->id == id;
      layers.SetGeocoderEnabled(i, on);
    }
  }
  // Serves each geocoder's recorded reply, noting when each request of source 8 arrived.
  void ServeRecorded() {
    server.RoutePrefix(kPath8, [this](const HttpRequestRecord&) {
      std::lock_guard lock(mutex);
      arrivals8.push_back(TickCount64());
      return HttpReply::Ok(Recorded("geocoder_qingdao.json"), "application/json");
    });
    server.RoutePrefix(kPath111, [](const HttpRequestRecord&) { return HttpReply::Ok(Recorded("reverse_geocode.json")); });
    server.RoutePrefix(kPath112, [](const HttpRequestRecord&) { return HttpReply::Ok(Recorded("poi_search.txt")); });
  }
  size_t RequestsTo(const std::string& path) const {
    size_t n = 0;
    for (const HttpRequestRecord& r : server.Requests()) n += r.path == path;
    return n;
  }
  void Download(int first, int last) {
    panel = std::make_unique<CAddrDownloadCtrl>(tiles.get());
    ASSERT_TRUE(panel->Create(&parent, CDlgAddressDownload::kIdPanel, ""));
    const int zoom[2] = {first, last};
    ASSERT_TRUE(panel->Start(kRegion, zoom));
  }
  bool WaitForEnd() { return UiDispatcher().PumpUntil([&] { return !panel->IsRunning(); }, kWait); }
  // The units of tile (x, y)'s cell at a level (relative to the first tile of the range).
  Argb CellPixel(int zoom, int x, int y, int px, int py, int side) const {
    RegionTiles tiles_at;
    RasterizeRegionTiles(1, zoom, std::span<const LngLatF>(kRegion), &tiles_at);
    return panel->ProgressAt(int64_t(x - tiles_at.x0) * side + px, int64_t(y - tiles_at.y0) * side + py);
  }

  test::TempDir dir;
  ScopedAppOptions options{[this](CAppOptions& o) {
    o.data_dir = dir.path();
    o.download_threads = 2;
  }};
  CHeadlessUiHost host;
  CWnd parent;
  HttpTestServer server;
  std::unique_ptr<CTileManager> tiles;
  std::unique_ptr<CAddrDownloadCtrl> panel;
  std::mutex mutex;
  std::vector<uint64_t> arrivals8;
};

TEST_F(AddressDownloadTest, EverySourceIsAskedOncePerTileAndSource8IsSpaced) {
  ServeRecorded();
  // One slow reply of the last level: still counted before the finished text shows.
  const auto last_tiles = RegionTileList(11);
  ASSERT_FALSE(last_tiles.empty());
  std::atomic<bool> slowed{false};
  server.RoutePrefix(kPath112, [&](const HttpRequestRecord&) {
    HttpReply reply = HttpReply::Ok(Recorded("poi_search.txt"));
    if (!slowed.exchange(true)) reply.delay_ms = 600;
    return reply;
  });
  // Resume files of an earlier stopped run are removed by a complete one.
  test::WriteTestFile(dir.File("addr.hdt"), "");
  test::WriteTestFile(dir.File("addr.hbm"), "old");

  Download(10, 11);
  EXPECT_EQ(parent.GetWindowText(), "地址下载 - zoom:10-11");
  EXPECT_TRUE(panel->IsRunning());
  ASSERT_TRUE(WaitForEnd());

  const size_t per_source = RegionTileList(10).size() + last_tiles.size();
  EXPECT_EQ(RequestsTo(kPath8), per_source);
  EXPECT_EQ(RequestsTo(kPath111), per_source);
  EXPECT_EQ(RequestsTo(kPath112), per_source);
  const int total = static_cast<int>(3 * per_source);
  EXPECT_EQ(panel->Status(), FormatC("下载完毕.[%d-%d]", total, 0));
  EXPECT_EQ(panel->done.load(), total);
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(arrivals8.size(), per_source);
    for (size_t i = 1; i < arrivals8.size(); ++i) EXPECT_GE(arrivals8[i] - arrivals8[i - 1], 100u) << i;
  }
  // Three sources: 2 × 2 cells, the fourth pixel of each stays unpainted (last level shown).
  ASSERT_EQ(panel->ProgressWidth() % 2, 0);
  for (auto [x, y] : last_tiles) {
    EXPECT_EQ(CellPixel(11, x, y, 0, 0, 2), kAddrTileLoaded);
    EXPECT_EQ(CellPixel(11, x, y, 0, 1, 2), kAddrTileLoaded);
    EXPECT_EQ(CellPixel(11, x, y, 1, 0, 2), kAddrTileLoaded);
    EXPECT_EQ(CellPixel(11, x, y, 1, 1, 2), 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("addr.hdt")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("addr.hbm")));
  // Every reply is in its source's store.
  for (int id : {8, 111, 112})
    for (auto [x, y] : last_tiles) EXPECT_TRUE(tiles->IsTileStored(MakeTileKey(x, y, TileKeyValue(id, 11)))) << id;
}

TEST_F(AddressDownloadTest, StoredTilesAreBlueWithoutARequestAndFailuresRed) {
  EnableOnly({111, 112});
  server.RoutePrefix(kPath111, [](const HttpRequestRecord&) { return HttpReply::ServerError(); });
  server.RoutePrefix(kPath112, [](const HttpRequestRecord&) { return HttpReply::Ok(Recorded("poi_no_amap.txt")); });
  const auto level = RegionTileList(11);
  ASSERT_GE(level.size(), 2u);
  // The first tile of source 111 is stored already.
  const std::string stored = Recorded("reverse_geocode.json");
  CTileStore* store = tiles->OpenStore(111);
  ASSERT_NE(store, nullptr);
  const auto [sx, sy] = level.front();
  store->Write(MakeTileKey(sx, sy, TileKeyValue(111, 11)), stored.data(), stored.size(), false);

  Download(11, 11);
  EXPECT_EQ(parent.GetWindowText(), "地址下载 - zoom:11");
  ASSERT_TRUE(WaitForEnd());
  const int n = static_cast<int>(level.size());
  EXPECT_EQ(RequestsTo(kPath111), level.size() - 1);  // retries are off in the test manager
  EXPECT_EQ(panel->Status(), FormatC("下载完毕.[%d-%d]", 1, 2 * n - 1));
  // Two sources: 2 × 2 cells, the second column of each cell unpainted.
  EXPECT_EQ(CellPixel(11, sx, sy, 0, 0, 2), kAddrTileStored);
  for (size_t i = 0; i < level.size(); ++i) {
    auto [x, y] = level[i];
    if (i > 0) {
      EXPECT_EQ(CellPixel(11, x, y, 0, 0, 2), kAddrTileFailed);
    }
    EXPECT_EQ(CellPixel(11, x, y, 0, 1, 2), kAddrTileFailed);  // a reply that fails its check
    EXPECT_EQ(CellPixel(11, x, y, 1, 0, 2), 0u);
    EXPECT_EQ(CellPixel(11, x, y, 1, 1, 2), 0u);
  }
}

TEST_F(AddressDownloadTest, AFirstLevelAboveTheLastDownloadsNothing) {
  ServeRecorded();
  Download(11, 10);
  EXPECT_EQ(parent.GetWindowText(), "地址下载 - zoom:11");
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(panel->Status(), "下载完毕.[0-0]");
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(AddressDownloadTest, AStopLeavesTheResumeFiles) {
  EnableOnly({111});
  server.RoutePrefix(kPath111, [](const HttpRequestRecord&) { return HttpReply::Delayed(20000, HttpReply::Ok("{}")); });
  Download(10, 11);
  ASSERT_TRUE(server.WaitForRequests(1, kWait));
  ASSERT_TRUE(panel->IsRunning());
  const int second[2] = {10, 10};
  EXPECT_FALSE(panel->Start(kRegion, second)) << "one download at a time";
  ASSERT_TRUE(panel->StopTask());
  EXPECT_FALSE(panel->IsRunning());
  EXPECT_EQ(test::ReadTestFile(dir.File("addr.hdt")), "");
  CBitmap picture;
  ASSERT_TRUE(LoadImageFile(dir.File("addr.hbm"), &picture));
  EXPECT_EQ(picture.Width(), panel->ProgressWidth() + 2);
  EXPECT_EQ(picture.Height(), panel->ProgressHeight() + 2);
  EXPECT_EQ(picture.GetPixel(0, 0), 0xFFFFFFFFu);  // the frame
  EXPECT_TRUE(panel->Status().starts_with("下载完毕.")) << panel->Status();
  server.Stop();
}

TEST_F(AddressDownloadTest, AServiceThatCannotBeReachedEndsRed) {
  EnableOnly({111});
  uint16_t closed = 0;
  {
    HttpTestServer gone;
    closed = gone.Port();
  }
  PointHostsAt(closed);
  Download(10, 10);
  ASSERT_TRUE(WaitForEnd());
  const int n = static_cast<int>(RegionTileList(10).size());
  EXPECT_EQ(panel->Status(), FormatC("下载完毕.[%d-%d]", 0, n));
  for (auto [x, y] : RegionTileList(10)) EXPECT_EQ(CellPixel(10, x, y, 0, 0, 1), kAddrTileFailed);
}

TEST_F(AddressDownloadTest, TheBoxToolStartsOneDownloadOverTheLevelsAsked) {
  EnableOnly({112});
  ServeRecorded();
  TileEngineOptions engine;
  engine.tiles = tiles.get();
  CPDView view({}, engine);
  ASSERT_TRUE(view.CreateView(WS_VISIBLE, nullptr));
  view.SendMessage(WM_SIZE, 0, MAKELPARAM(640, 480));
  view.SetCamera(120.35, 36.12, 10.6, false);
  ArmAddressDownload(view, tiles.get());
  EXPECT_EQ(view.GetTool(), CPDView::Tool::kBox);
  const LngLat tl = view.Engine().ScreenToLngLat(200, 150), br = view.Engine().ScreenToLngLat(440, 330);
  host.AnswerDialog(CDlgAddressLevels::kTemplateId, [](CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(CDlgAddressLevels::kIdFirst), "10") << "the view's zoom, rounded down";
    EXPECT_EQ(d.GetDlgItemText(CDlgAddressLevels::kIdLast), "10");
    d.GetDlgItemAs<CEdit>(CDlgAddressLevels::kIdLast)->Type("23");
    d.GetDlgItemAs<CButton>(IDOK)->Click();  // refused: stays open
    EXPECT_FALSE(d.HasEnded());
    d.GetDlgItemAs<CEdit>(CDlgAddressLevels::kIdLast)->Type("11");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  auto mouse = [&](UINT msg, int x, int y, WPARAM flags) { view.SendMessage(msg, flags, MAKELPARAM(x, y)); };
  mouse(WM_LBUTTONDOWN, 200, 150, MK_LBUTTON);
  mouse(WM_MOUSEMOVE, 300, 250, MK_LBUTTON);
  mouse(WM_LBUTTONUP, 440, 330, 0);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{CDlgAddressLevels::kBadLevel});
  EXPECT_EQ(view.GetTool(), CPDView::Tool::kPan) << "one box per command";
  CDlgAddressDownload* dialog = CurrentAddressDownload();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->GetWindowText(), "地址下载 - zoom:10-11");
  EXPECT_EQ(dialog->GetTaskKind(), 4);
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return !dialog->Panel().IsRunning(); }, kWait));
  // The box's tiles of both levels, asked once each.
  const std::vector<LngLatF> box = {{float(tl.lng), float(tl.lat)}, {float(br.lng), float(tl.lat)},
                                    {float(br.lng), float(br.lat)}, {float(tl.lng), float(br.lat)}};
  uint64_t expected = 0;
  for (int z : {10, 11}) {
    RegionTiles t;
    ASSERT_TRUE(RasterizeRegionTiles(1, z, std::span<const LngLatF>(box), &t));
    expected += t.TileCount();
  }
  EXPECT_EQ(RequestsTo(kPath112), expected);
  EXPECT_EQ(dialog->Panel().Status(), FormatC("下载完毕.[%d-%d]", int(expected), 0));
  CloseAddressDownload();
  view.DestroyWindow();
}

}  // namespace
}  // namespace velmora
