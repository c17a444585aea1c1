// CTileEngine: the 2D map view's engine, free of any window or toolkit. It holds the camera
// (centre longitude/latitude, fractional zoom, window size), the layer list and the object
// layers; turns the camera into the tile grid of each visible layer at an integer level; asks the
// tile manager for those tiles by key; composes them into the map image on its thread
// "LoadMapImage" while the rest keep loading (coarser cached tiles stand in, pending and failed
// tiles show as placeholders, failed ones with a cross); and paints that image scaled to the fractional zoom into a window
// picture, then the shapes, the selected region, the scale bar, the navigation control, the
// sources' attributions and the weather text.
//
// Threads: the camera, layers and overlays are guarded by one lock and may be read from any
// thread (IMapViewState); Paint runs on the user-interface thread; the map image has its own lock
// (the composer writes tiles into it while Paint reads it); the held tiles belong to the composer
// (RebuildMapImage is serialised). No lock of the engine is held while the tile manager is
// called, and the tile manager's state listener only raises a flag.
//
// The map image covers the window plus a margin at the integer level below the zoom (tile
// aligned), so a pan within the margin needs no new composition and a fractional zoom is a
// scaled blit. Its size is bounded: for a window too large, the level drops until the image
// fits (max_image_pixels), so a 10000 x 10000 window costs no more memory than a large screen.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/geodesy.h"
#include "core/work_thread.h"
#include "platform/gfx/bitmap.h"
#include "shapes/map_projector.h"
#include "shapes/object_layer.h"
#include "tiles/map_view_state.h"
#include "tiles/tile_key.h"

namespace velmora {

class CGraphics;
struct GfxRect;
class CLayerManager;
class CTile;
class CTileManager;
struct MapSourceDef;

// Colours of what is not a map tile (straight ARGB).
inline constexpr Argb kMapBackground = 0xFFDCDCDCu;    // outside the world, before any image
inline constexpr Argb kTilePending = 0xFFEFEFEFu;      // waiting for the store or a download
inline constexpr Argb kTilePendingGrid = 0xFFD2D2D2u;  // its top and left edge
inline constexpr Argb kTileFailed = 0xFFF3DEDEu;       // failed, over quota or offline
inline constexpr Argb kTileFailedMark = 0xFFC86464u;   // the cross on a failed tile
inline constexpr Argb kTileMissing = 0xFFF7F7F7u;      // the source has no such tile

// Conversions for the projection kinds that only a page script knows. The hidden script window
// installs this while it exists (kind 4); otherwise, for every kind it does not handle and
// whenever it answers false, the engine uses the kind's own transforms from core/geodesy.
struct ScriptProjection {
  std::function<bool(int kind)> handles;
  // Window pixel -> longitude/latitude, and back, for the camera given.
  std::function<bool(const MapCamera& camera, double x, double y, double* lng, double* lat)> pixel_to_coord;
  std::function<bool(const MapCamera& camera, double lng, double lat, double* x, double* y)> coord_to_pixel;
};
void SetScriptProjection(ScriptProjection hook);
void ClearScriptProjection();

struct TileEngineOptions {
  CTileManager* tiles = nullptr;    // null: the application's TileManager()
  CLayerManager* layers = nullptr;  // null: the global LayerManager()
  // Largest map image in pixels (4 bytes each); the level drops until the image fits.
  size_t max_image_pixels = size_t(24) << 20;
  // Pixels of map composed around the window at the image's level.
  int margin = 128;
  // Whole-pixel tile and image copies without cairo (the same pixels, several times faster).
  bool fast_blit = true;
};

// How the weather text is drawn: font, text colour, a background behind the text (alpha 0: none)
// and whether the icon shows.
struct WeatherStyle {
  std::string face = "Microsoft Sans Serif";
  float size = 12.0f;
  Argb text = 0xFF103060u;
  Argb background = 0;
  bool show_icon = true;
};

// What the navigation control at the top-left answers for a pixel.
enum class NavHit { kNone, kPanNorth, kPanSouth, kPanWest, kPanEast, kZoomIn, kZoomOut };

// Tiles the engine holds, by what they show.
struct TileCounts {
  int loaded = 0, pending = 0, failed = 0, missing = 0;
};

// One tile of a layer's grid for the current camera: its key and where it lands in the window.
struct GridTile {
  int column = 0, row = 0, zoom = 0;  // the column is wrapped into the world
  TileKey key = 0;
  double x = 0, y = 0, width = 0, height = 0;  // window pixels
};

class CTileEngine : public IMapViewState {
 public:
  static constexpr double kDefaultLng = 120.0;
  static constexpr double kDefaultLat = 36.0;
  static constexpr double kDefaultZoom = 10.0;
  static constexpr int kMaxWindowSide = 32767;

  explicit CTileEngine(TileEngineOptions options = {});
  // Stops the thread and lets go of the tiles it showed.
  ~CTileEngine() override;
  CTileEngine(const CTileEngine&) = delete;
  CTileEngine& operator=(const CTileEngine&) = delete;

