// A scripted earth view for the plug-in export's tests: a flat spherical-Mercator view of
// `scale` zoom-20 pixels per screen pixel whose picture is a pattern of the world position
// (so that a joined picture can be checked against its world file), a hill of 4000 m for the
// terrain hit tests, a streaming progress that reaches 100 a few polls after each change, and a
// view-change event raised by every move that changes the view. Calls run synchronously on the
// caller's thread; the threads test wraps them in a marshalling layer of its own.
#pragma once
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/geodesy.h"
#include "earth/gp_export_job.h"
#include "platform/gfx/bitmap.h"
#include "platform/sync.h"

namespace velmora::test {

// Mercator zoom-20 pixels of a degree of longitude.
inline double PixelsPerDegree() { return std::ldexp(256.0, 20) / 360.0; }

// The pattern: cells of 40 x 40 screen pixels (at scale 64) in grey levels that differ from
// every neighbour, by the world position (longitude, Mercator y at zoom 20).
inline Argb PatternAt(double lng, double y) {
  const long cx = static_cast<long>(std::floor(lng * PixelsPerDegree() / (64.0 * 40)));
  const long cy = static_cast<long>(std::floor(y / (64.0 * 40)));
  const int level = static_cast<int>(((cx * 3 + cy * 7) % 5 + 5) % 5) * 50 + 20;
  return 0xFF000000u | (uint32_t(level) << 16) | (uint32_t(level) << 8) | uint32_t(level);
}
// Whether a world position lies at least `margin` screen pixels (at scale 64) inside its cell.
inline bool InsideCell(double lng, double y, double margin) {
  const double fx = std::fmod(lng * PixelsPerDegree() / 64.0, 40.0), fy = std::fmod(y / 64.0, 40.0);
  const auto inside = [margin](double f) {
    if (f < 0) f += 40.0;
    return f > margin && f < 40.0 - margin;
  };
  return inside(fx) && inside(fy);
}

// A hill of 4000 m centred on (hill_lng, hill_lat), falling off over about 0.02 degrees.
struct Hill {
  double lng = 116.0, lat = 39.0;
  double At(double x, double y) const {
    const double d2 = (x - lng) * (x - lng) + (y - lat) * (y - lat);
    return 4000.0 * std::exp(-d2 / (0.02 * 0.02));
  }
};

class ScriptedView {
 public:
  int width = 1024, height = 768;
  double scale = 64;                // zoom-20 pixels per screen pixel
  double centre_lng = 116.0, centre_y = MercatorLatToY(39.0, 20);
  double altitude = 5000;
  bool terrain = true;
  int load_polls = 2;               // polls after a change until 100; < 0: never
  Hill hill;
  // Counters and records.
  int moves = 0, captures = 0, polls = 0, pushes = 0, pops = 0, camera_sets = 0, hit_tests = 0;
  std::vector<bool> terrain_at_capture;
  bool view_changed = false;        // the event (auto-reset in the waits)
  bool raise_view_change = true;    // false: no move raises the event
  std::function<void(int poll)> on_poll;  // the test's hook into the streaming waits
  bool fail_move = false, fail_bounds = false;

  double S() const { return scale / PixelsPerDegree(); }  // degrees of longitude per pixel
  double LngAt(double x) const { return centre_lng + (x - width / 2.0) * S(); }
  double YAt(double y) const { return centre_y + (y - height / 2.0) * scale; }

