// CPlaceSearchClient: the web requests of the place search box, their endpoints and the view
// box and camera they are asked about.
#include "places/place_search_client.h"

#include <climits>
#include <cmath>
#include <utility>

#include "core/format.h"
#include "core/http.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/text.h"
#include "tiles/layer_manager.h"
#include "tiles/tile.h"
#include "tiles/tile_key.h"

namespace velmora {
namespace {

// The stand-in credentials; each installation sets its own in the profile.
constexpr char kDefaultPlaceKey[] = "5e1c8a0d73b24f96a0e4d2c7b19f3a68";
constexpr char kDefaultPoiClientId[] = "7b3e91c4-2d6a-4f80-9c15-e8a4b7d20f63";
constexpr char kDefaultPoiCookie[] = "c4f07a9b21d86e35f9a01b7c6d2e48f3";
constexpr char kDefaultSuggestHost[] = "suggest.example.invalid";
constexpr double kRangePerDegree = 111319490.79327357;

// "scheme://host[:port]" of a setting ("" when it is not a host with an optional scheme).
std::string BaseUrl(std::string_view value, std::string_view default_scheme) {
  const ServiceHost service = ParseServiceHost(value, default_scheme);
  return service.valid ? service.Base() : std::string();
}

// The endpoint of a service: its own setting, else the catalogue's host of its source (with
// the scheme of the source's template), else the fallback host.
std::string ServiceBase(const char* key, int source_id, const char* fallback_host) {
  const std::string value = GetProfileString(kPlaceSearchSection, key, "");
  if (!value.empty()) {
    std::string base = BaseUrl(value, "https://");
    if (!base.empty()) return base;
    AppLog("place search: ignoring %s \"%s\"", key, value.c_str());
  }
  if (source_id != 0) {
    if (const MapSourceDef* source = LayerManager().FindSourceStrict(source_id)) {
      const std::string url_template = SourceUrlTemplate(*source);
      std::string base = BaseUrl(SourceHost(*source), url_template.starts_with("https://") ? "https://" : "http://");
      if (!base.empty()) return base;
    }
  }
  return std::string("https://") + fallback_host;
}

// A cookie value that cannot break the Cookie header: visible ASCII without ; , " \ and blanks.
bool IsCookieValue(std::string_view value) {
  for (char c : value) {
    if (c <= ' ' || c > '~' || c == ';' || c == ',' || c == '"' || c == '\\') return false;
  }
  return true;
}

std::string Fixed(double v) { return FormatFixed(v + 0.0, 6); }

bool BoxUsable(const ViewBox& b) {
  return std::isfinite(b.west) && std::isfinite(b.east) && std::isfinite(b.north) && std::isfinite(b.south) &&
         b.north > b.south && b.west != b.east;
}

}  // namespace

PlaceSearchEndpoints PlaceSearchEndpoints::FromProfile() {
  PlaceSearchEndpoints e;
  e.geocoder = ServiceBase("geocoder_host", 8, "geo.example.invalid");
  e.place = ServiceBase("place_host", 111, "place.example.invalid");
  e.poi = ServiceBase("poi_host", 112, "poi.example.invalid");
  e.suggest = ServiceBase("suggest_host", 0, kDefaultSuggestHost);
  e.place_key = GetProfileString(kPlaceSearchSection, "place_key", kDefaultPlaceKey);
  e.poi_client_id = GetProfileString(kPlaceSearchSection, "poi_client_id", kDefaultPoiClientId);
  e.poi_cookie = GetProfileString(kPlaceSearchSection, "poi_cookie", kDefaultPoiCookie);
  if (!IsCookieValue(e.poi_cookie)) {
    AppLog("place search: the poi_cookie setting is not a cookie value; no cookie is sent");
    e.poi_cookie.clear();
  }
  return e;
}

ViewBox CurrentViewBox() {
  IMapViewState* view = CurrentMapView();
  if (view == nullptr) return {};
  float top_left[2] = {0, 0}, bottom_right[2] = {0, 0};
  view->GetViewBounds(top_left, bottom_right);
  ViewBox box{top_left[0], top_left[1], bottom_right[0], bottom_right[1]};
  return BoxUsable(box) ? box : ViewBox{};
}

MapCamera CurrentViewCamera() {
  IMapViewState* view = CurrentMapView();
  return view ? view->GetCamera() : MapCamera{};
}

int64_t SearchRange(const ViewBox& box) {
  double width = box.east - box.west;
  if (width < 0) width += 360;  // a view across the antimeridian
  if (!(width > 0) || !std::isfinite(width)) return 0;
  const double range = std::trunc(width * kRangePerDegree);
  return range >= double(INT32_MAX) ? INT32_MAX : static_cast<int64_t>(range);
}

std::string BuildPlaceSearchUrl(int id, std::string_view text, const ViewBox& box, const PlaceSearchEndpoints& ends) {
  if (text.empty()) return {};
  const std::string query = UrlEncode(text);
  switch (id) {
    case 8:
      return ends.geocoder + "/maps/api/geocode/json?address=" + query + "&sensor=false";
    case 111:
      return ends.place + "/place/search?&query=" + query + "&bounds=" + Fixed(box.south) + "," + Fixed(box.west) + "," +
             Fixed(box.north) + "," + Fixed(box.east) + "&output=json&key=" + UrlEncode(ends.place_key);
    case 112: {
      double centre_x = (box.west + box.east) / 2;
      if (box.east < box.west) {
        centre_x += 180;
        if (centre_x > 180) centre_x -= 360;
      }
      return ends.poi + "/gss/simple?encode=utf-8&srctype=POI&number=10&batch=1&range=" +
             std::to_string(SearchRange(box)) + "&resType=json&retvalue=1&sid=1002&rid=700176&cenX=" + Fixed(centre_x) +
             "&cenY=" + Fixed((box.north + box.south) / 2) + "&keyword=" + query +
             "&uniqid=" + UrlEncode(ends.poi_client_id) + "&ia=1";
    }
    default:
      return {};
  }
}

std::string BuildSuggestUrl(std::string_view text, const MapCamera& camera, const PlaceSearchEndpoints& ends) {
  if (text.empty()) return {};
  const double zoom = std::isfinite(camera.zoom) ? std::trunc(camera.zoom) : 0;
  // 2^(zoom mod 32), in double: 2^31 does not fit an int.
  const int level = static_cast<int>(std::fmod(std::fmod(std::clamp(zoom, -1e6, 1e6), 32) + 32, 32));
  const double span = 360.0 / std::ldexp(1.0, level);
  const double lat = std::isfinite(camera.lat) ? camera.lat : 0;
  const double lng = std::isfinite(camera.lng) ? camera.lng : 0;
  return ends.suggest + "/maps/suggest?q=" + UrlEncode(text) + "&cp=2&hl=zh-CN&gl=cn&v=2&clid=2&ll=" + Fixed(lat) +
         "," + Fixed(lng) + "&spn=" + Fixed(span / 2) + "," + Fixed(span) + "&src=1&num=20&numps=2";
}

CPlaceSearchClient::RequestStatus CPlaceSearchClient::RequestPlaceSearch(std::string_view text, AddressHitList& out) {
  const int id = Id();
  const PlaceSearchEndpoints ends = PlaceSearchEndpoints::FromProfile();
  const std::string url = BuildPlaceSearchUrl(id, text, CurrentViewBox(), ends);
  if (url.empty()) return RequestStatus::kNotAsked;

  HttpOptions options;
  options.max_bytes = kMaxReplyBytes;
  options.cancel = cancel_.load();
  if (id == 112 && !ends.poi_cookie.empty()) options.cookies.emplace_back("key", ends.poi_cookie);
  // No lock is held here: the database stays usable while the request waits.
  const HttpResult reply = HttpFetch(url, options);
  if (!reply.Ok() || reply.body.empty()) {
    if (reply.TooLarge())
      AppLog("place search %d: reply longer than %zu bytes refused", id, kMaxReplyBytes);
    else if (!reply.Cancelled())
      AppLog("place search %d: %s", id, reply.error.empty() ? "no reply" : reply.error.c_str());
    return RequestStatus::kNoReply;
  }

  const TileKey key = MakeTileKey(0, 0, TileKeyValue(id, 0));
  CGeocodeReply tile(TileKeyLow(key), TileKeyHigh(key));
  if (!tile.ParseReply(reply.body.data(), reply.body.size())) {
    // A failure that names no state of its own counts as a failed download.
    if (tile.GetState() == DS_UNLOAD) tile.SetState(DS_FAILED);
    tile.ReportFailure();
    return RequestStatus::kRejected;
  }
  AddSearchReply(reply.Text(), out);
  CacheReply(text, reply.Text());
  return RequestStatus::kOk;
}

CPlaceSearchClient::RequestStatus CPlaceSearchClient::RequestSuggest(std::string_view text, AddressHitList& out) {
  if (Id() != kSearchSourceSuggest) return RequestStatus::kNotAsked;
  const std::string url = BuildSuggestUrl(text, CurrentViewCamera(), PlaceSearchEndpoints::FromProfile());
  if (url.empty()) return RequestStatus::kNotAsked;
  HttpOptions options;
  options.max_bytes = kMaxReplyBytes;
  options.cancel = cancel_.load();
  const HttpResult reply = HttpFetch(url, options);
  if (!reply.Ok() || reply.body.empty()) return RequestStatus::kNoReply;
  ParseSuggestReply(reply.Text(), out);
  return RequestStatus::kOk;
}

}  // namespace velmora
