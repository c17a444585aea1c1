// The results of the web place services and the parsers that read their replies: the geocoder
// (id 8, JSON with blanks around the colons), the place search (id 111, compact JSON), the
// point-of-interest search (id 112) and the suggestion service.
//
// The parsers scan the reply for fixed key patterns rather than parse JSON as a whole: each
// reads only what it needs. The place and point-of-interest parsers read each result inside its
// own object, so a result that lacks a key (or is cut off at the reply's end) is skipped and the
// results after it still come out; a key is never taken from a neighbouring result. A result
// whose coordinates lie outside ±90/±180 is dropped, never moved to 0. Every search stays
// inside the reply, so truncated or hostile replies are safe. Texts are returned as UTF-8, each
// checked on its own: in a text, each byte that starts no well-formed UTF-8 sequence becomes
// U+FFFD, and every other text of the reply stays whole; JSON string escapes
// (\" \\ \uXXXX ...) are decoded and control characters become U+FFFD (line breaks and tabs a
// blank).
#pragma once
#include <deque>
#include <string>
#include <string_view>

#include "places/address_types.h"

namespace velmora {

// One named part of a place (a country, a city, a street...).
struct AddressComponent {
  std::string name;  // UTF-8
  int type = 0;      // address type code
  bool operator==(const AddressComponent&) const = default;
};

// One result of a reply: its components from the widest (country) to the narrowest, and its
// position (0 until the reply sets it; a zoom of 0 is unknown).
struct GeoResult {
  std::deque<AddressComponent> components;
  double lng = 0;
  double lat = 0;
  double zoom = 0;
};

// The parsers add each result at the front of `out`, so the results come in the reverse of
// their order in the reply.
//
// Geocoder (8): "address_components" starts a result; each "long_name" adds a component at the
// front with the first name of its "types" list (postal codes and postal code prefixes are left
// out); "location" gives latitude and longitude (read inside its object, in either order),
// "bounds" the zoom. A location with neither leaves the place unknown (0, 0); one with only one
// of them, or outside the world, drops the result. False when a "location" or "bounds" comes
// before any result or a second time for one result (the parse ends there).
bool ParseGeocoderReply(std::string_view reply, std::deque<GeoResult>& out);
// Place search (111): in the list after "results":[ each closed object holding a "name" with a
// "lat", "lng" and "address" of its own gives one result with the component
// "<name> - <address>" of type point of interest. True (no results) when the reply has no
// result list.
bool ParsePlaceSearchReply(std::string_view reply, std::deque<GeoResult>& out);
// Point-of-interest search (112): the reply must hold ":"E0" (false otherwise); then each
// closed object holding an "address" with a "name", "y" and "x" of its own gives one result.
bool ParsePoiSearchReply(std::string_view reply, std::deque<GeoResult>& out);
// Suggestions: each query:"<text>" with the lat_e7: and lng_e7: of its own entry (integers in
// 1e-7 degree) appends a point-of-interest hit without zoom or parent. Always true.
bool ParseSuggestReply(std::string_view reply, AddressHitList& out);

// The parser of a geocoder id (8, 111, 112); false for another id (nothing parsed).
bool ParseSearchReply(int geocoder_id, std::string_view reply, std::deque<GeoResult>& out);

// The zoom at which a box of these corners fills the view: per axis n = trunc(360 / width) or
// trunc(180 / height), zoom 1 + bit count of n (1 when n is 0), the larger of the two. An axis
// whose span is zero or not finite gives no zoom; with neither the result is 0 (unknown).
// At most 22.
int ZoomFromBounds(double lat1, double lng1, double lat2, double lng2);

}  // namespace velmora
