// The map information tools in the application started headless: the 工具 commands open their
// tool windows, the weather pane's watch reaches the application's 2D map (text drawn in the
// display colour), and the application's exit stops the weather thread.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "places/ui/map_info_commands.h"
#include "places/weather.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "tiles/layer_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

int YellowPixels(const CBitmap& canvas) {
  int n = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = canvas.Width() - 120; x < canvas.Width(); ++x) {
      const Argb c = canvas.Row(y)[x];
      n += ((c >> 16) & 0xFF) > 200 && ((c >> 8) & 0xFF) > 200 && (c & 0xFF) < 120;
    }
  return n;
}

TEST(MapInfoCommands, ToolWindowsOpenAndTheWatchReachesTheMap) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  test::HttpTestServer server;
  WriteProfileString(kWeatherSection, "xml_host", server.BaseUrl());
  WriteProfileString(kWeatherSection, "icon_host", server.BaseUrl());
  server.Route("/wmaps/xml/china.xml", test::HttpReply::Ok("<c><city cityname=\"山东\" pyName=\"qingdao\" url=\"0\"/></c>"));
  server.Route("/wmaps/xml/qingdao.xml",
               test::HttpReply::Ok(test::ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/replies/weather_qingdao.xml")));
  CBitmap picture;
  picture.Create(29, 20, 0xFF00FF00u);
  std::vector<uint8_t> gif;
  ASSERT_TRUE(EncodeImage(picture, ImageType::kGif, &gif));
  for (const char* path : {"/m/i/weatherpic/29x20/d7.gif", "/m2/i/icon_weather/29x20/n07.gif"})
    server.Route(path, test::HttpReply::Ok(std::string(gif.begin(), gif.end()), "image/gif"));

  test::TempDir data;
  ScopedAppOptions options([&](CAppOptions& o) {
    o.data_dir = data.path();
    o.show_place_tree = false;
  });
  ProgramSettings().Remove(kWeatherPyKey);
  ProgramSettings().Remove(kWeatherUrlKey);
  auto tiles = test::MakeTileManager(data.path() + "tiles/");
  auto app = std::make_unique<CKovraHomeExApp>();
  app->SetInstanceLockPath(data.File("velmora.lock"));
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  CPDView* view = nullptr;
  app->Views().RegisterFactory(kViewMap2D, [&] {
    TileEngineOptions o;
    o.tiles = tiles.get();
    auto v = std::make_unique<CPDView>(MapViewSinks{}, o, nullptr);
    view = v.get();
    return v;
  });
  RegisterMapInfoTools(*app);
  ASSERT_TRUE(app->InitInstance());
  ASSERT_NE(view, nullptr);
  view->SendMessage(WM_SIZE, 0, MAKELPARAM(400, 300));

  auto command = AppCommands().Find(ID_TOOL_WEATHER);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->menu, "工具");
  EXPECT_EQ(command->text, "天气");
  CBitmap canvas;
  canvas.Create(400, 300);
  view->Engine().Paint(canvas);
  EXPECT_EQ(YellowPixels(canvas), 0);

  ASSERT_TRUE(AppCommands().Execute(ID_TOOL_WEATHER));
  ASSERT_TRUE(AppCommands().Execute(ID_TOOL_BUS_LINES));
  ASSERT_TRUE(AppCommands().Execute(ID_TOOL_BOUNDARY));
  std::vector<std::string> shown;
  for (const auto& r : host.Records())
    if (r.kind == CHeadlessUiHost::Record::Kind::kModeless) shown.push_back(r.caption);
  EXPECT_EQ(shown, (std::vector<std::string>{"262", "202", "244"}));

  // The pane started the watch of the default city: its weather is drawn in opaque yellow.
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return Weather().Passes() > 0; }, 20000));
  EXPECT_TRUE(view->Engine().WeatherShown());
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] {
    view->Engine().Paint(canvas);
    return YellowPixels(canvas) > 10;
  }, 20000));
  EXPECT_EQ(Weather().Fields()[kWthCityName], "青岛");

  app->ExitInstance();
  EXPECT_FALSE(Weather().IsRunning());
  app.reset();
  tiles->Stop();
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora
