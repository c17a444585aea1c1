// The weather thread at a short period handing its fields and icon to the map engine while the
// user-interface thread paints it, and a restart (Start stops the running thread first) in the
// middle. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>

#include "core/settings.h"
#include "places/weather.h"
#include "platform/gfx/image_codec.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "tiles/layer_manager.h"
#include "view/tile_engine.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

TEST(WeatherThreads, PassesReachTheEngineWhileItPaints) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  test::HttpTestServer server;
  WriteProfileString(kWeatherSection, "xml_host", server.BaseUrl());
  WriteProfileString(kWeatherSection, "icon_host", server.BaseUrl());
  std::atomic<int> served{0};
  server.RoutePrefix("/wmaps/xml/", [&](const test::HttpRequestRecord&) {
    const int n = ++served;
    return test::HttpReply::Ok("<c cityname=\"青岛\" stateDetailed=\"晴\" state1=\"" + std::to_string(n % 3) +
                               "\" tem1=\"9\" tem2=\"1\" temNow=\"" + std::to_string(n) + "\" url=\"101120201\"/>");
  });
  CBitmap icon;
  icon.Create(29, 20, 0xFF00FF00u);
  std::vector<uint8_t> gif;
  ASSERT_TRUE(EncodeImage(icon, ImageType::kGif, &gif));
  server.RoutePrefix("/m/", [&](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(std::string(gif.begin(), gif.end()), "image/gif");
  });
  server.RoutePrefix("/m2/", [&](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(std::string(gif.begin(), gif.end()), "image/gif");
  });

  test::TempDir folder;
  auto tiles = test::MakeTileManager(folder.path() + "tiles/");
  TileEngineOptions o;
  o.tiles = tiles.get();
  CTileEngine engine(o);
  engine.SetWindowSize(300, 200);
  engine.ShowWeather(true);

  CWeather weather;
  weather.SetDataFolder(folder.path());
  weather.SetPeriod(2);
  std::atomic<int> sunk{0};
  weather.SetSink([&](const WeatherFields& f, std::shared_ptr<const CBitmap> i) {
    engine.SetWeather(WeatherLines(f), std::move(i));
    ++sunk;
  });
  ASSERT_TRUE(weather.Start("qingdao", "101120201"));
  CBitmap canvas;
  canvas.Create(300, 200);
  int painted = 0;
  bool restarted = false;
  while (sunk.load() < 40 && painted < 20000) {
    engine.Paint(canvas);
    ++painted;
    if (!restarted && sunk.load() >= 10) {
      ASSERT_TRUE(weather.Start("qingdao", "101120201"));
      restarted = true;
    }
  }
  EXPECT_TRUE(weather.Stop());
  EXPECT_FALSE(weather.IsRunning());
  EXPECT_GE(sunk.load(), 40);
  EXPECT_EQ(weather.Fields()[kWthCityName], "青岛");
  EXPECT_EQ(ProgramSettings().GetString(kWeatherUrlKey, ""), "101120201");
  tiles->Stop();
}

}  // namespace
}  // namespace velmora
