// The place-name tree's index file.
#include "places/place_name_index.h"

#include <cmath>
#include <limits>

#include "platform/text.h"

namespace velmora {
namespace {

constexpr char kEndName[] = "end";
// A record's fixed part: three u32 and six f64 (its name adds at least one byte).
constexpr size_t kRecordFixedBytes = 3 * 4 + 6 * 8;

void WriteRecord(ArchiveWriter& ar, const PlaceRecord& r) {
  auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  ar.U32(static_cast<uint32_t>(r.type));
  ar.U32(static_cast<uint32_t>(r.id));
  ar.U32(static_cast<uint32_t>(r.parent_id));
  ar.RawString(r.name);
  for (double v : {r.lng, r.lat, r.west, r.north, r.east, r.south}) ar.F64(finite(v));
}

PlaceRecord ReadRecord(ArchiveReader& ar) {
  const size_t at = ar.Position();
  PlaceRecord r;
  const uint32_t type = ar.U32();
  const uint32_t id = ar.U32();
  const uint32_t parent = ar.U32();
  if (type >= static_cast<uint32_t>(kPlaceLevelCount))
    throw ArchiveError("place record at offset " + std::to_string(at) + " has level " + std::to_string(type));
  constexpr uint32_t kMaxId = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  if (id > kMaxId || parent > kMaxId) throw ArchiveError("place record at offset " + std::to_string(at) + " has a bad id");
  r.type = static_cast<int>(type);
  r.id = static_cast<int>(id);
  r.parent_id = static_cast<int>(parent);
  r.name = ar.RawString();
  if (!IsValidUtf8(r.name)) throw ArchiveError("place record at offset " + std::to_string(at) + " has a name that is not UTF-8");
  double* values[] = {&r.lng, &r.lat, &r.west, &r.north, &r.east, &r.south};
  for (double* v : values) {
    *v = ar.F64();
    if (!std::isfinite(*v)) throw ArchiveError("place record at offset " + std::to_string(at) + " has a value that is not finite");
  }
  return r;
}

bool IsEndRecord(const PlaceRecord& r) {
  return r.type == 0 && r.id == 0 && r.parent_id == 0 && r.name == kEndName && r.lng == 0 && r.lat == 0 &&
         r.west == 0 && r.north == 0 && r.east == 0 && r.south == 0;
}

void ReadIndex(ArchiveReader& ar, std::vector<PlaceIndexGroup>& groups) {
  ar.Schema(kPlaceIndexSchema);
  // A group is at least its top record and its end record.
  const uint32_t count = ar.Count(2 * (kRecordFixedBytes + 1));
  groups.reserve(count);
  bool open = false;
  while (!ar.AtEnd()) {
    if (ar.Remaining() < kRecordFixedBytes + 1) throw ArchiveError("place index ends inside a record");
    PlaceRecord r = ReadRecord(ar);
    if (IsEndRecord(r)) {
      if (!open) throw ArchiveError("place index has an end record without a group");
      open = false;
    } else if (!open) {
      if (groups.size() == count) throw ArchiveError("place index holds more groups than it counts");
      groups.push_back(PlaceIndexGroup{std::move(r), {}});
      open = true;
    } else {
      groups.back().children.push_back(std::move(r));
    }
  }
  if (open) throw ArchiveError("place index ends inside a group");
  if (groups.size() != count)
    throw ArchiveError("place index holds " + std::to_string(groups.size()) + " of its " + std::to_string(count) + " groups");
}

}  // namespace

std::vector<uint8_t> EncodePlaceIndex(const std::vector<PlaceIndexGroup>& groups) {
  ArchiveWriter ar;
  ar.Schema(kPlaceIndexSchema);
  // Records the reader would refuse are left out rather than spoil the whole index.
  auto usable = [](const PlaceRecord& r) { return IsPlaceLevel(r.type) && !IsEndRecord(r); };
  uint32_t count = 0;
  for (const PlaceIndexGroup& g : groups) count += usable(g.top) ? 1 : 0;
  ar.U32(count);
  PlaceRecord end;
  end.name = kEndName;
  for (const PlaceIndexGroup& g : groups) {
    if (!usable(g.top)) continue;
    WriteRecord(ar, g.top);
    for (const PlaceRecord& child : g.children)
      if (usable(child)) WriteRecord(ar, child);
    WriteRecord(ar, end);
  }
  return std::move(ar.Bytes());
}

bool ParsePlaceIndex(const uint8_t* data, size_t size, std::vector<PlaceIndexGroup>* groups, std::string* error) {
  std::vector<PlaceIndexGroup> read;
  try {
    ArchiveReader ar(data, size);
    ReadIndex(ar, read);
  } catch (const ArchiveError& e) {
    if (error) *error = e.what();
    return false;
  }
  *groups = std::move(read);
  return true;
}

ArchiveLoad LoadPlaceIndex(const std::string& path, std::vector<PlaceIndexGroup>* groups, std::string* error) {
  std::vector<PlaceIndexGroup> read;
  const ArchiveLoad result = LoadArchiveFile(path, [&](ArchiveReader& ar) { ReadIndex(ar, read); }, error);
  if (result == ArchiveLoad::kOk) *groups = std::move(read);
  return result;
}

bool SavePlaceIndex(const std::string& path, const std::vector<PlaceIndexGroup>& groups, std::string* error) {
  ArchiveWriter ar;
  ar.Bytes() = EncodePlaceIndex(groups);
  return ar.SaveToFile(path, error);
}

}  // namespace velmora