  // ---- camera ----
  // Centres the view on the point at the zoom: the longitude is wrapped, the latitude clamped to
  // the base layer's world, the zoom to the limits of the base source; NaN becomes the default.
  void SetCamera(double lng, double lat, double zoom);
  // Window size in pixels, each side clamped to 0..32767.
  void SetWindowSize(int width, int height);
  MapCamera GetCamera() const override;
  // The zoom range of the base layer: its kind's (2 to 22.9) narrowed to its source's levels
  // (up to 0.9 beyond the last level, drawn enlarged).
  void GetZoomLimits(double* min_zoom, double* max_zoom) const;
  // Moves the map by (dx, dy) window pixels (the content follows the mouse).
  void PanBy(double dx, double dy);
  // The camera that (lng, lat) at the window's centre would have after the map moved by
  // (dx, dy) pixels: a drag computes every step from where it started.
  void PanFrom(double lng, double lat, double dx, double dy);
  // Sets the zoom keeping the point under window pixel (x, y) where it is.
  void ZoomAt(double zoom, double x, double y);
  // Centres the view on the box and zooms so that it fills about 90% of the window (within the
  // zoom limits); a box without extent keeps the zoom.
  void FitBounds(const GeoBox& box);
  // The mapping of the current camera (shapes and hit tests).
  CMapProjector Projector() const;

  // ---- conversions ----
  LngLat ScreenToLngLat(double x, double y) const;
  PixelPoint LngLatToScreen(double lng, double lat) const;
  // ScreenToLngLat through the script projection when it handles the base kind; false when the
  // script cannot answer (the values are then ScreenToLngLat's).
  bool WindowToLngLat(double x, double y, double* lng, double* lat) const;
  // Longitude and latitude of the window's (0, 0) and (width, height) pixels. The longitudes are
  // not wrapped: west < east always, beyond ±180 when the window crosses the antimeridian.
  void GetViewBounds(float top_left[2], float bottom_right[2]) const override;

  // ---- layers ----
  // The layers, base first. Sources the catalogue does not know are dropped; each layer's kind
  // is its source's. An empty list (or none left) shows the catalogue's first source.
  void SetLayers(std::vector<MapLayer> layers);
  std::vector<MapLayer> CopyLayerList() const override;
  // Replaces the base layer's source (overlays stay); the camera is clamped to its limits.
  bool SetBaseSource(int source_id);
  int BaseSourceId() const;
  // The attribution texts of the visible layers (each once).
  std::vector<std::string> Attributions() const;

  // ---- grids ----
  // The tiles of a layer that the current window shows, at the layer's integer level.
  std::vector<GridTile> BuildGrid(const MapLayer& layer) const;
  // The same for a kind-4 layer, with the window corners and tile corners converted through the
  // script projection when it handles kind 4 (else the native ellipsoidal Mercator).
  std::vector<GridTile> BuildGridKind4(const MapLayer& layer) const;

  // ---- the map image ----
  // Brings the map image up to the camera and the tiles' states (what the thread runs). Returns
  // true when every tile in view reached a final state.
  bool RebuildMapImage();
  // Draws the window into `canvas` (its top-left part of canvas size): the map image, the
  // object layers, the region, the scale bar, the navigation control, attributions, weather.
  void Paint(CBitmap& canvas);
  // Starts and stops "LoadMapImage", which rebuilds the image whenever the camera, the layers
  // or a tile's state changes. Stop lets go of the tiles in view.
  bool Start();
  void Stop();
  bool IsRunning() const;
  // Called (from the thread) when a new image can be painted: the view invalidates itself.
  void SetRedrawSink(std::function<void()> sink);
  // Waits until the image matches the latest camera and no tile in view is pending; false when
  // `ms` passed first. With the thread stopped it rebuilds on the calling thread.
  bool WaitForIdle(unsigned ms);
  TileCounts CountTiles() const;
  // The map image's level and a counter that moves whenever the image changes.
  int ImageLevel() const;
  uint64_t ImageGeneration() const;

  // ---- objects ----
  CObjectLayer& Objects() { return objects_; }      // the user's objects (drawn-item database)
  CObjectLayer& Boundaries() { return boundaries_; }
  CObjectLayer& Tracks() { return tracks_; }         // tracks, contour lines, search results
  // Appends the shapes of a type (kAllShapeTypes for all) of every object layer.
  void GetShapesByType(int type, std::vector<CMapShape*>& out) const;
  // The topmost shape under the window pixel, or null.
  CMapShape* HitTestShapes(double x, double y) const;

