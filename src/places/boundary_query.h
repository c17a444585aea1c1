// Administrative boundaries by name: the REST queries of a public map service's province, city
// and county layers, the reading of the "rings" of a reply (the service's JSON, or the boundary
// page's text, which has the same form) and the naming of the rings found.
//
// What bounds a parse: every "rings" starts a new ring list; inside it a ring is an array of
// pairs and a pair an array whose first two entries are finite numbers (longitude, latitude;
// further entries are ignored). A pair that does not hold two finite numbers adds no point; a
// ring of fewer than two points is dropped. The parse reads at most the reply given (the fetch
// stops at kBoundaryReplyBytes).
#pragma once
#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

namespace velmora {

// Registry profile section of the boundary panel; "rest_host" is the REST service's
// "host[:port]" (http) or whole base address; unset: a stand-in that never resolves.
inline constexpr const char* kPolygonSection = "polygon";
inline constexpr size_t kBoundaryReplyBytes = 1u << 20;

// Sources of the combo: 0 the boundary page of the hidden script window, 1-3 the REST layers.
enum BoundarySource { kBoundaryScript = 0, kBoundaryProvince = 1, kBoundaryCity = 2, kBoundaryCounty = 3 };

struct BoundaryRing {
  std::string name;
  std::vector<PointF> points;  // x longitude, y latitude
};

// The name as the service's where clause needs it: every "'" doubled, then percent-encoded.
std::string BoundaryWhereName(std::string_view name);
// The query path of a REST source (1-3) for the name; "" for other sources.
std::string BoundaryQueryPath(int source, std::string_view name);
// The REST service's base address.
std::string BoundaryServiceBase();

// The rings of a reply, in order.
std::vector<std::vector<PointF>> ParseBoundaryRings(std::string_view reply);
// The rings named after the query: "<name>-<n>" (n from 0) when there is more than one, else the
// plain name.
std::vector<BoundaryRing> NameBoundaryRings(std::vector<std::vector<PointF>> rings, std::string_view name);

// The REST query (sources 1-3) on the calling thread: the reply's text, or nullopt when nothing
// arrived (also when `cancel` turned true). A network failure is reported through the sink
// given to SetBoundaryNetStateSink (2; 1 when the service answered).
std::optional<std::string> FetchBoundary(int source, std::string_view name, const std::atomic<bool>* cancel);
void SetBoundaryNetStateSink(std::function<void(int state)> sink);

}  // namespace velmora
