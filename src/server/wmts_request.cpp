// Request framing, request line, tile addresses, response header and example page of the map
// publishing server.
#include "server/wmts_request.h"

#include <algorithm>

#include "core/format.h"
#include "platform/text.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"

namespace velmora {

namespace {

// How the body after a header is to be handled.
struct BodyPlan {
  uint64_t length = 0;      // bytes to drop
  bool unframable = false;  // length unknown or too long: close after the answer
};

BodyPlan PlanBody(std::string_view header) {
  BodyPlan plan;
  bool have_length = false;
  size_t pos = header.find("\r\n");
  while (pos != std::string_view::npos && pos + 2 < header.size()) {
    size_t begin = pos + 2;
    size_t end = header.find("\r\n", begin);
    if (end == std::string_view::npos) break;
    std::string_view line = header.substr(begin, end - begin);
    pos = end;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = TrimAscii(line.substr(0, colon));
    std::string_view value = TrimAscii(line.substr(colon + 1));
    if (EqualsNoCaseAscii(name, "Transfer-Encoding")) {
      plan.unframable = true;
    } else if (EqualsNoCaseAscii(name, "Content-Length")) {
      std::optional<long long> n = ParseInt(value);
      if (!n || *n < 0 || (have_length && static_cast<uint64_t>(*n) != plan.length)) {
        plan.unframable = true;
      } else {
        plan.length = static_cast<uint64_t>(*n);
        have_length = true;
      }
    }
  }
  if (plan.length > kMaxSkippedBody) plan.unframable = true;
  if (plan.unframable) plan.length = 0;
  return plan;
}

// The number at `text` (optional sign, then digits): 0 without digits; nothing for more than
// nine digits, which no tile address needs and which would overflow.
std::optional<int> ReadNumber(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int value = 0, digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > 9) return std::nullopt;
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  return negative ? -value : value;
}

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A title as the text of a single-quoted script string inside an HTML page.
std::string ScriptString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      case '<': out += "\\x3c"; break;  // no "</script>" can end the block early
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

size_t FindHeaderEnd(std::string_view text) {
  if (text.size() < 4) return std::string_view::npos;
  size_t pos = text.find("\r\n\r\n");
  return pos == std::string_view::npos ? pos : pos + 4;
}

// ---- CRequestFramer -------------------------------------------------------------------------------

void CRequestFramer::Append(std::string_view bytes) {
  if (skip_ > 0 && Buffered() == 0) {
    size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip_, bytes.size()));
    skip_ -= dropped;
    bytes.remove_prefix(dropped);
  }
  buffer_.append(bytes.data(), bytes.size());
  if (skip_ > 0) {  // a body still being dropped lies at the front of what was buffered
    size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip_, Buffered()));
    skip_ -= dropped;
    start_ += dropped;
  }
  Compact();
}

CRequestFramer::State CRequestFramer::Next(std::string* header, bool* close_after) {
  *close_after = false;
  if (skip_ > 0) return State::kNeedMore;
  std::string_view rest(buffer_.data() + start_, Buffered());
  // Only the first `limit_` bytes can hold the header's end.
  size_t end = FindHeaderEnd(rest.substr(0, std::min(rest.size(), limit_)));
  if (end == std::string_view::npos) {
    return rest.size() >= limit_ ? State::kTooLarge : State::kNeedMore;
  }
  header->assign(rest.data(), end);
  start_ += end;
  BodyPlan body = PlanBody(*header);
  if (body.unframable) {
    *close_after = true;
    buffer_.clear();  // whatever follows cannot be told apart from the body
    start_ = 0;
  } else {
    size_t dropped = static_cast<size_t>(std::min<uint64_t>(body.length, Buffered()));
    start_ += dropped;
    skip_ = body.length - dropped;
  }
  Compact();
  return State::kRequest;
}

bool CRequestFramer::HasRequestLine() const {
  if (skip_ > 0) return true;
  return std::string_view(buffer_).substr(start_).find("\r\n") != std::string_view::npos;
}

