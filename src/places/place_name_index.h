// The place-name tree's index "adn.kan": the first two levels of the tree (provinces and their
// direct children) kept beside the database, so that the side bar fills at once at start-up. It is
// only a cache: written after every import and whenever it is missing, damaged or older than the
// database; the database stays the truth.
//
// Archive format (little-endian):
//   i32 schema 1; u32 group count;
//   the groups; a group is the record of one top item, the records of its children, then an end
//   record (type 0, ids 0, name "end", all six values 0).
//   A record: u32 type (0-8), u32 id, u32 parent id, the name (UTF-8 with the archive's string
//   length prefix: place names may use characters that GBK lacks), then six f64: longitude,
//   latitude, west, north, east, south.
// Reading checks the count and every length against the bytes left, every type and id, and that
// each value is finite; the file must end right after the counted groups' last end record.
// Anything else is a damaged index.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/archive.h"
#include "places/place_record.h"

namespace velmora {

inline constexpr int32_t kPlaceIndexSchema = 1;

struct PlaceIndexGroup {
  PlaceRecord top;
  std::vector<PlaceRecord> children;
  bool operator==(const PlaceIndexGroup&) const = default;
};

std::vector<uint8_t> EncodePlaceIndex(const std::vector<PlaceIndexGroup>& groups);
// False, with the reason in *error, when the bytes are not a whole index (groups untouched).
bool ParsePlaceIndex(const uint8_t* data, size_t size, std::vector<PlaceIndexGroup>* groups, std::string* error);

// kMissing when there is no file, kDamaged (reason in *error) when it cannot be read or parsed.
ArchiveLoad LoadPlaceIndex(const std::string& path, std::vector<PlaceIndexGroup>* groups, std::string* error = nullptr);
// Written to a temporary file and renamed over the old one; false (reason in *error) on failure.
bool SavePlaceIndex(const std::string& path, const std::vector<PlaceIndexGroup>& groups, std::string* error = nullptr);

}  // namespace velmora
