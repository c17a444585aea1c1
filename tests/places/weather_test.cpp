// Weather: the watched city's fields from the region file served by the test web server, the
// failure and missing-code cases, the icon cache by code and time of day with an injected clock
// (files written, decoded back), error pages kept out of the cache, and the region's children.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/settings.h"
#include "places/weather.h"
#include "platform/gfx/image_codec.h"
#include "places_test_util.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

std::string GifBytes(Argb colour) {
  CBitmap b;
  b.Create(29, 20, colour);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(EncodeImage(b, ImageType::kGif, &bytes));
  return std::string(bytes.begin(), bytes.end());
}

class WeatherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteProfileString(kWeatherSection, "xml_host", server.BaseUrl());
    WriteProfileString(kWeatherSection, "icon_host", server.BaseUrl());
    ProgramSettings().SetString(kWeatherPyKey, "qingdao");
    ProgramSettings().SetString(kWeatherUrlKey, "101120201");
    weather.SetDataFolder(data.path());
    weather.SetClock([this] { return std::pair<int, int>(hour, minute); });
    weather.SetSink([this](const WeatherFields& f, std::shared_ptr<const CBitmap> icon) {
      ++sunk;
      last = f;
      last_icon = std::move(icon);
    });
    server.Route("/wmaps/xml/qingdao.xml", test::HttpReply::Ok(test::Recorded("weather_qingdao.xml"), "text/xml"));
  }
  size_t IconRequests(const std::string& path) const {
    size_t n = 0;
    for (const auto& r : server.Requests()) n += r.path == path;
    return n;
  }

  test::HttpTestServer server;
  test::TempDir data;
  CWeather weather;
  int hour = 12, minute = 0;
  int sunk = 0;
  WeatherFields last;
  std::shared_ptr<const CBitmap> last_icon;
};

TEST_F(WeatherTest, FieldsComeFromTheWatchedCitysElementOnly) {
  server.Route("/m/i/weatherpic/29x20/d7.gif", test::HttpReply::Ok(GifBytes(0xFF00FF00u), "image/gif"));
  ASSERT_TRUE(weather.Fetch());
  EXPECT_EQ(sunk, 1);
  // "1011202010" (市南) comes first and must not match the code 101120201.
  EXPECT_EQ(last[kWthCityName], "青岛");
  EXPECT_EQ(last[kWthStateDetailed], "小雨转多云");
  EXPECT_EQ(last[kWthState1], "7");
  EXPECT_EQ(last[kWthTem1], "9");
  EXPECT_EQ(last[kWthTem2], "3");
  EXPECT_EQ(last[kWthTemNow], "5");
  EXPECT_EQ(last[kWthWindState], "东北风4-5级");
  EXPECT_EQ(last[kWthHumidity], "80%");
  EXPECT_EQ(last[kWthTime], "10:30");
  ASSERT_TRUE(last_icon);
  EXPECT_EQ(last_icon->Width(), 29);
  EXPECT_EQ(weather.Fields(), last);
  EXPECT_EQ(WeatherLines(last).front(), "青岛 小雨转多云");

  // A code the file does not hold: the fields are emptied.
  ProgramSettings().SetString(kWeatherUrlKey, "999");
  ASSERT_TRUE(weather.Fetch());
  EXPECT_EQ(sunk, 2);
  for (const std::string& f : last) EXPECT_TRUE(f.empty());
  EXPECT_FALSE(last_icon);
  EXPECT_TRUE(WeatherLines(last).empty());
}

TEST_F(WeatherTest, AFailedPassLeavesTheFieldsAsTheyWere) {
  ASSERT_TRUE(weather.Fetch());
  const WeatherFields before = weather.Fields();
  server.Route("/wmaps/xml/qingdao.xml", test::HttpReply::ServerError());
  EXPECT_FALSE(weather.Fetch());
  server.Route("/wmaps/xml/qingdao.xml", test::HttpReply::Ok(""));
  EXPECT_FALSE(weather.Fetch());
  server.Route("/wmaps/xml/qingdao.xml", test::HttpReply::Drop());
  EXPECT_FALSE(weather.Fetch());
  EXPECT_EQ(sunk, 1);
  EXPECT_EQ(weather.Fields(), before);
  EXPECT_EQ(weather.Passes(), 1u);
}

