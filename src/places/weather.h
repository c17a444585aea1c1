// Weather of a chosen city from a weather service that answers with one small XML file per region
// ("/wmaps/xml/<region>.xml"): the reading of those files (the watched city's attributes, the
// cities of a region), the icon cache in the data folder ("weather/d%d.gif" by day,
// "weather/n%02d.gif" by night) and CWeather, whose thread "WeatherThread" fetches the watched
// city every ten minutes and hands the fields and the icon to the 2D view through a sink.
//
// Threads: CWeather's members may be called from any thread. The sink is called on the weather
// thread with copies (the view takes them under its own lock); the icon is fetched and decoded on
// that thread, never while the view paints. No lock is held while the network is asked.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/work_thread.h"
#include "platform/gfx/bitmap.h"

namespace velmora {

// Program settings (ProgramSettings()) of the watched city.
inline constexpr const char* kWeatherPyKey = "WthPy";
inline constexpr const char* kWeatherUrlKey = "WthUrl";
inline constexpr const char* kWeatherDefaultPy = "qingdao";
inline constexpr const char* kWeatherDefaultUrl = "101120201";
// Registry profile section of the display settings and of the two service hosts ("xml_host" for
// the region files, "icon_host" for the icons: "host[:port]" meaning http, or a whole base
// address). Unset hosts fall back to stand-ins that never resolve.
inline constexpr const char* kWeatherSection = "weather";
// Period of the watch and the stop time-out of its thread.
inline constexpr unsigned kWeatherPeriodMs = 600000;
inline constexpr unsigned kWeatherStopMs = 3000;
// Largest region file and icon read.
inline constexpr size_t kWeatherReplyBytes = 256u * 1024u;

// The attributes read from a city's element, in the order of kWeatherAttributes.
enum WeatherField {
  kWthCityName, kWthStateDetailed, kWthState1, kWthState2, kWthTem1, kWthTem2, kWthTemNow,
  kWthWindState, kWthWindDir, kWthWindPower, kWthHumidity, kWthTime, kWeatherFieldCount
};
inline constexpr std::array<const char*, kWeatherFieldCount> kWeatherAttributes = {
    "cityname=", "stateDetailed=", "state1=", "state2=", "tem1=", "tem2=", "temNow=",
    "windState=", "windDir=", "windPower=", "humidity=", "time="};

using WeatherFields = std::array<std::string, kWeatherFieldCount>;

// The value in double quotes after `key` ("cityname=") inside `element`; "" when absent or not
// quoted. The key must start the attribute (after a blank or the element's start).
std::string WeatherAttribute(std::string_view element, std::string_view key);
// The element ("<" to ">") that holds an attribute value equal to `code` in double quotes; empty
// when none does.
std::string_view FindWeatherElement(std::string_view xml, std::string_view code);
// The twelve attributes of an element.
WeatherFields ReadWeatherFields(std::string_view element);
// The text of a reply as UTF-8 (a reply that is not UTF-8 is read as GBK).
std::string WeatherReplyText(const std::vector<uint8_t>& bytes);

// One child of a region: a city or a sub-region of the tree pane.
struct WeatherItem {
  std::string display;  // "%s[%s]" of quName and cityname, or the city name
  std::string py_name;  // its own region file ("pyName="), "" when none
  std::string url;      // the city code ("url=")
  WeatherFields fields;
};
// Every element of a region file with a non-empty "cityname=", in file order.
std::vector<WeatherItem> ParseWeatherRegion(std::string_view xml);
// The pane's item text: "%s %s %s-%s " of the display name, stateDetailed, tem2 and temNow.
std::string WeatherItemText(const WeatherItem& item);
// The lines the 2D view draws for the fields (none when the city name is empty).
std::vector<std::string> WeatherLines(const WeatherFields& fields);

// Base address of a weather service host key ("xml_host", "icon_host").
std::string WeatherServiceBase(const char* key);
// "/wmaps/xml/<name>.xml" with the name percent-encoded.
std::string WeatherRegionPath(std::string_view py_name);
// Fetches a region file; nullopt when nothing arrived (network error, error status, empty reply,
// `cancel` set). The network state (1 answer, 2 failure) goes to the sink given to SetNetState.
std::optional<std::string> FetchWeatherRegion(std::string_view py_name,
                                              const std::atomic<bool>* cancel = nullptr);
// Where the network state of the weather requests goes (the status bar); empty: nowhere.
void SetWeatherNetStateSink(std::function<void(int state)> sink);

// Display settings (registry section "weather"): colours are ARGB, stored as signed decimal.
struct WeatherDisplay {
  bool image = true;                  // "image": draw the icon
  bool trans = true;                  // "trans": transparent background
  std::string font_name = "楷体_GB2312";  // "fntName"
  int font_size = 12;                 // "fntSize"
  uint32_t font_color = 0xFFFFFF00u;  // "fntColor", default -256: opaque yellow
  uint32_t bg_color = 0xFFFFFFFFu;    // "bgcolor", default -1: opaque white
  static WeatherDisplay Load();
  void Save() const;
};

class CWeather {
 public:
  // What the 2D view receives: the fields (all empty to clear) and the icon (null for none).
  using Sink = std::function<void(const WeatherFields& fields, std::shared_ptr<const CBitmap> icon)>;
  // The local hour (0-23) and minute of now; replaced by tests.
  using Clock = std::function<std::pair<int, int>()>;

