// Boundary queries: the REST paths, the fetch and the rings of a reply.
#include "places/boundary_query.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <mutex>

#include "core/http.h"
#include "core/log.h"
#include "core/net_state_sink.h"
#include "platform/text.h"

namespace velmora {

namespace {

CNetStateSink& NetSink() {
  static CNetStateSink sink;
  return sink;
}

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && IsAsciiSpace(s[i])) ++i;
  return i;
}

// A finite number at s[i] (after blanks); its end in *end.
bool ReadNumber(std::string_view s, size_t i, double* value, size_t* end) {
  i = SkipBlanks(s, i);
  if (i < s.size() && s[i] == '+') ++i;
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
  if (ec != std::errc() || !std::isfinite(v)) return false;
  *value = v;
  *end = static_cast<size_t>(ptr - s.data());
  return true;
}

}  // namespace

std::string BoundaryWhereName(std::string_view name) {
  std::string doubled;
  for (char c : name) {
    doubled += c;
    if (c == '\'') doubled += '\'';
  }
  return UrlEncode(doubled);
}

std::string BoundaryQueryPath(int source, std::string_view name) {
  const char* layer = nullptr;
  const char* field = "NAME";
  const char* callback = nullptr;
  switch (source) {
    case kBoundaryProvince: layer = "3", callback = "7"; break;
    case kBoundaryCity: layer = "4", callback = "8"; break;
    case kBoundaryCounty: layer = "5", field = "CNAME", callback = "10"; break;
    default: return {};
  }
  return std::string("/arcgis/rest/services/ch/MapServer/") + layer + "/query?f=json&where=" + field +
         "%20like%20'%25" + BoundaryWhereName(name) +
         "%25'&returnGeometry=true&spatialRel=esriSpatialRelEnvelopeIntersects&outFields=&callback="
         "dojo.io.script.jsonp_dojoIoScript" + callback + "._jsonpCallback";
}

std::string BoundaryServiceBase() {
  ServiceHost service = ParseServiceHost(TrimAscii(GetProfileString(kPolygonSection, "rest_host", "")), "http://");
  if (!service.valid) {
    if (!service.host.empty()) AppLog("boundary: ignoring rest_host \"%s\"", service.host.c_str());
    service.host = "boundary.example.invalid";
  }
  return service.Base();
}

std::vector<std::vector<PointF>> ParseBoundaryRings(std::string_view reply) {
  std::vector<std::vector<PointF>> rings;
  std::vector<PointF> ring;
  auto close_ring = [&] {
    if (ring.size() > 1) rings.push_back(std::move(ring));
    ring.clear();
  };
  size_t pos = 0;
  while ((pos = reply.find("rings", pos)) != std::string_view::npos) {
    // Each "rings" starts afresh: nothing of an earlier feature joins its first ring.
    close_ring();
    size_t i = pos + 5;
    pos = i;
    // The opening of the ring list.
    while (i < reply.size() && reply[i] != '[' && reply[i] != '{' && reply[i] != '}') ++i;
    if (i >= reply.size() || reply[i] != '[') continue;
    int depth = 0;
    for (; i < reply.size(); ++i) {
      const char c = reply[i];
      if (c == '[') {
        ++depth;
        if (depth == 3) {
          // A coordinate pair: two finite numbers, else no point.
          double x = 0, y = 0;
          size_t end = 0;
          if (ReadNumber(reply, i + 1, &x, &end)) {
            size_t comma = SkipBlanks(reply, end);
            size_t after = 0;
            if (comma < reply.size() && reply[comma] == ',' && ReadNumber(reply, comma + 1, &y, &after))
              ring.push_back(PointF{static_cast<float>(x), static_cast<float>(y)});
          }
        }
      } else if (c == ']') {
        --depth;
        if (depth == 1) close_ring();
        if (depth == 0) break;
      } else if (c == '"' && depth < 3) {
        break;  // a key inside the list: the list was not what it claimed
      }
    }
    close_ring();
    pos = i;
  }
  close_ring();
  return rings;
}

std::vector<BoundaryRing> NameBoundaryRings(std::vector<std::vector<PointF>> rings, std::string_view name) {
  std::vector<BoundaryRing> out;
  for (size_t n = 0; n < rings.size(); ++n) {
    BoundaryRing r;
    r.name = rings.size() > 1 ? std::string(name) + "-" + std::to_string(n) : std::string(name);
    r.points = std::move(rings[n]);
    out.push_back(std::move(r));
  }
  return out;
}

std::optional<std::string> FetchBoundary(int source, std::string_view name, const std::atomic<bool>* cancel) {
  const std::string path = BoundaryQueryPath(source, name);
  if (path.empty()) return std::nullopt;
  HttpOptions options;
  options.max_bytes = kBoundaryReplyBytes;
  options.cancel = cancel;
  HttpResult r = HttpFetch(BoundaryServiceBase() + path, options);
  if (r.Cancelled()) return std::nullopt;
  NetSink().Report(r.NetworkError() ? 2 : 1);
  // A reply cut at the limit is still read as far as it goes.
  if (r.body.empty() || (r.curl_code != 0 && !r.TooLarge()) || (r.http_status != 0 && (r.http_status < 200 || r.http_status >= 300))) {
    if (!r.error.empty()) AppLog("boundary: %s", r.error.c_str());
    return std::nullopt;
  }
  std::string_view text = r.Text();
  return IsValidUtf8(text) ? std::string(text) : AnsiToUtf8(text);
}

void SetBoundaryNetStateSink(std::function<void(int state)> sink) {
  NetSink().Set(std::move(sink));
}

}  // namespace velmora
