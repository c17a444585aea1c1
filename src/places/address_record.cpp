// CAddressRecord: address tree nodes, their archive form and the child rename.
#include "places/address_record.h"

#include <atomic>
#include <utility>

namespace velmora {
namespace {

std::atomic<uint32_t> g_serial{0};

// Serial number, three doubles and the child count.
constexpr size_t kRecordFixedBytes = 4 + 3 * 8 + 4;
// The least a child takes in the archive: a one-byte key length and its record.
constexpr size_t kChildMinBytes = 1 + kRecordFixedBytes;

}  // namespace

uint32_t NextAddressRecordSerial() { return g_serial.fetch_add(1, std::memory_order_relaxed) + 1; }

CAddressRecord::CAddressRecord() = default;

CAddressRecord::CAddressRecord(std::string record_name)
    : name(std::move(record_name)), serial(NextAddressRecordSerial()) {}

CAddressRecord::CAddressRecord(const CAddressRecord& other)
    : CDataObject(other),
      lng(other.lng),
      lat(other.lat),
      zoom(other.zoom),
      value(other.value),
      name(other.name),
      serial(NextAddressRecordSerial()) {}

CAddressRecord& CAddressRecord::operator=(const CAddressRecord& other) {
  if (this != &other) {
    lng = other.lng;
    lat = other.lat;
    zoom = other.zoom;
    value = other.value;
    name = other.name;
  }
  return *this;
}

CAddressRecord::~CAddressRecord() = default;

CAddressRecord* CAddressRecord::FindChild(std::string_view key) const {
  auto it = children_.find(key);
  return it == children_.end() ? nullptr : it->second.get();
}

CAddressRecord* CAddressRecord::AddChild(const std::string& key, std::unique_ptr<CAddressRecord> child) {
  if (!child || children_.count(key) != 0) return nullptr;
  child->name = key;
  CAddressRecord* raw = child.get();
  children_.emplace(key, std::move(child));
  return raw;
}

CAddressRecord* CAddressRecord::FindOrAddChild(const std::string& key, const CAddressRecord& like) {
  if (CAddressRecord* found = FindChild(key)) return found;
  return AddChild(key, std::make_unique<CAddressRecord>(like));
}

bool CAddressRecord::RenameChild(const std::string& new_name, const CAddressRecord* child) {
  ChildMap::iterator old = children_.end();
  for (auto it = children_.begin(); it != children_.end(); ++it) {
    if (it->second.get() == child) {
      old = it;
    } else if (it->first == new_name) {
      return false;  // a sibling uses the key
    }
  }
  if (old == children_.end()) return false;
  if (old->first == new_name) return true;
  std::unique_ptr<CAddressRecord> moved = std::move(old->second);
  children_.erase(old);
  moved->name = new_name;
  children_.emplace(new_name, std::move(moved));
  return true;
}

void CAddressRecord::Serialize(ArchiveWriter& ar) const {
  ar.U32(serial);
  ar.F64(lng);
  ar.F64(lat);
  ar.F64(zoom);
  ar.U32(static_cast<uint32_t>(children_.size()));
  for (const auto& [key, child] : children_) {
    ar.String(key);
    child->Serialize(ar);
  }
}

void CAddressRecord::Serialize(ArchiveReader& ar) {
  // Read into a fresh record first, so that damaged bytes leave this one as it was.
  CAddressRecord loaded;
  loaded.Load(ar, 0);
  lng = loaded.lng;
  lat = loaded.lat;
  zoom = loaded.zoom;
  serial = loaded.serial;
  children_ = std::move(loaded.children_);
}

void CAddressRecord::Load(ArchiveReader& ar, int depth) {
  if (depth > kMaxDepth) throw ArchiveError("address records nested too deep");
  serial = ar.U32();
  lng = ar.F64();
  lat = ar.F64();
  zoom = ar.F64();
  const uint32_t count = ar.Count(kChildMinBytes);
  for (uint32_t i = 0; i < count; ++i) {
    std::string key = ar.String();
    auto child = std::make_unique<CAddressRecord>();
    child->Load(ar, depth + 1);
    child->name = key;
    children_.insert_or_assign(std::move(key), std::move(child));
  }
}

}  // namespace velmora