TEST_F(WeatherTest, IconsByCodeAndTimeOfDayAreCachedOnDisk) {
  server.Route("/m/i/weatherpic/29x20/d7.gif", test::HttpReply::Ok(GifBytes(0xFF00FF00u), "image/gif"));
  server.Route("/m2/i/icon_weather/29x20/n07.gif", test::HttpReply::Ok(GifBytes(0xFF0000FFu), "image/gif"));
  EXPECT_EQ(CWeather::IconFileName(7, false), "weather/d7.gif");
  EXPECT_EQ(CWeather::IconFileName(7, true), "weather/n07.gif");

  hour = 18, minute = 30;  // still day: only hours above 18 are night
  auto day = weather.GetIcon(7);
  ASSERT_TRUE(day);
  EXPECT_EQ(day->Row(0)[0], 0xFF00FF00u);
  hour = 19, minute = 0;
  auto night = weather.GetIcon(7);
  ASSERT_TRUE(night);
  EXPECT_EQ(night->Row(0)[0], 0xFF0000FFu);  // not the day picture cached for the same code
  hour = 5, minute = 59;
  EXPECT_EQ(weather.GetIcon(7), night);      // the same code and time of day: the cached picture
  EXPECT_EQ(IconRequests("/m/i/weatherpic/29x20/d7.gif"), 1u);
  EXPECT_EQ(IconRequests("/m2/i/icon_weather/29x20/n07.gif"), 1u);

  // Both files are pictures on disk; a new cache reads them without asking the server.
  for (const char* name : {"weather/d7.gif", "weather/n07.gif"}) {
    CBitmap back;
    EXPECT_TRUE(LoadImageFile(data.File(name), &back)) << name;
  }
  CWeather other;
  other.SetDataFolder(data.path());
  other.SetClock([] { return std::pair<int, int>(12, 0); });
  ASSERT_TRUE(other.GetIcon(7));
  EXPECT_EQ(IconRequests("/m/i/weatherpic/29x20/d7.gif"), 1u);
}

TEST_F(WeatherTest, AnErrorPageNeverBecomesAnIcon) {
  server.Route("/m/i/weatherpic/29x20/d3.gif", test::HttpReply::HtmlErrorPage());
  EXPECT_FALSE(weather.GetIcon(3));
  EXPECT_FALSE(std::filesystem::exists(data.File("weather/d3.gif")));
  server.Route("/m/i/weatherpic/29x20/d3.gif", test::HttpReply::NotFound());
  EXPECT_FALSE(weather.GetIcon(3));
  EXPECT_FALSE(std::filesystem::exists(data.File("weather/d3.gif")));
  // Once the service answers with a picture it is kept.
  server.Route("/m/i/weatherpic/29x20/d3.gif", test::HttpReply::Ok(GifBytes(0xFFFF0000u), "image/gif"));
  EXPECT_TRUE(weather.GetIcon(3));
  EXPECT_TRUE(std::filesystem::exists(data.File("weather/d3.gif")));
}

TEST_F(WeatherTest, RegionChildrenAndTheirTexts) {
  auto items = ParseWeatherRegion(test::Recorded("weather_qingdao.xml"));
  ASSERT_EQ(items.size(), 3u);  // the element with an empty city name is no child
  EXPECT_EQ(items[0].display, "市南");
  EXPECT_EQ(items[2].display, "崂山[崂山区]");
  EXPECT_EQ(items[2].py_name, "laoshan");
  EXPECT_EQ(items[2].url, "101120202");
  EXPECT_EQ(WeatherItemText(items[1]), "青岛 小雨转多云 3-5 ");
  // The region name goes into the path percent-encoded.
  EXPECT_EQ(WeatherRegionPath("../a b"), "/wmaps/xml/..%2Fa%20b.xml");
  server.Route("/wmaps/xml/%E9%9D%92.xml", test::HttpReply::Ok("<c cityname=\"x\"/>"));
  auto xml = FetchWeatherRegion("青");
  ASSERT_TRUE(xml);
  EXPECT_EQ(ParseWeatherRegion(*xml).size(), 1u);
}

TEST(WeatherDisplayTest, DefaultsReadAsOpaqueColours) {
  WeatherDisplay d = WeatherDisplay::Load();
  EXPECT_EQ(d.font_color, 0xFFFFFF00u);
  EXPECT_EQ(d.bg_color, 0xFFFFFFFFu);
  EXPECT_EQ(d.font_name, "楷体_GB2312");
  EXPECT_EQ(d.font_size, 12);
  EXPECT_TRUE(d.image && d.trans);
  d.font_color = 0x80102030u;
  d.trans = false;
  d.Save();
  WeatherDisplay back = WeatherDisplay::Load();
  EXPECT_EQ(back.font_color, 0x80102030u);
  EXPECT_FALSE(back.trans);
}

}  // namespace
}  // namespace velmora
