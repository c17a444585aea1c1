// The map-source catalogue loader and the tile URL builder.
#include "tiles/map_source.h"

#include <array>
#include <cmath>
#include <numbers>
#include <set>
#include <utility>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {

namespace {

constexpr std::array<const char*, 5> kBuilderNames = {"xyz", "tms", "quadkey", "wms", "geocoder"};
constexpr std::array<std::string_view, 12> kPlaceholders = {
    "host", "key", "v", "x", "y", "z", "q", "s", "abc", "lng", "lat", "bbox"};
// The highest id whose keys cannot collide with the city-map values: id × 23 + 22 < 0x3FFFE.
constexpr int kMaxSourceId = (static_cast<int>(kCityMapKeyValue55) - 1 - kMaxKeyZoom) / kZoomsPerSource;

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t bar = line.find('|', start);
    fields.push_back(TrimAscii(line.substr(start, bar == std::string_view::npos ? line.npos : bar - start)));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return fields;
}

bool ParseIntField(std::string_view text, int low, int high, int* out) {
  std::optional<long long> v = ParseInt(text);
  if (!v || *v < low || *v > high) return false;
  *out = static_cast<int>(*v);
  return true;
}

// A host name with an optional port: letters, digits, '.', '-', '_', ':' and '[' ']' (IPv6),
// plus the server placeholders {s} and {abc} that rotate requests over numbered servers.
bool IsValidHost(std::string_view host) {
  for (size_t i = 0; i < host.size(); ++i) {
    char c = host[i];
    if (c == '{') {
      std::string_view rest = host.substr(i);
      if (rest.starts_with("{s}")) i += 2;
      else if (rest.starts_with("{abc}")) i += 4;
      else return false;
      continue;
    }
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
    if (!ok) return false;
  }
  return true;
}

// The host with its server placeholders filled.
std::string ExpandHost(std::string_view host, int64_t server) {
  std::string out;
  for (size_t i = 0; i < host.size(); ++i) {
    std::string_view rest = host.substr(i);
    if (rest.starts_with("{s}")) {
      out += std::to_string(server % 4);
      i += 2;
    } else if (rest.starts_with("{abc}")) {
      out.push_back(static_cast<char>('a' + server % 3));
      i += 4;
    } else {
      out.push_back(host[i]);
    }
  }
  return out;
}

// Number text without a negative zero.
std::string Num(double v, int decimals) { return FormatFixed(v + 0.0, decimals); }

// The flag words of a source line; false (reason in *why) for an unknown word.
bool ParseSourceFlags(std::string_view text, MapSourceDef* d, std::string* why) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(" \t", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (word == "nobulk") {
      d->no_bulk_download = true;
    } else if (word == "agent") {
      d->identify_agent = true;
    } else {
      *why = "unknown source flag \"" + std::string(word) + "\"";
      return false;
    }
  }
  return true;
}

struct PendingSource {
  MapSourceDef def;
  int line;
};

}  // namespace

const char* UrlBuilderName(UrlBuilder builder) {
  size_t i = static_cast<size_t>(builder);
  return i < kBuilderNames.size() ? kBuilderNames[i] : "";
}

std::optional<UrlBuilder> ParseUrlBuilder(std::string_view name) {
  for (size_t i = 0; i < kBuilderNames.size(); ++i)
    if (name == kBuilderNames[i]) return static_cast<UrlBuilder>(i);
  return std::nullopt;
}

bool CheckUrlTemplate(std::string_view url_template, std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  if (!url_template.starts_with("http://") && !url_template.starts_with("https://"))
    return fail("the URL template does not start with http:// or https://");
  for (size_t i = 0; i < url_template.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(url_template[i]);
    if (c <= ' ' || c == 0x7F) return fail("the URL template holds a blank or control character");
    if (c != '{') continue;
    size_t close = url_template.find('}', i);
    if (close == std::string_view::npos) return fail("unclosed '{' in the URL template");
    std::string_view name = url_template.substr(i + 1, close - i - 1);
    bool known = false;
    for (std::string_view p : kPlaceholders) known = known || p == name;
    if (!known) return fail("unknown placeholder {" + std::string(name) + "}");
    i = close;
  }
  return true;
}