  // ---- overlays ----
  // The selected region's corners; a first longitude >= kNoRegionLng removes it.
  static constexpr float kNoRegionLng = 3.4028235e38f;
  void ShowRegion(float lon1, float lat1, float lon2, float lat2);
  bool GetRegion(float top_left[2], float bottom_right[2]) const;
  void SetWeather(std::vector<std::string> lines, std::shared_ptr<const CBitmap> icon);
  void ShowWeather(bool shown);
  bool WeatherShown() const;
  void SetWeatherStyle(WeatherStyle style);
  // Drawings of other modules over the objects (bus lines), by key, painted in key order on the
  // user-interface thread; an empty painter removes its key. Painters must not call back into
  // the engine's setters.
  using OverlayPainter = std::function<void(CGraphics& g, const CMapProjector& p)>;
  void SetOverlayPainter(const std::string& key, OverlayPainter painter);
  void ShowNavigation(bool shown);
  void ShowScaleBar(bool shown);
  NavHit HitNavigation(double x, double y) const;
  // The scale bar's text for the current camera ("500 m", "2 km", ...).
  std::string ScaleBarText() const;

 private:
  struct Layer {
    MapLayer layer;
    const MapSourceDef* source = nullptr;
  };
  struct Camera {
    double lng = kDefaultLng, lat = kDefaultLat, zoom = kDefaultZoom;
    int width = 0, height = 0;
  };
  struct Snapshot;
  struct Plan;
  struct Cell;
  struct MapImage;
  struct Held {
    std::shared_ptr<CTile> tile;
    int opaque = -1;  // the decoded picture has no transparent pixel (-1: not known yet)
  };

  // All *Locked members require mutex_.
  void ClampLocked(Camera& c) const;
  void LimitsLocked(double* min_zoom, double* max_zoom) const;
  const Layer* BaseLocked() const;
  void ApplyLayersLocked(std::vector<Layer> layers);
  CMapProjector ProjectorLocked() const;
  void CameraChanged();  // after a change under mutex_ (called without it)

  Snapshot TakeSnapshot() const;
  Plan PlanImage(const Snapshot& snap) const;
  // The image planned as `have` still serves the window (half sides hw, hh around cx, cy at the
  // level of `want`).
  static bool Covers(const Plan& have, const Plan& want, double cx, double cy, double hw, double hh);
  std::vector<Cell> PlanCells(const Snapshot& snap, const Plan& plan) const;
  void UpdateHeld(const std::vector<Cell>& cells);
  void ReleaseHeld();
  uint64_t CellSignature(const Cell& cell);
  void DrawCell(CBitmap& image, CGraphics& g, const Plan& plan, const Cell& cell, int cx, int cy);
  std::shared_ptr<CTile> FindStandIn(const Cell& cell, int* levels_up);
  // Renders the display picture (the level picture scaled by `scale`), all of it or the part
  // within `clip` (display pixels).
  // A display picture of the level picture's size times `scale` stays within the pixel budget
  // (beyond it the painter filters the level picture on every paint).
  bool FitsBudget(int width, int height, double scale) const;
  static void RenderDisplay(const CBitmap& level, CBitmap& display, double scale, const GfxRect* clip);

  void PaintMap(CBitmap& canvas, const Camera& cam, double* shift_x, double* shift_y);
  void PaintOverlays(CGraphics& g, const CMapProjector& p);
  void ThreadProc();
  void MarkDirty();

  TileEngineOptions options_;
  CTileManager& tiles_;
  CLayerManager& layers_catalogue_;

  // ---- camera, layers and overlays (mutex_) ----
  mutable std::mutex mutex_;
  Camera camera_;
  std::vector<Layer> layers_;
  uint64_t layers_version_ = 1;
  bool has_region_ = false;
  float region_[4] = {0, 0, 0, 0};
  std::vector<std::string> weather_lines_;
  std::shared_ptr<const CBitmap> weather_icon_;
  bool weather_shown_ = false;
  WeatherStyle weather_style_;
  std::map<std::string, OverlayPainter> painters_;
  bool nav_shown_ = true;
  bool scale_shown_ = true;

  CObjectLayer objects_{"objects"};
  CObjectLayer boundaries_{"boundaries"};
  CObjectLayer tracks_{"tracks"};

  // ---- the composer (rebuild_mutex_) ----
  std::mutex rebuild_mutex_;
  std::unordered_map<TileKey, Held> held_;
  // Cached ancestors looked up during one rebuild (many cells share a parent).
  std::unordered_map<TileKey, std::shared_ptr<CTile>> ancestors_;
  // The picture of the image the last new one replaced, reused when the sizes match.
  CBitmap spare_;

  // ---- the map image (image_mutex_) ----
  mutable std::mutex image_mutex_;
  std::unique_ptr<MapImage> image_;
  std::atomic<uint64_t> image_generation_{0};

  // ---- the thread and its wake-ups (wake_mutex_) ----
  mutable std::mutex wake_mutex_;
  std::condition_variable wake_cv_;
  std::condition_variable idle_cv_;
  bool dirty_ = true;
  bool stop_ = false;
  bool building_ = false;
  bool pending_ = true;
  uint64_t request_ = 1;     // moves with every change of camera or layers
  uint64_t built_ = 0;       // the request the last rebuild saw
  std::function<void()> redraw_sink_;
  std::unique_ptr<CWorkThread> thread_;
  int listener_id_ = 0;
  TileCounts counts_;        // wake_mutex_
};

}  // namespace velmora
