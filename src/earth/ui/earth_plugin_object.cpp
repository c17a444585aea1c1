// The plug-in object's calls as commands of the earth page's channel.
#include "earth/ui/earth_plugin_object.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "earth/ui/earth_link.h"

namespace velmora {

namespace {

void Trim(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
}

std::optional<double> ReadNumber(std::string_view text) {
  Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

template <class T>
std::function<void(std::optional<std::string>)> Parsed(std::function<void(std::optional<T>)> done,
                                                       std::function<std::optional<T>(const std::string&)> parse) {
  return [done = std::move(done), parse = std::move(parse)](std::optional<std::string> answer) {
    if (!done) return;
    done(answer ? parse(*answer) : std::nullopt);
  };
}

std::function<void(std::optional<std::string>)> Succeeded(std::function<void(bool)> done) {
  return [done = std::move(done)](std::optional<std::string> answer) {
    if (done) done(answer.has_value());
  };
}

}  // namespace

std::optional<std::vector<double>> ParsePluginNumbers(std::string_view text, size_t count, char separator) {
  std::vector<double> values;
  while (values.size() < count) {
    const size_t at = separator == ' ' ? text.find_first_of(" \t") : text.find(separator);
    std::string_view part = text.substr(0, at);
    // Spaces between numbers: runs of them count as one separator.
    if (separator == ' ') {
      Trim(part);
      if (part.empty() && at != std::string_view::npos) {
        text.remove_prefix(at + 1);
        continue;
      }
    }
    std::optional<double> value = ReadNumber(part);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    values.push_back(*value);
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + 1);
  }
  if (values.size() < count) return std::nullopt;
  return values;
}

std::map<std::string, double> ParsePluginOptions(std::string_view text) {
  std::map<std::string, double> options;
  while (!text.empty()) {
    const size_t space = text.find(' ');
    std::string_view pair = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::optional<double> value = ReadNumber(pair.substr(eq + 1));
    if (value && std::isfinite(*value)) options[std::string(pair.substr(0, eq))] = *value;
  }
  return options;
}

std::vector<GEPluginFeature> ParsePluginFeatures(std::string_view text) {
  std::vector<GEPluginFeature> features;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    std::string_view fields[4];
    size_t n = 0;
    while (n < 3) {
      const size_t tab = line.find('\t');
      if (tab == std::string_view::npos) break;
      fields[n++] = line.substr(0, tab);
      line.remove_prefix(tab + 1);
    }
    if (n < 3) continue;
    fields[3] = line;
    std::optional<double> depth = ReadNumber(fields[0]), id = ReadNumber(fields[1]), visible = ReadNumber(fields[2]);
    if (!depth || !id || !visible || *depth < 0 || *depth > 1000 || !std::isfinite(*id)) continue;
    features.push_back(GEPluginFeature{static_cast<int>(*depth), static_cast<long long>(*id), *visible != 0,
                                       std::string(fields[3])});
  }
  return features;
}

CEarthPluginObject::CEarthPluginObject(std::shared_ptr<CEarthLink> link, std::string plugin_version,
                                       std::map<std::string, double> constants)
    : link_(std::move(link)), plugin_version_(std::move(plugin_version)), constants_(std::move(constants)) {}

std::shared_ptr<CEarthPluginObject> CEarthPluginObject::FromHandOver(std::shared_ptr<CEarthLink> link,
                                                                     std::string_view text) {
  const size_t tab = text.find('\t');
  if (!link || tab == std::string_view::npos || tab == 0) return nullptr;
  std::string version(text.substr(0, tab));
  std::string_view rest = text.substr(tab + 1);
  std::map<std::string, double> constants;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    std::string_view pair = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::optional<double> value = ReadNumber(pair.substr(eq + 1));
    if (value && std::isfinite(*value)) constants[std::string(pair.substr(0, eq))] = *value;
  }
  if (constants.empty()) return nullptr;
  return std::make_shared<CEarthPluginObject>(std::move(link), std::move(version), std::move(constants));
}

std::string CEarthPluginObject::GetEarthVersion() const { return link_->Version(); }

double CEarthPluginObject::Constant(const std::string& name, double fallback) const {
  auto it = constants_.find(name);
  return it == constants_.end() ? fallback : it->second;
}

double CEarthPluginObject::GetStreamingPercent() const {
  if (!IsAlive()) return 0.0;
  const EarthPageState state = link_->State();
  // A state sent before the latest answered command says nothing of that command's picture.
  if (state.seq < link_->AnsweredSeq()) return std::min(99.0, static_cast<double>(state.progress));
  return static_cast<double>(state.progress);
}

