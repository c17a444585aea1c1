// MapSourceDef, the map-source catalogue file that ships beside the program ("map_sources.txt")
// and the URL builder that turns a source and a tile into the address to fetch.
//
// Catalogue file: UTF-8 text, one record per line, fields separated by '|' with the blanks
// around each field ignored; '#' starts a comment line. Two record types:
//   group  | <number 1-25> | <group name>
//   source | <id> | <group> | <kind 1-10> | <code> | <name> | <builder> | <variant> |
//            <min zoom> | <max zoom> | <host> | <URL template> [| <flags> [| <attribution>]]
// The two last fields are optional. Flags are words separated by blanks:
//   nobulk  the source's terms forbid bulk downloads: region downloads refuse it
//   agent   requests must name the program and its version in the User-Agent header
// The attribution is the text the map view must show while the source is on screen (the rest
// of the line, '|' excepted).
// Sources keep the file's order. A malformed line is skipped and reported with its line number;
// the rest of the file still loads.
//
// URL templates: "http://" or "https://" followed by text with these placeholders:
//   {host} the source's host   {key} the source's service key   {v} the variant
//   {x} {y} {z} tile column, row (counted by the builder's rule) and zoom   {q} quadkey
//   {s} server digit (x + y) mod 4   {abc} server letter a-c
//   {lng} {lat} the tile's centre in degrees   {bbox} the tile's bounds in the kind's own units
//   (EPSG:3857 or EPSG:3395 metres, degrees for kind 5) as "minx,miny,maxx,maxy".
// A host may itself hold {s} or {abc} to spread requests over numbered servers.
// Hosts, keys and templates are configuration: the registry profile sections "hosts", "keys"
// and "map_urls", keyed by the source id, override the catalogue's host, supply the key and
// replace the whole template; a source without a host gets "tile.example.invalid".
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/tile_key.h"

namespace velmora {

// How a source numbers its tiles in its URLs.
enum class UrlBuilder : int {
  kXyz = 0,       // rows counted from the north edge
  kTms = 1,       // rows counted from the south edge
  kQuadKey = 2,   // {q} quadkey of the tile
  kWms = 3,       // {bbox} of the tile (a map-image service)
  kGeocoder = 4,  // a geocoding service asked about the tile's centre {lng}, {lat}
};
const char* UrlBuilderName(UrlBuilder builder);  // "xyz", "tms", "quadkey", "wms", "geocoder"
std::optional<UrlBuilder> ParseUrlBuilder(std::string_view name);

inline constexpr int kMinProviderGroup = 1;
inline constexpr int kMaxProviderGroup = 25;
inline constexpr char kCatalogueFileName[] = "map_sources.txt";
inline constexpr char kDefaultTileHost[] = "tile.example.invalid";
inline constexpr char kHostsSection[] = "hosts";
inline constexpr char kKeysSection[] = "keys";
inline constexpr char kUrlTemplatesSection[] = "map_urls";

// One record of the catalogue.
struct MapSourceDef {
  int id = 0;             // stable number; files and tile keys store sources by it
  int group = 0;          // provider group 1-25
  int kind = 1;           // projection kind 1-10 (core/geodesy.h)
  std::string code;       // short code
  std::string name;       // display name
  std::string group_name; // the provider group's name
  UrlBuilder builder = UrlBuilder::kXyz;
  std::string variant;    // builder parameter, {v} in the template (layer or style name)
  int min_zoom = 2;
  int max_zoom = 18;
  std::string host;       // default host; configuration may override it
  std::string url_template;
  bool no_bulk_download = false;  // "nobulk": region downloads refuse the source
  bool identify_agent = false;    // "agent": the program's own User-Agent on every request
  std::string attribution;        // shown on the map while the source is drawn ("" none)

  bool IsGeocoder() const { return builder == UrlBuilder::kGeocoder; }
};

struct MapCatalogue {
  std::vector<std::string> group_names;  // index = group number (0 unused), size 26
  std::vector<MapSourceDef> sources;     // file order, geocoders included
  std::vector<std::string> errors;       // "<origin>:<line>: <reason>" per skipped line
};

// Parses catalogue text; every skipped line is in `errors` and written to the application log.
MapCatalogue ParseMapCatalogue(std::string_view text, const std::string& origin);
// Reads and parses a catalogue file. False (reason in *error) when the file cannot be read or
// holds no source at all; malformed lines alone do not make it fail.
bool LoadMapCatalogue(const std::string& path, MapCatalogue* out, std::string* error = nullptr);
// The shipped catalogue: the program folder + "map_sources.txt".
std::string ShippedCataloguePath();

// False for a source whose terms forbid bulk downloads (flag "nobulk"): region downloads,
// exports of areas and other jobs that fetch tiles wholesale check this before they start.
inline bool AllowsBulkDownload(const MapSourceDef& source) { return !source.no_bulk_download; }

// "Velmora/<version>": the User-Agent of requests to sources flagged "agent", whose usage
// policies require that a client names itself (and forbid pretending to be a browser).
std::string ProgramUserAgent();
// The User-Agent header line a request for the source must carry ("User-Agent: ..."), or ""
// when the source leaves the agent to the configuration.
std::string SourceUserAgentHeader(const MapSourceDef& source);

// True when the template starts with http:// or https:// and uses only known placeholders.
bool CheckUrlTemplate(std::string_view url_template, std::string* error = nullptr);

// Configuration look-ups of a source (registry profile, then the catalogue, then defaults).
std::string SourceHost(const MapSourceDef& source);
std::string SourceKey(const MapSourceDef& source);
std::string SourceUrlTemplate(const MapSourceDef& source);

// The URL of tile (x, y) at `zoom` of the source, with host, key and template from the
// configuration. x wraps around the world; "" when the zoom lies outside 0-22, the row lies
// outside the world of the source's kind or the (configured) template is invalid.
std::string BuildTileUrl(const MapSourceDef& source, int x, int y, int zoom);
std::string BuildTileUrl(const MapSourceDef& source, TileKey key);
// The expansion itself, without configuration look-ups.
std::string ExpandTileUrl(std::string_view url_template, const MapSourceDef& source,
                          std::string_view host, std::string_view key, int x, int y, int zoom);
// Quadkey of a tile: one digit 0-3 per level from the coarsest (x bit worth 1, y bit worth 2).
std::string TileQuadKey(int x, int y, int zoom);

}  // namespace velmora
