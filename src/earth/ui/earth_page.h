// The earth application: one window per program that holds the earth page (data/earth/map.html, a
// web globe on CesiumJS), and the velmora:// hosts that feed the page: "tile" (the web map's
// tiles, WebMapTileResource), "terrain" (heights from the local height files) and "kml" (files
// opened on the globe).
//
// The first caller starts the application window; later callers attach to the same page through
// its link (CEarthLink). The page's window is the render window: its client area is what the
// globe shows and what captures copy. The window lives until CloseEarthApplication or the end of
// the user-interface thread's session; it does not outlive the program.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "earth/ui/earth_link.h"
#include "earth/ui/html_view_ex.h"
#include "platform/ui/dialog.h"

namespace velmora {

class Event;

// The hosts of the page's addresses besides "page" and "tile".
inline constexpr char kEarthTerrainHost[] = "terrain";
inline constexpr char kEarthKmlHost[] = "kml";
// Heights per side of a terrain tile.
inline constexpr int kEarthTerrainSide = 65;

// The page of the earth application: loads map.html with the library from the program folder
// and hands the page's messages to its link.
class CEarthPage : public CHtmlViewEx {
 public:
  CEarthPage();
  ~CEarthPage() override;
  const std::shared_ptr<CEarthLink>& Link() const { return link_; }
  // Creates the window under `parent` and loads the page; a missing page or library or an engine
  // that cannot draw WebGL fails the link (the window stays).
  bool CreatePage(CWnd* parent, const RECT& rect);
  // The page's messages that are not the link's go to `listener` (user-interface thread).
  void SetMessageListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }
  // Who takes the page's mouse while it asks for it (null: the page).
  void SetMouseTaker(std::function<CWnd*()> taker) { mouse_taker_ = std::move(taker); }
  CWnd* MouseTaker() const override { return mouse_taker_ ? mouse_taker_() : nullptr; }

 protected:
  void OnPageMessage(const std::string& message) override;
  void OnDestroy() override;

 private:
  std::shared_ptr<CEarthLink> link_ = std::make_shared<CEarthLink>();
  std::function<void(const std::string&)> listener_;
  std::function<CWnd*()> mouse_taker_;
};

// The page text handed to the engine: map.html of the program folder with the map source and its
// deepest zoom filled in; nothing when the page or the library is missing (reason in *error).
std::optional<std::string> LoadEarthPageText(std::string* error = nullptr);

// ---- the application window ----
// The render window's client size of the next application window (pixels; default 1024 x 768).
void SetEarthWindowSize(int width, int height);
// User-interface thread: the running application's link, or null. With `start`, starts the
// application window when none runs (its page then comes up later).
std::shared_ptr<CEarthLink> EarthApplication(bool start);
// Any thread but the user-interface one: starts or attaches to the application and waits until
// its page is up. Null, with the reason in *error, when it could not start, failed (no page, no
// library, no WebGL), was stopped or timed out.
std::shared_ptr<CEarthLink> StartEarthApplication(const Event* stop, unsigned timeout_ms, std::string* error = nullptr);
// User-interface thread: closes the application window (its link reports the page gone).
void CloseEarthApplication();
// The page window of the running application (user-interface thread), or null.
CEarthPage* EarthApplicationPage();
// The application's own top-level window (user-interface thread), or null.
CWnd* EarthApplicationWindow();
// Puts the page back into the application window at the window's size (after a view held it).
void RestoreEarthApplicationPage();

// ---- the hosts ----
// "velmora://terrain/<level>/<x>/<y>": the 65 x 65 heights (float32, little-endian, row 0 north,
// column 0 west, edges included) of tile (x, y) of `level` in the geographic tiling of two tiles
// at level 0 (y counted from the north), read from the local height files only (never the web
// elevation service); no data gives 0. Nothing for an address that is no tile or a cancelled
// request.
std::optional<PageResource> EarthTerrainResource(std::string_view path, const std::atomic<bool>* cancelled = nullptr);
// Makes the file's folder readable by the page through "velmora://kml/..." and returns the address
// the page loads. A KMZ is unpacked (its first .kml at the top, else the first .kml anywhere) into
// a folder of its own under the work folder. Nothing (reason in *error) for a file that cannot be
// read or a KMZ that cannot be unpacked or names a file outside its folder.
// A KMZ entry larger than `max_entry_bytes` is refused.
std::optional<std::string> PrepareEarthKml(const std::string& path, std::string* error = nullptr,
                                           uint64_t max_entry_bytes = uint64_t(256) << 20);
// "velmora://kml/<path>": a file under a folder given to PrepareEarthKml; nothing for others.
std::optional<PageResource> EarthKmlResource(std::string_view path);
// Registers the three hosts (done by every CEarthPage).
void RegisterEarthHosts();

}  // namespace velmora
