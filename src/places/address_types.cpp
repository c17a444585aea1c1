// Address type names and images.
#include "places/address_types.h"

#include <array>

namespace velmora {
namespace {

constexpr std::array<const char*, kAddressTypeCount> kNames = {
    "",                             // 0
    "street_address",               // 1
    "route",                        // 2
    "intersection",                 // 3
    "political",                    // 4
    "country",                      // 5
    "administrative_area_level_1",  // 6
    "administrative_area_level_2",  // 7
    "administrative_area_level_3",  // 8
    "colloquial_area",              // 9
    "locality",                     // 10
    "sublocality",                  // 11
    "neighborhood",                 // 12
    "premise",                      // 13
    "subpremise",                   // 14
    "postal_code",                  // 15
    "natural_feature",              // 16
    "airport",                      // 17
    "park",                         // 18
    "point_of_interest",            // 19
    "post_box",                     // 20
    "street_number",                // 21
    "floor",                        // 22
    "room",                         // 23
    "bus_station",                  // 24
    "train_station",                // 25
    "subway_station",               // 26
    "sublocality_level_1",          // 27
    "sublocality_level_2",          // 28
    "sublocality_level_3",          // 29
    "sublocality_level_4",          // 30
    "sublocality_level_5",          // 31
    "postal_code_prefix",           // 32
    "postal_town",                  // 33
    "establishment",                // 34
};

}  // namespace

int AddressTypeFromName(std::string_view name) {
  if (name.empty()) return kAddrUnknown;
  for (int i = 1; i < kAddressTypeCount; ++i) {
    if (name == kNames[static_cast<size_t>(i)]) return i;
  }
  return kAddrUnknown;
}

const char* AddressTypeName(int type) {
  return IsAddressType(type) ? kNames[static_cast<size_t>(type)] : "";
}

int AddressTypeImage(int type) {
  switch (type) {
    case kAddrAdminLevel1: return 2;
    case kAddrAdminLevel2:
    case kAddrNeighborhood: return 3;
    case kAddrAdminLevel3:
    case kAddrEstablishment: return 4;
    case kAddrLocality: return 5;
    case kAddrPointOfInterest: return 7;
    case kAddrTrainStation: return 8;
    case kAddrSubwayStation: return 9;
    case kAddrBusStation: return 10;
    default:
      if (type == kAddrSublocality || (type >= kAddrSublocalityLevel1 && type <= kAddrSublocalityLevel5)) return 6;
      return 0;
  }
}

}  // namespace velmora
