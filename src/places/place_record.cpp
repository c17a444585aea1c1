// Place levels, their style names and the order of place names.
#include "places/place_record.h"

#include <array>

#include "platform/text.h"

namespace velmora {

int PlaceLevelFromStyle(std::string_view style) {
  struct Style {
    std::string_view name;
    int level;
  };
  static constexpr std::array<Style, 6> kStyles = {{{"capcity", kPlaceCapital},
                                                    {"city", kPlaceCity},
                                                    {"countycity", kPlaceCountyCity},
                                                    {"county", kPlaceCounty},
                                                    {"town", kPlaceTown},
                                                    {"vi", kPlaceVillage}}};
  for (const Style& s : kStyles)
    if (style == s.name) return s.level;
  return 0;
}

int PlaceLevelAddressType(int level) {
  switch (level) {
    case kPlaceProvince: return 6;
    case kPlaceCapital:
    case kPlaceCity: return 7;
    case kPlaceCountyCity:
    case kPlaceCounty: return 8;
    case kPlaceTown: return 10;
    case kPlaceVillage: return 12;
    default: return 0;
  }
}

std::string PlaceNameSortKey(std::string_view utf8) {
  // GBK text never holds a NUL byte, so the separator ends the first part cleanly; std::string
  // compares bytes as unsigned values, as the code page's order needs.
  std::string key = Utf8ToAnsi(utf8);
  key.push_back('\0');
  key.append(utf8);
  return key;
}

bool PlaceNameLess(std::string_view a, std::string_view b) { return PlaceNameSortKey(a) < PlaceNameSortKey(b); }

}  // namespace velmora
