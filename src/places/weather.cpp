// The weather service's region files, the icon cache and the watching thread.
#include "places/weather.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <utility>

#include "core/http.h"
#include "core/log.h"
#include "core/net_state_sink.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "platform/text.h"

namespace velmora {

namespace {

CNetStateSink& NetSink() {
  static CNetStateSink sink;
  return sink;
}

// A GET of at most kWeatherReplyBytes; the bytes when a 2xx answer with a body came.
std::optional<std::vector<uint8_t>> GetBytes(const std::string& url, const std::atomic<bool>* cancel) {
  HttpOptions options;
  options.max_bytes = kWeatherReplyBytes;
  options.cancel = cancel ? cancel : CWorkThread::CurrentQuitFlag();
  HttpResult r = HttpFetch(url, options);
  if (r.Cancelled()) return std::nullopt;
  NetSink().Report(r.NetworkError() ? 2 : 1);
  if (!r.Ok() || r.body.empty()) {
    if (!r.Ok()) AppLog("weather: %s: %s", url.c_str(), r.error.empty() ? "error status" : r.error.c_str());
    return std::nullopt;
  }
  return std::move(r.body);
}

std::pair<int, int> LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_hour, tm.tm_min};
}

}  // namespace

// ---- region files ----

std::string WeatherAttribute(std::string_view element, std::string_view key) {
  size_t from = 0;
  while (true) {
    size_t at = element.find(key, from);
    if (at == std::string_view::npos) return {};
    from = at + 1;
    if (at > 0 && !IsAsciiSpace(element[at - 1]) && element[at - 1] != '<') continue;
    size_t open = at + key.size();
    if (open >= element.size() || element[open] != '"') return {};
    size_t close = element.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(element.substr(open + 1, close - open - 1));
  }
}

std::string_view FindWeatherElement(std::string_view xml, std::string_view code) {
  if (code.empty()) return {};
  // An attribute value: right after "=", in double quotes, matched whole.
  std::string quoted("=\"");
  quoted.append(code).push_back('"');
  size_t pos = 0;
  while (true) {
    const size_t open = xml.find('<', pos);
    if (open == std::string_view::npos) return {};
    const size_t close = xml.find('>', open);
    if (close == std::string_view::npos) return {};
    const std::string_view element = xml.substr(open, close - open + 1);
    if (element.find(quoted) != std::string_view::npos) return element;
    pos = close + 1;
  }
}

WeatherFields ReadWeatherFields(std::string_view element) {
  WeatherFields f;
  for (size_t i = 0; i < f.size(); ++i) f[i] = WeatherAttribute(element, kWeatherAttributes[i]);
  return f;
}

std::string WeatherReplyText(const std::vector<uint8_t>& bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (IsValidUtf8(text)) return std::string(text);
  return AnsiToUtf8(text);
}

std::vector<WeatherItem> ParseWeatherRegion(std::string_view xml) {
  std::vector<WeatherItem> items;
  size_t pos = 0;
  while (true) {
    size_t open = xml.find('<', pos);
    if (open == std::string_view::npos) break;
    size_t close = xml.find('>', open);
    if (close == std::string_view::npos) break;
    std::string_view element = xml.substr(open, close - open + 1);
    pos = close + 1;
    WeatherItem item;
    item.fields = ReadWeatherFields(element);
    const std::string& city = item.fields[kWthCityName];
    if (city.empty()) continue;
    std::string qu = WeatherAttribute(element, "quName=");
    item.display = qu.empty() ? city : qu;
    if (!qu.empty()) item.display.append("[").append(city).append("]");
    item.py_name = WeatherAttribute(element, "pyName=");
    item.url = WeatherAttribute(element, "url=");
    items.push_back(std::move(item));
  }
  return items;
}

std::string WeatherItemText(const WeatherItem& item) {
  std::string text = item.display;
  text.append(" ").append(item.fields[kWthStateDetailed]).append(" ").append(item.fields[kWthTem2]);
  text.append("-").append(item.fields[kWthTemNow]).append(" ");
  return text;
}