MapCatalogue ParseMapCatalogue(std::string_view text, const std::string& origin) {
  MapCatalogue cat;
  cat.group_names.assign(kMaxProviderGroup + 1, std::string());
  std::vector<PendingSource> pending;
  std::set<int> ids;
  auto report = [&](int line, const std::string& why) {
    std::string msg = origin + ":" + std::to_string(line) + ": " + why;
    AppLog("map sources: %s", msg.c_str());
    cat.errors.push_back(std::move(msg));
  };
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  int line_no = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    ++line_no;
    std::string_view trimmed = TrimAscii(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    if (!IsValidUtf8(trimmed)) {
      report(line_no, "not UTF-8 text");
      continue;
    }
    std::vector<std::string_view> f = SplitFields(trimmed);
    if (f[0] == "group") {
      int number = 0;
      if (f.size() != 3) {
        report(line_no, "a group line has 3 fields, this one " + std::to_string(f.size()));
      } else if (!ParseIntField(f[1], kMinProviderGroup, kMaxProviderGroup, &number)) {
        report(line_no, "group number \"" + std::string(f[1]) + "\" is not 1-25");
      } else if (f[2].empty()) {
        report(line_no, "group " + std::to_string(number) + " has no name");
      } else if (!cat.group_names[number].empty()) {
        report(line_no, "group " + std::to_string(number) + " is defined twice");
      } else {
        cat.group_names[number] = std::string(f[2]);
      }
      continue;
    }
    if (f[0] != "source") {
      report(line_no, "unknown record \"" + std::string(f[0]) + "\"");
      continue;
    }
    if (f.size() < 12 || f.size() > 14) {
      report(line_no, "a source line has 12 to 14 fields, this one " + std::to_string(f.size()));
      continue;
    }
    MapSourceDef d;
    std::string why;
    std::optional<UrlBuilder> builder = ParseUrlBuilder(f[6]);
    if (!ParseIntField(f[1], 0, kMaxSourceId, &d.id))
      why = "source id \"" + std::string(f[1]) + "\" is not 0-" + std::to_string(kMaxSourceId);
    else if (ids.count(d.id))
      why = "source id " + std::to_string(d.id) + " is used twice";
    else if (!ParseIntField(f[2], kMinProviderGroup, kMaxProviderGroup, &d.group))
      why = "provider group \"" + std::string(f[2]) + "\" is not 1-25";
    else if (!ParseIntField(f[3], kMinProjectionKind, kMaxProjectionKind, &d.kind))
      why = "projection kind \"" + std::string(f[3]) + "\" is not 1-10";
    else if (f[4].empty() || f[5].empty())
      why = "the short code and the display name must not be empty";
    else if (!builder)
      why = "unknown URL builder \"" + std::string(f[6]) + "\"";
    else if (!ParseIntField(f[8], 0, kMaxKeyZoom, &d.min_zoom) ||
             !ParseIntField(f[9], 0, kMaxKeyZoom, &d.max_zoom) || d.min_zoom > d.max_zoom)
      why = "zoom range \"" + std::string(f[8]) + "\"-\"" + std::string(f[9]) + "\" is not within 0-22";
    else if (!IsValidHost(f[10]))
      why = "host \"" + std::string(f[10]) + "\" is not a host name";
    else if (std::string e; !CheckUrlTemplate(f[11], &e))
      why = e;
    else if (f.size() > 12)
      ParseSourceFlags(f[12], &d, &why);  // sets `why` for an unknown flag
    if (!why.empty()) {
      report(line_no, why);
      continue;
    }
    d.code = std::string(f[4]);
    d.name = std::string(f[5]);
    d.builder = *builder;
    d.variant = std::string(f[7]);
    d.host = std::string(f[10]);
    d.url_template = std::string(f[11]);
    if (f.size() > 13) d.attribution = std::string(f[13]);
    ids.insert(d.id);
    pending.push_back({std::move(d), line_no});
  }

  // Groups may be declared after the sources that use them.
  for (PendingSource& p : pending) {
    if (cat.group_names[p.def.group].empty()) {
      report(p.line, "provider group " + std::to_string(p.def.group) + " is not declared");
      continue;
    }
    p.def.group_name = cat.group_names[p.def.group];
    cat.sources.push_back(std::move(p.def));
  }
  return cat;
}

bool LoadMapCatalogue(const std::string& path, MapCatalogue* out, std::string* error) {
  std::string why;
  std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path, &why);
  if (!bytes) {
    if (error) *error = "cannot read " + path + ": " + why;
    AppLog("map sources: cannot read %s: %s", path.c_str(), why.c_str());
    return false;
  }
  std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  MapCatalogue cat = ParseMapCatalogue(text, GetFileNamePart(path));
  if (cat.sources.empty()) {
    if (error) *error = path + " holds no map source";
    AppLog("map sources: %s holds no map source", path.c_str());
    if (out) *out = std::move(cat);
    return false;
  }
  if (out) *out = std::move(cat);
  return true;
}

std::string ProgramUserAgent() {
#ifdef VELMORA_VERSION
  return std::string("Velmora/") + VELMORA_VERSION;
#else
  return "Velmora";
#endif
}

std::string SourceUserAgentHeader(const MapSourceDef& source) {
  return source.identify_agent ? "User-Agent: " + ProgramUserAgent() : std::string();
}

