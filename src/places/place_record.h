// PlaceRecord: one administrative place of the place-name tree (the country, a province, a city,
// a county, a town, a village) with its position and box, the place levels and their KML style
// names, and the order in which place names are listed.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Place levels (the "type" column of the place-name database).
enum PlaceLevel : int {
  kPlaceCountry = 0,        // the root, named "中国"
  kPlaceProvince = 2,       // the name of an imported KML document
  kPlaceCapital = 3,        // provincial capital, style "capcity"
  kPlaceCity = 4,           // style "city"
  kPlaceCountyCity = 5,     // county-level city, style "countycity"
  kPlaceCounty = 6,         // style "county"
  kPlaceTown = 7,           // style "town"
  kPlaceVillage = 8,        // style "vi"
};
inline constexpr int kPlaceLevelCount = 9;  // levels 0-8 (1 is unused)
inline constexpr char kPlaceRootName[] = "中国";

constexpr bool IsPlaceLevel(int64_t level) { return level >= 0 && level < kPlaceLevelCount; }

// The level of a KML style name ("capcity" 3, "city" 4, "countycity" 5, "county" 6, "town" 7,
// "vi" 8); 0 for any other name.
int PlaceLevelFromStyle(std::string_view style);
// The address type of a place-name hit by its level: 2 -> 6; 3 and 4 -> 7; 5 and 6 -> 8;
// 7 -> 10; 8 -> 12; any other level -> 0.
int PlaceLevelAddressType(int level);

struct PlaceRecord {
  int type = 0;       // level
  int id = 0;         // row id; 0 until stored
  int parent_id = 0;  // 0: no parent
  std::string name;   // UTF-8
  double lng = 0;     // position
  double lat = 0;
  double west = 0;    // box: top-left (west, north), bottom-right (east, south); all 0 when unknown
  double north = 0;
  double east = 0;
  double south = 0;

  bool HasPosition() const { return lng != 0 || lat != 0; }
  bool operator==(const PlaceRecord&) const = default;
};

// The key that orders place names as a Chinese user expects: the GBK bytes of the name (pinyin
// order for the common characters, as the code page sorts them), then its UTF-8 bytes, so that
// names GBK cannot tell apart still sort the same way every time.
std::string PlaceNameSortKey(std::string_view utf8);
// Compares two names by that key.
bool PlaceNameLess(std::string_view a, std::string_view b);

}  // namespace velmora
