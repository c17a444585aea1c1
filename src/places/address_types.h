// The address type codes (0-34) that geocoders' type names map to, the search-result record
// AddressHit shared by every place search, and the image of each type in the search box's strip.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Address type codes. Table "addr<N>" of an address database holds the places of type N.
enum AddressType : int {
  kAddrUnknown = 0,
  kAddrStreetAddress = 1,
  kAddrRoute = 2,
  kAddrIntersection = 3,
  kAddrPolitical = 4,
  kAddrCountry = 5,
  kAddrAdminLevel1 = 6,
  kAddrAdminLevel2 = 7,
  kAddrAdminLevel3 = 8,
  kAddrColloquialArea = 9,
  kAddrLocality = 10,
  kAddrSublocality = 11,
  kAddrNeighborhood = 12,
  kAddrPremise = 13,
  kAddrSubpremise = 14,
  kAddrPostalCode = 15,
  kAddrNaturalFeature = 16,
  kAddrAirport = 17,
  kAddrPark = 18,
  kAddrPointOfInterest = 19,
  kAddrPostBox = 20,
  kAddrStreetNumber = 21,
  kAddrFloor = 22,
  kAddrRoom = 23,
  kAddrBusStation = 24,
  kAddrTrainStation = 25,
  kAddrSubwayStation = 26,
  kAddrSublocalityLevel1 = 27,  // ... level 5 = 31
  kAddrSublocalityLevel5 = 31,
  kAddrPostalCodePrefix = 32,
  kAddrPostalTown = 33,
  kAddrEstablishment = 34,
};
inline constexpr int kAddressTypeCount = 35;

constexpr bool IsAddressType(int64_t type) { return type >= 0 && type < kAddressTypeCount; }

// The code of a geocoder type name ("country" -> 5, "sublocality_level_2" -> 28); 0 for any
// other name. Exact, case-sensitive match, as the services write them.
int AddressTypeFromName(std::string_view name);
// The type name of a code ("" for 0 and for codes out of range).
const char* AddressTypeName(int type);
// Index of the type's picture in the search box's 16-pixel image strip (0-10).
int AddressTypeImage(int type);

// One place search hit. A zoom of 0 means that no zoom is known. For a stored place, parent id
// and parent type name the row of its parent (0, 0 for none).
struct AddressHit {
  std::string name;  // UTF-8; a stored place's name is preceded by its ancestors' names
  int16_t type = 0;
  double lng = 0;
  double lat = 0;
  double zoom = 0;
  int32_t parent_id = 0;
  int16_t parent_type = 0;

  bool operator==(const AddressHit&) const = default;
};
using AddressHitList = std::vector<AddressHit>;

}  // namespace velmora