void CRequestFramer::Compact() {
  if (start_ == buffer_.size()) {
    // An idle connection keeps no large buffer from an earlier burst.
    if (buffer_.capacity() > 2 * limit_) std::string().swap(buffer_);
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 4096 && start_ * 2 > buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

// ---- request line and tile address ---------------------------------------------------------------

std::optional<RequestLine> SplitRequestLine(std::string_view request) {
  size_t space = request.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  RequestLine line;
  line.method.assign(request.substr(0, space));
  if (line.method == "GET") {
    size_t second = request.find(' ', space + 1);
    line.path.assign(second == std::string_view::npos ? request.substr(space + 1)
                                                      : request.substr(space + 1, second - space - 1));
  }
  return line;
}

std::optional<TileAddress> ParseTileAddress(std::string_view path) {
  TileAddress tile;
  size_t layer = path.find("LAYER=");
  if (layer != std::string_view::npos) {
    std::optional<int> n = ReadNumber(path.substr(layer + 6));
    if (!n) return std::nullopt;
    tile.source = *n;
  }
  size_t matrix = path.find("TILEMATRIX=");
  if (matrix == std::string_view::npos) return std::nullopt;
  size_t pos = matrix + 11;
  std::optional<int> zoom = ReadNumber(path.substr(pos));
  if (!zoom) return std::nullopt;
  tile.zoom = *zoom;
  int* targets[] = {&tile.row, &tile.column};
  for (int* target : targets) {
    size_t eq = path.find('=', pos);
    if (eq == std::string_view::npos) return std::nullopt;
    pos = eq + 1;
    std::optional<int> n = ReadNumber(path.substr(pos));
    if (!n) return std::nullopt;
    *target = *n;
  }
  return tile;
}

bool IsServableTile(const TileAddress& tile, const CLayerManager& layers) {
  if (tile.zoom < 0 || tile.zoom > kMaxKeyZoom) return false;
  if (IsGeocoderId(tile.source)) return false;
  const MapSourceDef* source = layers.FindSourceStrict(tile.source);
  if (!source || source->IsGeocoder()) return false;
  if (tile.zoom < source->min_zoom || tile.zoom > source->max_zoom) return false;
  const int64_t side = int64_t{1} << tile.zoom;
  return tile.row >= 0 && tile.row < side && tile.column >= 0 && tile.column < side;
}

// ---- response --------------------------------------------------------------------------------------

std::string FormatHttpDate(std::time_t utc) {
  std::tm tm{};
  gmtime_r(&utc, &tm);
  return FormatC("%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7], tm.tm_mday,
                 kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void WmtsResponse::Clear() {
  head.clear();
  file.reset();
  if (body.capacity() > 256 * 1024) std::vector<uint8_t>().swap(body);
  body.clear();
}

std::string BuildResponseHeader(std::string_view status, std::string_view date, size_t content_length,
                                std::string_view content_type) {
  std::string h;
  h.reserve(200);
  h += "HTTP/1.0 ";
  h += status;
  h += "\r\nDate: ";
  h += date;
  h += "\r\nServer: VMRA\r\nAccept-Ranges: bytes\r\nContent-Length: ";
  h += std::to_string(content_length);
  h += "\r\nConnection: Keep-Alive\r\nContent-Type: ";
  h += content_type;
  h += "\r\n\r\n";
  return h;
}

// ---- example page ----------------------------------------------------------------------------------

std::string BuildOpenLayersPage(std::string_view page_template, const std::vector<PageLayer>& layers) {
  size_t mark = page_template.find("});");
  if (mark == std::string_view::npos || mark + 4 > page_template.size()) return std::string(page_template);
  size_t insert_at = mark + 4;
  size_t close = page_template.find("]);", insert_at);
  if (close == std::string_view::npos) return std::string(page_template);

  std::string insertion;
  int n = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (const PageLayer& layer : layers) {
      if (layer.base != (pass == 0)) continue;
      insertion += FormatC(
          "var wmts_layer%d = new OpenLayers.Layer.WMTS({name: '%s', url: wmtsUrl, layer: '%d', "
          "matrixSet: matrixSet,matrixIds: matrixIds, format: 'jpg', style: '1', opacity: 1,"
          "isBaseLayer: %s, resolutions :resolutions});",
          n, ScriptString(layer.title).c_str(), layer.id, layer.base ? "true" : "false");
      if (!layer.base) insertion += "\n";
      ++n;
    }
  }
  insertion += "map.addLayers([";
  for (int i = 0; i < n; ++i) insertion += FormatC("wmts_layer%d,", i);
  if (n > 0) insertion.pop_back();

  std::string page;
  page.reserve(page_template.size() + insertion.size());
  page.append(page_template.substr(0, insert_at));
  page += insertion;
  page.append(page_template.substr(close));
  return page;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to, size_t* count) {
  size_t replaced = 0;
  std::string out;
  if (from.empty()) {
    out.assign(text);
  } else {
    size_t pos = 0;
    for (;;) {
      size_t hit = text.find(from, pos);
      if (hit == std::string_view::npos) break;
      out.append(text.substr(pos, hit - pos));
      out.append(to);
      pos = hit + from.size();
      ++replaced;
    }
    out.append(text.substr(pos));
  }
  if (count) *count = replaced;
  return out;
}

}  // namespace velmora
