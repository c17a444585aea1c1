// CPlaceSearchClient: the request side of the place search box. It is the box's address
// database (a CAddressAdo whose id field names the search source) plus the web requests: the
// place search of the open geocoder, whose replies are stored and cached, and the suggestions
// asked while the user types. The search box window derives from it.
//
// The services' endpoints and credentials are registry-profile settings, section
// "place_search":
//   "geocoder_host", "place_host", "poi_host", "suggest_host": "host[:port]", optionally with
//       "http://" or "https://" in front (a bare host is asked over https). Without one, the
//       geocoders use the catalogue's host of their source (section "hosts") and the
//       suggestion service "suggest.example.invalid".
//   "place_key": the place search's service key; "poi_client_id": the point-of-interest
//       search's client identifier; "poi_cookie": the value of its cookie "key".
#pragma once
#include <atomic>
#include <string>
#include <string_view>

#include "places/address_ado.h"
#include "tiles/map_view_state.h"

namespace velmora {

// Search sources besides the geocoder ids (8, 111, 112), kept in the same id field.
inline constexpr int kSearchSourcePlaceNames = 32952;
inline constexpr int kSearchSourceSuggest = 32922;

inline constexpr char kPlaceSearchSection[] = "place_search";

struct PlaceSearchEndpoints {
  std::string geocoder;  // "scheme://host[:port]" of each service
  std::string place;
  std::string poi;
  std::string suggest;
  std::string place_key;
  std::string poi_client_id;
  std::string poi_cookie;

  // The settings of the registry profile (defaults where absent or unusable, logged).
  static PlaceSearchEndpoints FromProfile();
};

// The visible box of the map view, in degrees.
struct ViewBox {
  double west = -180;
  double north = 90;
  double east = 180;
  double south = -90;
};
// The current view's box; the whole world when there is no view or its box is empty or not
// finite (a window of no size).
ViewBox CurrentViewBox();
// The current view's camera; the default camera when there is no view.
MapCamera CurrentViewCamera();

// The point-of-interest search's range: trunc(width × 111319490.79327357) with the width in
// degrees (a box across the antimeridian counts its real width), at most 2^31 − 1.
int64_t SearchRange(const ViewBox& box);
// The request of a geocoder id for the text (UTF-8); "" for any other id or an empty text.
std::string BuildPlaceSearchUrl(int id, std::string_view text, const ViewBox& box, const PlaceSearchEndpoints& ends);
// The suggestion request for the text around the camera.
std::string BuildSuggestUrl(std::string_view text, const MapCamera& camera, const PlaceSearchEndpoints& ends);

class CPlaceSearchClient : public CAddressAdo {
 public:
  enum class RequestStatus {
    kNotAsked,  // no request: empty text, or the source is not of that kind
    kNoReply,   // nothing usable arrived (network failure, non-2xx status, empty or over-long reply)
    kRejected,  // the reply failed its status check (counted in the tile failure counters)
    kOk,        // the reply was read (possibly without results)
  };

  // Web search of the open geocoder (the id field): asks the service for the text, checks the
  // reply's status, stores its places (AddSearchReply) and appends the hits, then keeps the
  // reply in the reply cache under the text. Replies longer than kMaxReplyBytes are refused.
  RequestStatus RequestPlaceSearch(std::string_view text, AddressHitList& out);
  // Suggestions for the text while the source is the suggestion service; the hits are not
  // stored.
  RequestStatus RequestSuggest(std::string_view text, AddressHitList& out);

  // A flag that, once true, ends a request under way (the search box's cancel or a worker's
  // stop). Null for none.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_.store(cancel); }

 private:
  std::atomic<const std::atomic<bool>*> cancel_{nullptr};
};

}  // namespace velmora
