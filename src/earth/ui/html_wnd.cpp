// The hidden script window: its life, the pages of its modes, the calls into them, the
// cross-thread conversion, and its wiring into the application and the 2D view.
#include "earth/ui/html_wnd.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/geodesy.h"
#include "core/log.h"
#include "core/scrambled_data.h"
#include "earth/ui/script_page_engine.h"
#include "platform/text.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/splash_wnd.h"
#include "view/tile_engine.h"

namespace velmora {

namespace {

const char* PageOfMode(int mode) {
  switch (mode) {
    case 0: return "bdcd";
    case 1: return "bdbl";
    case 2: return "bpyg";
    default: return nullptr;
  }
}

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The leading number of a text as the C library's decimal conversion reads it (spaces, an
// optional sign, digits, point, exponent), without the locale. 0 when there is none; false when
// the number is not finite (NaN, Infinity, out of range).
bool LeadingNumber(std::string_view s, double* value) {
  *value = 0;
  size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  if (i < s.size() && s[i] == '+') {
    ++i;
    if (i < s.size() && s[i] == '-') return true;  // "+-1" holds no number
  }
  if (i >= s.size()) return true;
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return true;
  if (ec != std::errc() || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

}  // namespace

bool ReadCoordReply(std::string_view reply, double* a, double* b) {
  double first = 0, second = 0;
  if (!LeadingNumber(reply, &first)) return false;
  size_t comma = reply.find(',');
  if (comma == std::string_view::npos) {
    second = first;
  } else if (!LeadingNumber(reply.substr(comma + 1), &second)) {
    return false;
  }
  *a = first;
  *b = second;
  return true;
}

std::string BstrFromAnsi(const char* gbk, int length) {
  if (gbk == nullptr) return {};
  size_t n = length < 0 ? std::strlen(gbk) : static_cast<size_t>(length);
  return AnsiToUtf8(std::string_view(gbk, n));
}

// ---- CHtmlWnd ----

CHtmlWnd::CHtmlWnd() {
  SetEngine(std::make_unique<CScriptPageEngine>());
  MapMessage(WM_UI_REQUEST, [this](WPARAM code, LPARAM pointer) { return OnUserRequest(code, pointer); });
}

CHtmlWnd::~CHtmlWnd() {
  DestroyHidden();
  if (IsWindow()) DestroyWindow();
}

bool CHtmlWnd::CreateHidden(int mode) {
  // A second creation would leave the existing page under another mode's identifiers.
  if (host_.IsWindow() || IsWindow()) return false;
  mode_ = mode;
  const RECT rect{0, 0, 500, 500};
  if (!host_.Create(nullptr, 0, "Html", 0, rect)) return false;
  if (!Create(&host_, 0, "", WS_CHILD | WS_VISIBLE, rect)) {
    host_.DestroyWindow();
    return false;
  }
  request_hwnd_.store(GetSafeHwnd(), std::memory_order_release);
  SetSilent(true);
  Navigate("about::blank");
  return true;
}

void CHtmlWnd::DestroyHidden() {
  request_hwnd_.store(0, std::memory_order_release);
  host_.DestroyWindow();
}

void CHtmlWnd::OnDestroy() {
  request_hwnd_.store(0, std::memory_order_release);
  DropScript();
  mode_page_pending_ = false;
  CHtmlViewEx::OnDestroy();
}

void CHtmlWnd::DropScript() {
  has_script_ = false;
  has_document_ = false;
  coord_ready_.store(false, std::memory_order_release);
}

void CHtmlWnd::LoadModePage() {
  DropScript();
  const char* name = PageOfMode(mode_);
  if (name == nullptr) return;
  std::optional<std::string> page = LoadScrambledDataFile(name);
  if (!page) {
    AppLog("hidden script window: page \"%s\" is missing", name);
    return;
  }
  if (LoadHtml(*page)) mode_page_pending_ = true;
}

void CHtmlWnd::OnDocumentComplete(const std::string& url) {
  CHtmlViewEx::OnDocumentComplete(url);
  if (mode_ == -1) {
    load_event_.Set();
    return;
  }
  const bool mode_page = std::exchange(mode_page_pending_, false);
  IHtmlDocumentEngine& engine = Engine();
  if (!engine.HasDocument()) return;
  has_document_ = true;
  has_script_ = true;
  int second = -1;  // other modes look nothing up
  switch (mode_) {
    case 0:
      ids_[kCoordPixel] = engine.FindFunction("CoordPixel");
      ids_[kPixelCoord] = second = engine.FindFunction("PixelCoord");
      break;
    case 1:
      ids_[kBusLineResult] = engine.FindFunction("GetQueryResult");
      ids_[kQuerBusLine] = second = engine.FindFunction("QuerBusLine");
      break;
    case 2:
      ids_[kPolygonResult] = engine.FindFunction("GetQueryResult");
      ids_[kQuerPolygon] = second = engine.FindFunction("QuerPolygon");
      break;
    default: break;
  }
  coord_ready_.store(mode_ == 0 && ids_[kCoordPixel] != 0 && ids_[kPixelCoord] != 0, std::memory_order_release);
  if (second != 0) return;
  if (mode_page) {
    // The mode's own page lacks its function: loading it again would only repeat this for ever.
    AppLog("hidden script window: page \"%s\" does not define its functions", PageOfMode(mode_));
    return;
  }
  LoadModePage();
}

bool CHtmlWnd::CallPair(int id, double x, double y, double* a, double* b) {
  if (!has_script_ || id == 0) return false;
  const ScriptValue args[2] = {ScriptValue::Number(x), ScriptValue::Number(y)};
  if (!Engine().CallFunction(id, args, &reply_)) return false;
  double first = 0, second = 0;
  bool ok = reply_.IsString() ? ReadCoordReply(reply_.text, &first, &second)
                              : ReadCoordReply(reply_.ToText(), &first, &second);
  if (!ok) return false;
  if (a) *a = first;
  if (b) *b = second;
  return true;
}

bool CHtmlWnd::CoordPixel(double x, double y, double* a, double* b) { return CallPair(ids_[kCoordPixel], x, y, a, b); }

bool CHtmlWnd::PixelCoord(double x, double y, double* a, double* b) { return CallPair(ids_[kPixelCoord], x, y, a, b); }

bool CHtmlWnd::QuerBusLine(std::string_view first, std::string_view second) {
  if (!has_script_ || ids_[kQuerBusLine] == 0) return false;
  const ScriptValue args[2] = {ScriptValue::String(std::string(first)), ScriptValue::String(std::string(second))};
  return Engine().CallFunction(ids_[kQuerBusLine], args).has_value();
}

bool CHtmlWnd::QuerPolygon(std::string_view name) {
  if (!has_script_ || ids_[kQuerPolygon] == 0) return false;
  const ScriptValue arg = ScriptValue::String(std::string(name));
  return Engine().CallFunction(ids_[kQuerPolygon], std::span<const ScriptValue>(&arg, 1)).has_value();
}

bool CHtmlWnd::QueryResult(int id, std::string& text) {
  if (!has_script_ || id == 0) return false;
  std::optional<ScriptValue> reply = Engine().CallFunction(id, {});
  if (!reply) return false;
  if (reply->IsString()) {
    if (reply->text == "0") {
      text.clear();
    } else if (reply->text == "7") {
      text.clear();
      return true;
    } else {
      text = std::move(reply->text);
    }
  }
  return !text.empty();
}

bool CHtmlWnd::GetQueryResult(std::string& text) { return QueryResult(ids_[kBusLineResult], text); }

bool CHtmlWnd::GetPolygonQueryResult(std::string& text) { return QueryResult(ids_[kPolygonResult], text); }

bool CHtmlWnd::RequestCoordPixel(double& x, double& y, const Event* cancel) {
  const HWND hwnd = request_hwnd_.load(std::memory_order_acquire);
  if (hwnd == 0) return false;
  double pair[2] = {x, y};
  std::optional<LRESULT> sent =
      UiDispatcher().SendMessage(hwnd, WM_UI_REQUEST, kRequestCoordPixel, reinterpret_cast<LPARAM>(pair), cancel);
  if (!sent) return false;  // not served: the window is gone, the UI thread stopped, or cancelled
  if (pair[0] == kNoValue || pair[1] == kNoValue) return false;
  x = pair[0];
  y = pair[1];
  return true;
}

LRESULT CHtmlWnd::OnUserRequest(WPARAM code, LPARAM pointer) {
  if (code == kRequestCoordPixel && pointer != 0) {
    auto* pair = reinterpret_cast<double*>(pointer);
    double a = 0, b = 0;
    if (CoordPixel(pair[0], pair[1], &a, &b)) {
      pair[0] = a;
      pair[1] = b;
    } else {
      pair[0] = pair[1] = kNoValue;
    }
  } else if (code == kRequestNavigate && pointer != 0) {
    Navigate(reinterpret_cast<const char*>(pointer));
  }
  return 1;
}

CHtmlWnd& HtmlWnd() {
  // Never destroyed: worker threads may still ask it for conversions while the program ends.
  static CHtmlWnd* instance = new CHtmlWnd();
  return *instance;
}

// ---- wiring ----

void CreateHiddenScriptWindow() {
  SetSplashText("初始化搜索引擎");
  CHtmlWnd& wnd = HtmlWnd();
  wnd.SetName("Baidu Coord");
  wnd.CreateHidden(0);
  // The 2D view's kind-4 read-out and tile grid go through the coordinate page; off the
  // user-interface thread, or before the page is ready, the view keeps its own transforms.
  ScriptProjection hook;
  hook.handles = [](int kind) { return kind == kKindEllipsoidalMercator; };
  hook.pixel_to_coord = [](const MapCamera& camera, double x, double y, double* lng, double* lat) {
    return ScriptWindowToLngLat(HtmlWnd(), camera, x, y, lng, lat);
  };
  hook.coord_to_pixel = [](const MapCamera& camera, double lng, double lat, double* x, double* y) {
    return ScriptLngLatToWindow(HtmlWnd(), camera, lng, lat, x, y);
  };
  SetScriptProjection(std::move(hook));
}

void DestroyHiddenScriptWindow() {
  ClearScriptProjection();
  HtmlWnd().DestroyHidden();
}

void RegisterHiddenScriptWindow(CKovraHomeExApp& app) {
  AppStep step;
  step.name = "hidden script window";
  step.phase = AppPhase::kFrame;
  step.start = [](CKovraHomeExApp&) {
    CreateHiddenScriptWindow();
    return true;  // the frame does not look at the result
  };
  step.stop = [](CKovraHomeExApp&) { DestroyHiddenScriptWindow(); };
  app.RegisterStep(std::move(step));
}

bool ScriptWindowToLngLat(CHtmlWnd& wnd, const MapCamera& camera, double x, double y, double* lng, double* lat) {
  if (!IsUiThread() || !wnd.IsCoordReady()) return false;
  const double scale = std::exp2(camera.zoom - kScriptPixelZoom);
  if (!std::isfinite(scale) || scale <= 0) return false;
  double cx = 0, cy = 0;
  if (!wnd.CoordPixel(camera.lng, camera.lat, &cx, &cy)) return false;
  return wnd.PixelCoord(cx + (x - camera.width * 0.5) / scale, cy + (y - camera.height * 0.5) / scale, lng, lat);
}

bool ScriptLngLatToWindow(CHtmlWnd& wnd, const MapCamera& camera, double lng, double lat, double* x, double* y) {
  if (!IsUiThread() || !wnd.IsCoordReady()) return false;
  const double scale = std::exp2(camera.zoom - kScriptPixelZoom);
  if (!std::isfinite(scale) || scale <= 0) return false;
  double cx = 0, cy = 0, px = 0, py = 0;
  if (!wnd.CoordPixel(camera.lng, camera.lat, &cx, &cy) || !wnd.CoordPixel(lng, lat, &px, &py)) return false;
  // The copy of the point nearest to the centre (the map repeats east-west).
  const double world = WorldPixels(kScriptPixelZoom);
  double dx = px - cx;
  dx -= std::round(dx / world) * world;
  if (x) *x = camera.width * 0.5 + dx * scale;
  if (y) *y = camera.height * 0.5 + (py - cy) * scale;
  return true;
}

}  // namespace velmora