std::string ShippedCataloguePath() { return AppOptions().program_dir + kCatalogueFileName; }

std::string SourceHost(const MapSourceDef& source) {
  std::string host = GetProfileString(kHostsSection, std::to_string(source.id), "");
  if (!host.empty() && IsValidHost(host)) return host;
  if (!host.empty()) AppLog("map sources: ignoring host \"%s\" of source %d", host.c_str(), source.id);
  return source.host.empty() ? std::string(kDefaultTileHost) : source.host;
}

std::string SourceKey(const MapSourceDef& source) {
  return GetProfileString(kKeysSection, std::to_string(source.id), "");
}

std::string SourceUrlTemplate(const MapSourceDef& source) {
  std::string t = GetProfileString(kUrlTemplatesSection, std::to_string(source.id), "");
  return t.empty() ? source.url_template : t;
}

std::string TileQuadKey(int x, int y, int zoom) {
  std::string q;
  for (int bit = zoom - 1; bit >= 0; --bit) {
    int digit = ((static_cast<unsigned>(x) >> bit) & 1u) | (((static_cast<unsigned>(y) >> bit) & 1u) << 1);
    q.push_back(static_cast<char>('0' + digit));
  }
  return q;
}

std::string ExpandTileUrl(std::string_view url_template, const MapSourceDef& source,
                          std::string_view host, std::string_view key, int x, int y, int zoom) {
  if (zoom < 0 || zoom > kMaxKeyZoom || !CheckUrlTemplate(url_template)) return {};
  int64_t columns = 0, rows = 0;
  KindTileCount(source.kind, zoom, &columns, &rows);
  int64_t col = x % columns;
  if (col < 0) col += columns;
  if (y < 0 || y >= rows) return {};
  int64_t row = source.builder == UrlBuilder::kTms ? rows - 1 - y : y;

  std::string out;
  out.reserve(url_template.size() + 32);
  for (size_t i = 0; i < url_template.size(); ++i) {
    char c = url_template[i];
    if (c != '{') {
      out.push_back(c);
      continue;
    }
    size_t close = url_template.find('}', i);
    std::string_view name = url_template.substr(i + 1, close - i - 1);
    i = close;
    if (name == "host") out += ExpandHost(host, col + y);
    else if (name == "key") out += UrlEncode(key);
    else if (name == "v") out += UrlEncode(source.variant);
    else if (name == "x") out += std::to_string(col);
    else if (name == "y") out += std::to_string(row);
    else if (name == "z") out += std::to_string(zoom);
    else if (name == "q") out += TileQuadKey(static_cast<int>(col), y, zoom);
    else if (name == "s") out += std::to_string((col + y) % 4);
    else if (name == "abc") out.push_back(static_cast<char>('a' + (col + y) % 3));
    else if (name == "lng" || name == "lat") {
      LngLat centre = PixelToLngLat((col + 0.5) * kTileSize, (y + 0.5) * kTileSize, source.kind, zoom);
      out += Num(name == "lng" ? centre.lng : centre.lat, 6);
    } else if (name == "bbox") {
      double world = WorldPixels(zoom);
      double px0 = double(col) * kTileSize, px1 = px0 + kTileSize;
      double py0 = double(y) * kTileSize, py1 = py0 + kTileSize;
      if (source.kind == kKindEquirect) {
        double height = world / 2;
        out += Num(px0 / world * 360 - 180, 9) + "," + Num(90 - py1 / height * 180, 9) + "," +
               Num(px1 / world * 360 - 180, 9) + "," + Num(90 - py0 / height * 180, 9);
      } else {
        // EPSG:3857 and EPSG:3395 metres share the pixel scale: 2·pi·a per world.
        const double circumference = 2 * std::numbers::pi * kEarthRadiusM;
        out += Num((px0 / world - 0.5) * circumference, 3) + "," +
               Num((0.5 - py1 / world) * circumference, 3) + "," +
               Num((px1 / world - 0.5) * circumference, 3) + "," +
               Num((0.5 - py0 / world) * circumference, 3);
      }
    }
  }
  return out;
}

std::string BuildTileUrl(const MapSourceDef& source, int x, int y, int zoom) {
  std::string url_template = SourceUrlTemplate(source);
  std::string error;
  if (!CheckUrlTemplate(url_template, &error)) {
    AppLog("map sources: source %d: %s", source.id, error.c_str());
    return {};
  }
  return ExpandTileUrl(url_template, source, SourceHost(source), SourceKey(source), x, y, zoom);
}

std::string BuildTileUrl(const MapSourceDef& source, TileKey key) {
  TileKeyParts p = SplitTileKey(key);
  return BuildTileUrl(source, p.x, p.y, p.zoom);
}

}  // namespace velmora
