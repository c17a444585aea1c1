// CHtmlWnd: the hidden script window. It runs a page that nobody sees in the script engine and
// calls the page's functions: conversions between longitude/latitude and the pixel space of a
// web map provider (mode 0, page "bdcd"), and the bus-line (mode 1, "bdbl") and boundary (mode
// 2, "bpyg") queries of two side panels. Mode -1 only signals its load event once per completed
// document; other modes load no page.
//
// One global instance (HtmlWnd()) lives for the whole run: the main frame creates its window in
// coordinate mode while it is created and destroys it when it closes; the 2D view's kind-4
// read-out and tile grid call its conversions on the user-interface thread, and worker threads
// reach CoordPixel through RequestCoordPixel.
//
// The pages' pixel space (mode 0): world pixels of the ellipsoidal Mercator (WGS84) of
// projection kind 4 on 256-pixel tiles at zoom kScriptPixelZoom, x east and y south from the
// north-west corner of the world: CoordPixel(lng, lat) -> "x,y", PixelCoord(x, y) -> "lng,lat".
#pragma once
#include <array>
#include <atomic>
#include <string>
#include <string_view>

#include "earth/ui/html_view_ex.h"
#include "platform/sync.h"
#include "tiles/map_view_state.h"

namespace velmora {

class CKovraHomeExApp;

// The zoom of the coordinate page's pixel space.
inline constexpr int kScriptPixelZoom = 18;

class CHtmlWnd : public CHtmlViewEx {
 public:
  // The largest single-precision float: the "no value" marker of RequestCoordPixel's pair.
  static constexpr double kNoValue = 3.4028234663852886e38;
  // The six function identifiers, in their order.
  enum FunctionSlot {
    kCoordPixel = 0,
    kPixelCoord = 1,
    kQuerBusLine = 2,
    kBusLineResult = 3,  // GetQueryResult of the bus-line page
    kQuerPolygon = 4,
    kPolygonResult = 5,  // GetQueryResult of the polygon page
  };
  // OnUserRequest codes.
  static constexpr WPARAM kRequestCoordPixel = 1;
  static constexpr WPARAM kRequestNavigate = 2;

  CHtmlWnd();
  ~CHtmlWnd() override;

  int Mode() const { return mode_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // Stores the mode, creates the host window (never shown) and the view inside it, silences
  // script errors and navigates to a blank document; the mode's page follows when that has
  // completed. False when the window already exists (nothing changes) or a window cannot be
  // made.
  bool CreateHidden(int mode);
  // Destroys the host window and with it the view and its document.
  void DestroyHidden();
  // Drops the document's functions and loads the mode's page ("bdcd", "bdbl", "bpyg"; none for
  // other modes) from the scrambled data files.
  void LoadModePage();

  // Mode 0, user-interface thread. False when the page or its function is not there, the call
  // failed, or its reply is not finite; otherwise the reply "a,b" read into *a and *b.
  bool CoordPixel(double x, double y, double* a, double* b);
  bool PixelCoord(double x, double y, double* a, double* b);
  // Modes 1 and 2, user-interface thread. The texts (UTF-8) go to the page as they are; true
  // when the call was made (its reply is dropped).
  bool QuerBusLine(std::string_view first, std::string_view second);
  bool QuerPolygon(std::string_view name);
  // The page's GetQueryResult: "0" gives false and an empty text (no answer yet), "7" true and
  // an empty text (the query is done, without result), another text true and that text; a
  // reply that is not text leaves `text` as it was (true exactly when it is not empty).
  bool GetQueryResult(std::string& text);
  bool GetPolygonQueryResult(std::string& text);

  // Any thread: CoordPixel on the user-interface thread, through message 0x401. False, with x
  // and y unchanged, when the conversion failed, the window is gone, the user-interface thread
  // stopped serving, or `cancel` was set before the request was served (a worker passes its
  // quit request, so that a user-interface thread that waits for it never deadlocks).
  bool RequestCoordPixel(double& x, double& y, const Event* cancel = nullptr);
  // Message 0x401: code 1 converts the pair {x, y} that `pointer` addresses in place (both set
  // to kNoValue when the conversion fails); code 2 navigates to the address text (a NUL-ended
  // string) that `pointer` addresses. Always 1.
  LRESULT OnUserRequest(WPARAM code, LPARAM pointer);

  // Mode -1: set once per completed document (auto reset).
  Event& LoadEvent() { return load_event_; }
  // The identifiers found for the current document (0: not found).
  int FunctionId(FunctionSlot slot) const { return ids_[slot]; }
  // Mode 0 and both conversions found (readable from any thread).
  bool IsCoordReady() const { return coord_ready_.load(std::memory_order_acquire); }

 protected:
  void OnDocumentComplete(const std::string& url) override;
  void OnDestroy() override;

 private:
  bool CallPair(int id, double x, double y, double* a, double* b);
  bool QueryResult(int id, std::string& text);
  void DropScript();

  int mode_ = 0;
  std::string name_;
  CWnd host_;                     // plain top-level window, never shown, parent of the view
  bool has_document_ = false;     // the document of the last completion is kept
  bool has_script_ = false;       // and its script can be called
  std::array<int, 6> ids_{};
  Event load_event_{false, false};
  bool mode_page_pending_ = false;  // the mode's page was handed to LoadHtml; its completion is next
  std::atomic<HWND> request_hwnd_{0};
  std::atomic<bool> coord_ready_{false};
  ScriptValue reply_;  // the conversions' reply, kept so that its memory serves the next call
};

// The global instance.
CHtmlWnd& HtmlWnd();

// A script string from GBK bytes: `length` bytes (every byte, NULs included), or up to the first
// NUL when `length` is negative. Converted exactly: a character cut off by the end of the given
// bytes, or any byte that is not GBK, becomes U+FFFD; nothing else is lost or added.
std::string BstrFromAnsi(const char* gbk, int length = -1);

// A conversion reply "a,b": a is its leading number, b the number after the first comma (a
// again without a comma); a reply without a number reads 0. Read without the locale. False when
// a number it holds is not finite.
bool ReadCoordReply(std::string_view reply, double* a, double* b);

// ---- wiring ----
// The main frame's creation: "初始化搜索引擎" on the splash, the global instance named "Baidu
// Coord" created in mode 0 (its result is not looked at), and the 2D view's script projection
// for kind 4 installed on it.
void CreateHiddenScriptWindow();
// The main frame's closing: the script projection removed, then the window destroyed.
void DestroyHiddenScriptWindow();
// Registers both with the application as a step of the main frame's phase.
void RegisterHiddenScriptWindow(CKovraHomeExApp& app);

// The coordinate page in a map window's pixels, for the 2D view's kind-4 read-out
// (WindowToLngLat) and tile grid (BuildGridKind4): `camera` gives the window's centre, zoom and
// size; a window pixel is the world pixel at the camera's zoom, offset from the centre. User-
// interface thread only: other threads get false (the view then uses its own kind-4
// transforms, which agree with the page).
bool ScriptWindowToLngLat(CHtmlWnd& wnd, const MapCamera& camera, double x, double y, double* lng, double* lat);
bool ScriptLngLatToWindow(CHtmlWnd& wnd, const MapCamera& camera, double lng, double lat, double* x, double* y);

}  // namespace velmora
