// The plug-in view's region overlay and region command.
#include "earth/ui/region_bound.h"

#include <cfloat>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "earth/ui/earth_plugin_object.h"
#include "earth/ui/ge_plugin_ctrl.h"
#include "exchange/kml_file.h"
#include "shapes/polygon_shape.h"
#include "shell/screen_dem_extract.h"

namespace velmora {

namespace {

// A run of page calls one after the other; each call is made from the answers before it, and
// the first failure ends the run.
class CallChain : public std::enable_shared_from_this<CallChain> {
 public:
  using Step = std::function<std::pair<std::string, std::vector<ScriptValue>>(const std::vector<std::string>&)>;

  CallChain(std::shared_ptr<CEarthPluginObject> plugin, std::function<void(bool, const std::string&)> done)
      : plugin_(std::move(plugin)), done_(std::move(done)) {}
  void Add(Step step) { steps_.push_back(std::move(step)); }
  // A call whose arguments do not depend on earlier answers.
  void Add(std::string command, std::vector<ScriptValue> args) {
    steps_.push_back([command, args](const std::vector<std::string>&) { return std::make_pair(command, args); });
  }
  void Run() {
    if (next_ == steps_.size()) return done_(true, "");
    auto [command, args] = steps_[next_](answers_);
    auto self = shared_from_this();
    plugin_->Call(command, std::move(args), [self, command](std::optional<std::string> answer) {
      if (!answer) return self->done_(false, command);
      self->answers_.push_back(*answer);
      ++self->next_;
      self->Run();
    });
  }

 private:
  std::shared_ptr<CEarthPluginObject> plugin_;
  std::function<void(bool, const std::string&)> done_;
  std::vector<Step> steps_;
  std::vector<std::string> answers_;
  size_t next_ = 0;
};

ScriptValue Text(const std::string& s) { return ScriptValue::String(s); }
ScriptValue Number(double v) { return ScriptValue::Number(v); }

// The object call "kml.call <handle> <method> args..." on the handle answered by step `index`.
CallChain::Step Method(size_t index, const std::string& method, std::vector<ScriptValue> args = {}) {
  return [index, method, args](const std::vector<std::string>& answers) {
    std::vector<ScriptValue> all{Text(answers.at(index)), Text(method)};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_pair(std::string("kml.call"), all);
  };
}

// The ring's four corners in the order (top, left), (top, right), (bottom, right), (bottom, left).
void PushCorners(CallChain& chain, size_t coordinates, float left, float top, float right, float bottom) {
  const float corners[4][2] = {{top, left}, {top, right}, {bottom, right}, {bottom, left}};
  for (const auto& c : corners)
    chain.Add(Method(coordinates, "pushLatLngAlt", {Number(c[0]), Number(c[1]), Number(0.0)}));
}

}  // namespace

void ShowRegionBound(const std::shared_ptr<CEarthPluginObject>& plugin, float left, float top, float right,
                     float bottom, std::function<void(const std::string&)> trace, std::function<void(bool)> done) {
  if (!plugin) return;
  auto finish = [trace, done](bool ok, const std::string& command) {
    if (!ok) {
      const std::string line = FormatC("%s [0x%08x], [%s], %s", kRegionBoundTraceName,
                                       static_cast<unsigned>(kGECallError), PluginErrorMessage(kGECallError).c_str(),
                                       ("the page failed " + command).c_str());
      Trace("%s", line.c_str());
      AppLog("region overlay: %s", line.c_str());
      if (trace) trace(line);
    }
    if (done) done(ok);
  };
  // 1. The first top-level feature of the overlay's name.
  plugin->Call("kml.find", {Text(kRegionBoundName)},
               [plugin, left, top, right, bottom, finish](std::optional<std::string> found) {
    if (!found) return finish(false, "kml.find");
    const bool exists = *found != "0" && !found->empty();
    auto chain = std::make_shared<CallChain>(plugin, finish);
    if (left == FLT_MAX) {
      // 2. No region: the overlay goes.
      if (exists) chain->Add("kml.remove", {Text(*found)});
    } else if (exists) {
      // 3. The overlay's ring takes the new corners.
      chain->Add("kml.call", {Text(*found), Text("getGeometry")});  // 0
      chain->Add(Method(0, "getOuterBoundary"));                       // 1
      chain->Add(Method(1, "getCoordinates"));                         // 2
      chain->Add(Method(2, "clear"));                                  // 3
      PushCorners(*chain, 2, left, top, right, bottom);
    } else {
      // 4. A new placemark: ring, polygon, style, then among the features.
      chain->Add("kml.create", {Text("linearRing"), Text(kRegionBoundName)});  // 0
      chain->Add("kml.create", {Text("polygon"), Text(kRegionBoundName)});     // 1
      chain->Add("kml.create", {Text("placemark"), Text(kRegionBoundName)});   // 2
      chain->Add(Method(2, "setName", {Text(kRegionBoundName)}));              // 3
      chain->Add([](const std::vector<std::string>& a) {                       // 4
        return std::make_pair(std::string("kml.call"),
                              std::vector<ScriptValue>{Text(a.at(1)), Text("setOuterBoundary"), Text(a.at(0))});
      });
      chain->Add([](const std::vector<std::string>& a) {  // 5
        return std::make_pair(std::string("kml.call"),
                              std::vector<ScriptValue>{Text(a.at(2)), Text("setGeometry"), Text(a.at(1))});
      });
      chain->Add("kml.create", {Text("style"), Text(kRegionBoundName)});  // 6
      chain->Add([](const std::vector<std::string>& a) {                  // 7
        return std::make_pair(std::string("kml.call"),
                              std::vector<ScriptValue>{Text(a.at(2)), Text("setStyleSelector"), Text(a.at(6))});
      });
      chain->Add(Method(6, "getPolyStyle"));                               // 8
      chain->Add(Method(8, "setFill", {Number(0)}));                       // 9
      chain->Add(Method(6, "getLineStyle"));                               // 10
      chain->Add(Method(10, "getColor"));                                  // 11
      chain->Add(Method(11, "set", {Text(kRegionBoundColor)}));            // 12
      chain->Add(Method(0, "getCoordinates"));                             // 13
      PushCorners(*chain, 13, left, top, right, bottom);                   // 14-17
      chain->Add([](const std::vector<std::string>& a) {                  // 18
        return std::make_pair(std::string("kml.append"), std::vector<ScriptValue>{Text(a.at(2))});
      });
    }
    chain->Run();
  });
}

bool RegionBoundEnabled(const CRegionShape* region) {
  return GetPageOptions().dem.contour_method != 0 && region && region->Points().size() > 1;
}

bool RunRegionBound(CGEPluginCtrl& ctrl, std::unique_ptr<CRegionShape>& region) {
  if (!region) return false;
  // 1. The region as a KML file, shown in the plug-in.
  const std::string path = AppOptions().data_dir + kRegionBoundFile;
  std::string error;
  if (FILE* file = OpenKmlFile(path, "region_bound", &error)) {
    region->ExportKml(file);
    if (CloseKmlFile(file, &error))
      ctrl.OpenKmz(path);
    else
      AppLog("region: %s", error.c_str());
  } else {
    AppLog("region: %s", error.c_str());
  }
  // 2. The closed pixel ring to the elevation extraction; the free region goes.
  region->ClosePixelRing();
  std::vector<LngLatF> pixels;
  for (const GfxPoint& p : region->PixelPoints()) pixels.push_back(LngLatF{p.x, p.y});
  region.reset();
  return OpenScreenDemExtract(pixels, &ctrl);
}

}  // namespace velmora
