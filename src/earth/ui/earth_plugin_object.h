// CEarthPluginObject: the plug-in object (IGEPlugin) of the plug-in view, a bridge over the view's
// own earth page. Each call of the plug-in's interfaces is a command of the page's channel
// (data/earth/plugin.js): camera copies and views, hit tests, display options, built-in layers,
// KML files and the feature tree. The page hands the object over once its globe is up, with the
// plug-in's version and constants (units, speeds, layer ids, map types, visibilities, modes).
//
// Calls are made on the user-interface thread and answered later there (the user-interface thread
// never waits on the page); the streaming percent and the constants may be read on any thread.
// Arguments always travel as script values, never as script text.
#pragma once
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/script/script_value.h"

namespace velmora {

class CEarthLink;

// A camera as the plug-in copies it: the eye's longitude, latitude (degrees) and altitude above
// the ellipsoid (metres); heading, tilt (0 straight down, 90 at the horizon) and roll in degrees.
struct GEPluginCamera {
  double lon = 0, lat = 0, alt = 0;
  double heading = 0, tilt = 0, roll = 0;
};

// One item of the plug-in's feature tree: its depth (0 for a file's document), the page's id,
// visibility and name.
struct GEPluginFeature {
  int depth = 0;
  long long id = 0;
  bool visible = false;
  std::string name;
};

// Numbers separated by `separator` (spaces may surround them), read without the locale. Nothing
// when the text holds fewer than `count` numbers or one of the first `count` is not finite.
std::optional<std::vector<double>> ParsePluginNumbers(std::string_view text, size_t count, char separator);
// "name=value name=value ...": the option state the page answers.
std::map<std::string, double> ParsePluginOptions(std::string_view text);
// The feature lines of the page ("depth\tid\tvisible\tname" each).
std::vector<GEPluginFeature> ParsePluginFeatures(std::string_view text);

class CEarthPluginObject {
 public:
  using Answer = std::function<void(std::optional<std::string>)>;

  CEarthPluginObject(std::shared_ptr<CEarthLink> link, std::string plugin_version,
                     std::map<std::string, double> constants);
  // The object the page hands over with "SetGEPluginObject <version>\t<NAME>=<value>,...";
  // null when the text names no version or no constants.
  static std::shared_ptr<CEarthPluginObject> FromHandOver(std::shared_ptr<CEarthLink> link, std::string_view text);

  const std::shared_ptr<CEarthLink>& Link() const { return link_; }
  // getEarthVersion: the globe library's version; getPluginVersion: the page's plug-in version.
  std::string GetEarthVersion() const;
  const std::string& GetPluginVersion() const { return plugin_version_; }
  // A constant of the plug-in (UNITS_PIXELS, SPEED_TELEPORT, LAYER_TERRAIN, ...); `fallback` when
  // the page did not name it.
  double Constant(const std::string& name, double fallback = 0) const;
  // getStreamingPercent: the page's last pushed progress (0 to 100). Any thread.
  double GetStreamingPercent() const;
  // The page is up and answers calls.
  bool IsAlive() const;

  // ---- calls (user-interface thread; `done` later, on the same thread) ----
  void Call(const std::string& command, std::vector<ScriptValue> args, Answer done);
  void CopyAsCamera(std::function<void(std::optional<GEPluginCamera>)> done);
  // setAbstractView: flies there in the time of the fly-to speed, or jumps (`teleport`).
  void SetAbstractView(const GEPluginCamera& camera, bool teleport, std::function<void(bool)> done = {});
  // hitTest at a render-window pixel: the globe (ellipsoid) or the terrain; nothing on a miss.
  void HitTest(double x, double y, bool terrain, std::function<void(std::optional<std::array<double, 3>>)> done);
  // The display options and layer states ("statusBar", "grid", ..., "layer<id>").
  void GetOptions(std::function<void(std::optional<std::map<std::string, double>>)> done);
  void SetOption(const std::string& name, double value, std::function<void(bool)> done = {});
  void EnableLayerById(double layer_id, bool on, std::function<void(bool)> done = {});
  // parseKml of a file the page can read (its address); the answer is the page's token of the
  // load, whose outcome the page posts as "ge:kml <token> <1|0>".
  void ParseKml(const std::string& url, std::function<void(std::optional<long long>)> done);
  void GetFeatures(std::function<void(std::optional<std::vector<GEPluginFeature>>)> done);
  void SetFeatureVisibility(long long id, bool visible, std::function<void(bool)> done = {});
  void RemoveAllFeatures(std::function<void(bool)> done = {});
  // The page's setLookAt: straight down from `alt` metres above (lon, lat), at once.
  void SetLookAt(double lon, double lat, double alt, std::function<void(bool)> done = {});
  // Draws the view's free region ("x,y x,y ...", render-window pixels) and rubber band
  // ("x y width height", or empty) over the globe, outside what the globe draws.
  void DrawOverlay(const std::string& ring, const std::string& band);

 private:
  std::shared_ptr<CEarthLink> link_;
  std::string plugin_version_;
  std::map<std::string, double> constants_;
};

}  // namespace velmora