  CWeather();
  // Stops the thread.
  ~CWeather();
  CWeather(const CWeather&) = delete;
  CWeather& operator=(const CWeather&) = delete;

  void SetSink(Sink sink);
  void SetClock(Clock clock);
  void SetPeriod(unsigned ms);
  // The data folder whose "weather/" holds the icons; "" (default) the application's.
  void SetDataFolder(std::string folder);

  // Stores "WthPy" and "WthUrl", stops the thread (kWeatherStopMs) and starts "WeatherThread",
  // which fetches at once and then once per period until it is stopped. False when the thread
  // could not be started.
  bool Start(const std::string& py_name, const std::string& city_code);
  // Stops the thread (waits up to `ms`).
  bool Stop(unsigned ms = kWeatherStopMs);
  bool IsRunning() const;

  // One pass: fetches the region file of "WthPy" and reads the element of "WthUrl". False, with
  // the fields unchanged and the sink not called, when nothing arrived. Otherwise the fields are
  // emptied, filled from the element (all empty when the code is not there), the icon of
  // "state1=" looked up and both handed to the sink.
  bool Fetch();
  // The fields of the last pass that reached the service.
  WeatherFields Fields() const;
  // How many passes reached the service.
  uint64_t Passes() const;

  // The icon of a weather code: the night picture when the local hour is below 6 or above 18,
  // else the day picture; fetched from the icon service when its file is missing (only bytes
  // that decode as a picture are kept, written atomically); null when there is none. The same
  // code and time of day as last time returns the cached picture.
  std::shared_ptr<const CBitmap> GetIcon(int code);
  // The file name of a code's icon under the data folder ("weather/d7.gif", "weather/n07.gif").
  static std::string IconFileName(int code, bool night);

 private:
  void ThreadProc();
  std::string IconFolder() const;

  mutable std::mutex mutex_;  // every member below but thread_
  Sink sink_;
  Clock clock_;
  unsigned period_ms_ = kWeatherPeriodMs;
  std::string data_folder_;
  WeatherFields fields_;
  uint64_t passes_ = 0;
  int icon_code_ = -1;
  bool icon_night_ = false;
  std::shared_ptr<const CBitmap> icon_;
  std::mutex icon_mutex_;  // one icon lookup at a time (it may download)

  CWorkThread thread_;
};

// The program's weather (the 2D view's): the pane starts it, the application wires its sink.
CWeather& Weather();

}  // namespace velmora