bool CEarthPluginObject::IsAlive() const { return link_->Status() == EarthPageStatus::kReady; }

void CEarthPluginObject::Call(const std::string& command, std::vector<ScriptValue> args, Answer done) {
  link_->CallAsync(command, std::move(args), std::move(done));
}

void CEarthPluginObject::CopyAsCamera(std::function<void(std::optional<GEPluginCamera>)> done) {
  Call("ge.camera", {}, Parsed<GEPluginCamera>(std::move(done), [](const std::string& text) -> std::optional<GEPluginCamera> {
         std::optional<std::vector<double>> v = ParsePluginNumbers(text, 6, ' ');
         if (!v) return std::nullopt;
         return GEPluginCamera{(*v)[0], (*v)[1], (*v)[2], (*v)[3], (*v)[4], (*v)[5]};
       }));
}

void CEarthPluginObject::SetAbstractView(const GEPluginCamera& c, bool teleport, std::function<void(bool)> done) {
  Call("ge.setAbstractView",
       {ScriptValue::Number(c.lon), ScriptValue::Number(c.lat), ScriptValue::Number(c.alt), ScriptValue::Number(c.heading),
        ScriptValue::Number(c.tilt), ScriptValue::Number(c.roll), ScriptValue::Boolean(teleport)},
       Succeeded(std::move(done)));
}

void CEarthPluginObject::HitTest(double x, double y, bool terrain,
                                 std::function<void(std::optional<std::array<double, 3>>)> done) {
  const double mode = terrain ? Constant("HIT_TEST_TERRAIN", 2) : Constant("HIT_TEST_GLOBE", 1);
  Call("ge.hitTest", {ScriptValue::Number(x), ScriptValue::Number(y), ScriptValue::Number(mode)},
       Parsed<std::array<double, 3>>(std::move(done), [](const std::string& text) -> std::optional<std::array<double, 3>> {
         std::optional<std::vector<double>> v = ParsePluginNumbers(text, 3, ' ');
         if (!v) return std::nullopt;
         return std::array<double, 3>{(*v)[0], (*v)[1], (*v)[2]};
       }));
}

void CEarthPluginObject::GetOptions(std::function<void(std::optional<std::map<std::string, double>>)> done) {
  Call("ge.options", {}, Parsed<std::map<std::string, double>>(std::move(done), [](const std::string& text) {
         return std::optional<std::map<std::string, double>>(ParsePluginOptions(text));
       }));
}

void CEarthPluginObject::SetOption(const std::string& name, double value, std::function<void(bool)> done) {
  Call("ge.setOption", {ScriptValue::String(name), ScriptValue::Number(value)}, Succeeded(std::move(done)));
}

void CEarthPluginObject::EnableLayerById(double layer_id, bool on, std::function<void(bool)> done) {
  Call("ge.enableLayer", {ScriptValue::Number(layer_id), ScriptValue::Boolean(on)}, Succeeded(std::move(done)));
}

void CEarthPluginObject::ParseKml(const std::string& url, std::function<void(std::optional<long long>)> done) {
  Call("ge.parseKml", {ScriptValue::String(url)},
       Parsed<long long>(std::move(done), [](const std::string& text) -> std::optional<long long> {
         std::optional<double> token = ReadNumber(text);
         if (!token || !std::isfinite(*token)) return std::nullopt;
         return static_cast<long long>(*token);
       }));
}

void CEarthPluginObject::GetFeatures(std::function<void(std::optional<std::vector<GEPluginFeature>>)> done) {
  Call("ge.features", {}, Parsed<std::vector<GEPluginFeature>>(std::move(done), [](const std::string& text) {
         return std::optional<std::vector<GEPluginFeature>>(ParsePluginFeatures(text));
       }));
}

void CEarthPluginObject::SetFeatureVisibility(long long id, bool visible, std::function<void(bool)> done) {
  Call("ge.setVisibility", {ScriptValue::Number(static_cast<double>(id)), ScriptValue::Boolean(visible)},
       Succeeded(std::move(done)));
}

void CEarthPluginObject::RemoveAllFeatures(std::function<void(bool)> done) {
  Call("ge.clearFeatures", {}, Succeeded(std::move(done)));
}

void CEarthPluginObject::SetLookAt(double lon, double lat, double alt, std::function<void(bool)> done) {
  Call("setLookAt", {ScriptValue::Number(lon), ScriptValue::Number(lat), ScriptValue::Number(alt)},
       Succeeded(std::move(done)));
}

void CEarthPluginObject::DrawOverlay(const std::string& ring, const std::string& band) {
  Call("ge.overlay", {ScriptValue::String(ring), ScriptValue::String(band)}, nullptr);
}

}  // namespace velmora