std::vector<std::string> WeatherLines(const WeatherFields& f) {
  std::vector<std::string> lines;
  if (f[kWthCityName].empty()) return lines;
  lines.push_back(f[kWthCityName] + " " + f[kWthStateDetailed]);
  if (!f[kWthTem2].empty() || !f[kWthTem1].empty()) lines.push_back(f[kWthTem2] + "℃~" + f[kWthTem1] + "℃");
  if (!f[kWthTemNow].empty()) lines.push_back("当前 " + f[kWthTemNow] + "℃");
  if (!f[kWthWindDir].empty() || !f[kWthWindPower].empty()) lines.push_back(f[kWthWindDir] + " " + f[kWthWindPower]);
  if (!f[kWthHumidity].empty()) lines.push_back("湿度 " + f[kWthHumidity]);
  if (!f[kWthTime].empty()) lines.push_back(f[kWthTime]);
  return lines;
}

// ---- the services ----

std::string WeatherServiceBase(const char* key) {
  ServiceHost service = ParseServiceHost(TrimAscii(GetProfileString(kWeatherSection, key, "")), "http://");
  if (!service.valid) {
    if (!service.host.empty()) AppLog("weather: ignoring %s \"%s\"", key, service.host.c_str());
    service.host = std::string(key) == "icon_host" ? "weather-icons.example.invalid" : "weather.example.invalid";
  }
  return service.Base();
}

std::string WeatherRegionPath(std::string_view py_name) { return "/wmaps/xml/" + UrlEncode(py_name) + ".xml"; }

std::optional<std::string> FetchWeatherRegion(std::string_view py_name, const std::atomic<bool>* cancel) {
  if (py_name.empty()) return std::nullopt;
  auto bytes = GetBytes(WeatherServiceBase("xml_host") + WeatherRegionPath(py_name), cancel);
  if (!bytes) return std::nullopt;
  return WeatherReplyText(*bytes);
}

void SetWeatherNetStateSink(std::function<void(int state)> sink) {
  NetSink().Set(std::move(sink));
}

// ---- display settings ----

WeatherDisplay WeatherDisplay::Load() {
  WeatherDisplay d;
  d.image = GetProfileInt(kWeatherSection, "image", 1) != 0;
  d.trans = GetProfileInt(kWeatherSection, "trans", 1) != 0;
  d.font_name = GetProfileString(kWeatherSection, "fntName", d.font_name);
  d.font_size = GetProfileInt(kWeatherSection, "fntSize", d.font_size);
  if (d.font_size < 4 || d.font_size > 200) d.font_size = 12;
  d.font_color = static_cast<uint32_t>(GetProfileInt(kWeatherSection, "fntColor", -256));
  d.bg_color = static_cast<uint32_t>(GetProfileInt(kWeatherSection, "bgcolor", -1));
  return d;
}

void WeatherDisplay::Save() const {
  WriteProfileString(kWeatherSection, "fntName", font_name);
  WriteProfileInt(kWeatherSection, "fntSize", font_size);
  WriteProfileInt(kWeatherSection, "fntColor", static_cast<int>(font_color));
  WriteProfileInt(kWeatherSection, "bgcolor", static_cast<int>(bg_color));
  WriteProfileInt(kWeatherSection, "image", image ? 1 : 0);
  WriteProfileInt(kWeatherSection, "trans", trans ? 1 : 0);
}

// ---- CWeather ----

CWeather::CWeather() = default;

CWeather::~CWeather() { thread_.Stop(kInfinite); }