  void Changed() {
    since_change_ = 0;
    if (raise_view_change) view_changed = true;
  }
  bool MoveLT(double lng, double lat) {
    if (fail_move) return false;
    ++moves;
    const double new_lng = lng - (5 - width / 2.0) * S();
    const double new_y = MercatorLatToY(lat, 20) - (70 - height / 2.0) * scale;
    if (std::fabs(new_lng - centre_lng) < 1e-12 && std::fabs(new_y - centre_y) < 1e-6) return true;  // no event
    centre_lng = new_lng;
    centre_y = new_y;
    Changed();
    return true;
  }
  bool SetCamera(double lng, double lat, double alt) {
    ++camera_sets;
    centre_lng = lng;
    centre_y = MercatorLatToY(lat, 20);
    altitude = alt;
    Changed();
    return true;
  }
  bool Push() {
    ++pushes;
    saved_[0] = centre_lng;
    saved_[1] = centre_y;
    saved_[2] = altitude;
    has_saved_ = true;
    return true;
  }
  bool Pop() {
    ++pops;
    if (!has_saved_) return true;
    centre_lng = saved_[0];
    centre_y = saved_[1];
    altitude = saved_[2];
    Changed();
    return true;
  }
  bool Bounds(double* l, double* t, double* r, double* b) {
    if (fail_bounds) return false;
    *l = LngAt(5);
    *t = MercatorYToLat(YAt(70), 20);
    *r = LngAt(width - 83);
    *b = MercatorYToLat(YAt(height - 93), 20);
    return true;
  }
  bool Hit(int x, int y, double out[3]) {
    ++hit_tests;
    out[0] = LngAt(x);
    out[1] = MercatorYToLat(YAt(y), 20);
    out[2] = terrain ? hill.At(out[0], out[1]) : 0.0;
    return true;
  }
  double Percent() {
    ++polls;
    if (on_poll) on_poll(polls);
    if (load_polls < 0) return 50.0;
    return since_change_++ >= load_polls ? 100.0 : 100.0 * since_change_ / (load_polls + 1);
  }
  bool SetTerrain(bool on) {
    terrain = on;
    since_change_ = 0;
    return true;
  }
  std::unique_ptr<CBitmap> Capture() {
    ++captures;
    terrain_at_capture.push_back(terrain);
    auto picture = std::make_unique<CBitmap>();
    const int w = width - 88, h = height - 163;
    if (w <= 0 || h <= 0 || !picture->CreateForOverwrite(w, h)) return nullptr;
    for (int y = 0; y < h; ++y) {
      const double wy = YAt(70 + y + 0.5);
      Argb* row = picture->Row(y);
      for (int x = 0; x < w; ++x) row[x] = PatternAt(LngAt(5 + x + 0.5), wy);
    }
    return picture;
  }

 private:
  int since_change_ = 0;
  double saved_[3] = {0, 0, 0};
  bool has_saved_ = false;
};

// The view as the job's plug-in, called on the job's own thread.
class DirectPlugin : public IGpExportPlugin {
 public:
  explicit DirectPlugin(ScriptedView& view) : v_(view) {}
  bool PushCamera() override { return v_.Push(); }
  bool PopCamera() override { return v_.Pop(); }
  bool SetCameraParam(double lng, double lat, double altitude) override { return v_.SetCamera(lng, lat, altitude); }
  bool MoveLT(double lng, double lat) override { return v_.MoveLT(lng, lat); }
  bool GetCaptureBounds(double* l, double* t, double* r, double* b) override { return v_.Bounds(l, t, r, b); }
  bool GetCoordByPos(int x, int y, double out[3]) override { return v_.Hit(x, y, out); }
  double GetStreamingPercent() override { return v_.Percent(); }
  bool SetTerrainLayer(bool on) override { return v_.SetTerrain(on); }
  bool TerrainLayerOn() override { return v_.terrain; }
  bool GetRenderSize(int* w, int* h) override {
    *w = v_.width;
    *h = v_.height;
    return true;
  }
  std::unique_ptr<CBitmap> CaptureRender() override { return v_.Capture(); }
  void ResetViewChange() override { v_.view_changed = false; }
  bool WaitViewChange(Event& quit, unsigned timeout_ms) override {
    if (v_.view_changed) {
      v_.view_changed = false;
      return true;
    }
    ++view_change_timeouts;
    quit.Wait(timeout_ms);
    return false;
  }
  int view_change_timeouts = 0;

 private:
  ScriptedView& v_;
};

// The dialog and desktop side, recording what the job said.
class RecordingHost : public IGpExportHost {
 public:
  bool WaitDialogReady(Event&, unsigned) override { return true; }
  void PlaceDialog(const std::string& title) override { Locked([&] { this->title = title; }); }
  void Trace(const std::string& line) override { Locked([&] { traces.push_back(line); }); }
  void Progress(int done, int total) override { Locked([&] { progress = {done, total}; }); }
  void Message(const std::string& text) override { Locked([&] { messages.push_back(text); }); }
  bool AskBmp() override { return false; }
  void OpenFolder(const std::string& folder) override { Locked([&] { opened.push_back(folder); }); }
  void Close() override { Locked([&] { ++closed; }); }

  bool Said(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& m : messages)
      if (m == text) return true;
    return false;
  }
  bool Traced(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& t : traces)
      if (t == line) return true;
    return false;
  }

  std::mutex mutex;
  std::string title;
  std::vector<std::string> traces, messages, opened;
  std::pair<int, int> progress{0, 0};
  int closed = 0;

 private:
  template <class F>
  void Locked(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    f();
  }
};

}  // namespace velmora::test
