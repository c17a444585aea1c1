// What the place search's window tests share: a program folder whose catalogue has one geocoder
// (8), the application started headless with the place search's frame step and a child view that
// records where it was sent, the test web server standing in for the services, and pumping the
// user-interface queue with a clock the tests move.
#pragma once
#include "velmora_build_paths.h"
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "places/ui/cmb_address.h"
#include "places/ui/place_name_tree.h"
#include "places/ui/place_search_commands.h"
#include "platform/sync.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "support/temp_dir.h"
#include "tiles/map_view_state.h"

namespace velmora::test {

// A program folder with the shipped catalogue less the geocoders 111 and 112.
inline const std::string& OneGeocoderProgramFolder() {
  static const TempDir dir;
  static const bool made = [] {
    const std::string all = ReadTestFile(std::string(kSourceDataDir) + "map_sources.txt");
    std::string kept;
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find('\n', start);
      if (end == std::string::npos) end = all.size();
      const std::string line = all.substr(start, end - start);
      if (!line.starts_with("source | 111") && !line.starts_with("source | 112")) kept += line + "\n";
      start = end + 1;
    }
    WriteTestFile(dir.File("map_sources.txt"), kept);
    return true;
  }();
  (void)made;
  return dir.path();
}

inline std::string Sample(const std::string& name) {
  return ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/kml/" + name);
}
inline std::string Reply(const std::string& name) {
  return ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/tests/places/replies/" + name);
}

// The current view as the search moves it: a camera, and every move recorded.
class CRecordingView : public CWnd, public IChildView, public IMapViewState {
 public:
  struct Move {
    double lng, lat, level;
    bool history;
  };
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  void GetCamera(double* lng, double* lat, double* level) const override {
    if (lng) *lng = camera.lng;
    if (lat) *lat = camera.lat;
    if (level) *level = camera.zoom;
  }
  void SetCamera(double lng, double lat, double level, bool history) override {
    camera.lng = lng;
    camera.lat = lat;
    camera.zoom = level;
    moves.push_back(Move{lng, lat, level, history});
  }
  MapCamera GetCamera() const override { return camera; }
  void GetViewBounds(float top_left[2], float bottom_right[2]) const override {
    top_left[0] = 120.0f, top_left[1] = 36.5f, bottom_right[0] = 120.5f, bottom_right[1] = 36.0f;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }

  MapCamera camera{120.0, 36.0, 13.0, 800, 600, 1};
  std::vector<Move> moves;
};

// The application started headless with the place search's step, a recording view and the test
// web server as every place service.
class PlaceSearchAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    UiDispatcher().SetClock([this] { return now_ms; });
    SetUiHost(&host);
    for (const char* key : {"geocoder_host", "place_host", "poi_host", "suggest_host"})
      WriteProfileString("place_search", key, server.BaseUrl());
    WriteProfileInt(CmbAddress::kRecentSection, CmbAddress::kWebFirstKey, 0);
    ProgramSettings().Remove(CmbAddress::kSourceKey);
    ProgramSettings().Remove(CPlaceNameTree::kImportPathKey);
  }
  void TearDown() override {
    Stop();
    SetUiHost(nullptr);
    UiDispatcher().SetClock({});
  }

  // Starts the application; the place-name panel only when `place_tree`.
  void Start(bool place_tree = true) {
    options.emplace([this, place_tree](CAppOptions& o) {
      o.data_dir = data.path();
      o.show_place_tree = place_tree;
    });
    app = std::make_unique<CKovraHomeExApp>();
    app->SetInstanceLockPath(data.File("velmora.lock"));
    app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
    app->Views().RegisterFactory(kViewMap2D, [this] {
      auto v = std::make_unique<CRecordingView>();
      view = v.get();
      SetCurrentMapView(v.get());
      return v;
    });
    RegisterPlaceSearch(*app);
    ASSERT_TRUE(app->InitInstance());
    box = FindPlaceSearchBox(app->MainFrame());
    ASSERT_NE(box, nullptr);
    tree = dynamic_cast<CPlaceNameTree*>(app->MainFrame()->FindSideBarPanel(CPlaceNameTree::kPanelName));
  }
  void Stop() {
    if (!app) return;
    SetCurrentMapView(nullptr);
    app->ExitInstance();
    app.reset();
    view = nullptr;
    box = nullptr;
    tree = nullptr;
    options.reset();
  }

  // Moves the clock on and runs what became due.
  void Advance(uint64_t ms) {
    now_ms += ms;
    UiDispatcher().PumpPending();
  }
  // Pumps until the box's web request has been answered.
  bool WaitForWeb() {
    return UiDispatcher().PumpUntil([this] { return !box->IsSearchingWeb(); }, 20000);
  }
  void Type(const std::string& text) { box->Edit().Type(text); }
  std::vector<std::string> ItemTexts() const {
    std::vector<std::string> out;
    for (int i = 0; i < box->GetCount(); ++i) out.push_back(box->GetLBText(i));
    return out;
  }
  // The frame's Enter, as the address bar sends it.
  void Enter() { app->MainFrame()->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0); }

  uint64_t now_ms = 1000000;
  CHeadlessUiHost host;
  TempDir data;
  HttpTestServer server;
  std::optional<ScopedAppOptions> options;
  std::unique_ptr<CKovraHomeExApp> app;
  CRecordingView* view = nullptr;
  CmbAddress* box = nullptr;
  CPlaceNameTree* tree = nullptr;
};

}  // namespace velmora::test