void CWeather::SetSink(Sink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void CWeather::SetClock(Clock clock) {
  std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
}

void CWeather::SetPeriod(unsigned ms) {
  std::lock_guard lock(mutex_);
  period_ms_ = ms;
}

void CWeather::SetDataFolder(std::string folder) {
  std::lock_guard lock(mutex_);
  data_folder_ = folder.empty() ? folder : WithTrailingSlash(std::move(folder));
}

bool CWeather::Start(const std::string& py_name, const std::string& city_code) {
  ProgramSettings().SetString(kWeatherPyKey, py_name);
  ProgramSettings().SetString(kWeatherUrlKey, city_code);
  if (!thread_.Stop(kWeatherStopMs)) AppLog("weather: the old WeatherThread did not stop in time");
  return thread_.Start("WeatherThread", [this] { ThreadProc(); });
}

bool CWeather::Stop(unsigned ms) { return thread_.Stop(ms); }

bool CWeather::IsRunning() const { return thread_.IsRunning(); }

void CWeather::ThreadProc() {
  thread_.SignalReady();
  while (!thread_.QuitRequested()) {
    Fetch();
    unsigned period;
    {
      std::lock_guard lock(mutex_);
      period = period_ms_;
    }
    if (thread_.WaitQuit(period)) break;
  }
}

bool CWeather::Fetch() {
  const std::string py = ProgramSettings().GetString(kWeatherPyKey, kWeatherDefaultPy);
  const std::string code = ProgramSettings().GetString(kWeatherUrlKey, kWeatherDefaultUrl);
  std::optional<std::string> xml = FetchWeatherRegion(py);
  if (!xml) return false;
  WeatherFields fields = ReadWeatherFields(FindWeatherElement(*xml, code));
  std::shared_ptr<const CBitmap> icon;
  int number = 0;
  const std::string& state = fields[kWthState1];
  if (!state.empty() && std::sscanf(state.c_str(), "%d", &number) == 1 && number >= 0 && number < 100)
    icon = GetIcon(number);
  Sink sink;
  {
    std::lock_guard lock(mutex_);
    fields_ = fields;
    ++passes_;
    sink = sink_;
  }
  if (sink) sink(fields, std::move(icon));
  return true;
}

WeatherFields CWeather::Fields() const {
  std::lock_guard lock(mutex_);
  return fields_;
}

uint64_t CWeather::Passes() const {
  std::lock_guard lock(mutex_);
  return passes_;
}

std::string CWeather::IconFileName(int code, bool night) {
  char name[40];
  if (night)
    std::snprintf(name, sizeof name, "weather/n%02d.gif", code);
  else
    std::snprintf(name, sizeof name, "weather/d%d.gif", code);
  return name;
}

std::string CWeather::IconFolder() const {
  std::lock_guard lock(mutex_);
  return data_folder_.empty() ? WithTrailingSlash(AppOptions().data_dir) : data_folder_;
}

std::shared_ptr<const CBitmap> CWeather::GetIcon(int code) {
  std::lock_guard icon_lock(icon_mutex_);
  Clock clock;
  {
    std::lock_guard lock(mutex_);
    clock = clock_;
  }
  const int hour = (clock ? clock() : LocalNow()).first;
  const bool night = hour < 6 || hour > 18;
  {
    std::lock_guard lock(mutex_);
    if (icon_ && code == icon_code_ && night == icon_night_) return icon_;
    icon_.reset();
    icon_code_ = -1;
  }
  if (code < 0) return nullptr;
  const std::string name = IconFileName(code, night);
  const std::string path = IconFolder() + name;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    char remote[64];
    if (night)
      std::snprintf(remote, sizeof remote, "/m2/i/icon_weather/29x20/n%02d.gif", code);
    else
      std::snprintf(remote, sizeof remote, "/m/i/weatherpic/29x20/d%d.gif", code);
    auto bytes = GetBytes(WeatherServiceBase("icon_host") + remote, nullptr);
    if (!bytes) return nullptr;
    // Only a picture is kept: an error page stored as the icon would stay for good.
    CBitmap probe;
    std::string error;
    if (!DecodeImage(*bytes, &probe, &error)) {
      AppLog("weather: icon %s is not a picture (%s)", name.c_str(), error.c_str());
      return nullptr;
    }
    if (!WriteFileAtomic(path, *bytes, &error)) {
      AppLog("weather: cannot store %s: %s", path.c_str(), error.c_str());
      auto picture = std::make_shared<CBitmap>(std::move(probe));
      return picture;  // shown this time, fetched again next time
    }
  }
  auto picture = std::make_shared<CBitmap>();
  std::string error;
  if (!LoadImageFile(path, picture.get(), &error)) {
    AppLog("weather: cannot read %s: %s", path.c_str(), error.c_str());
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  icon_ = picture;
  icon_code_ = code;
  icon_night_ = night;
  return icon_;
}

CWeather& Weather() {
  static CWeather* weather = new CWeather();  // lives to the end: threads may still report
  return *weather;
}

}  // namespace velmora
