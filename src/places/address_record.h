// CAddressRecord: one node of an address library tree. A record has a position (longitude,
// latitude, zoom) and owns its children, keyed by place name, so that a path from the root spells
// a place from the widest name to the narrowest.
//
// Archive form of one record (little-endian):
//   u32 serial number; f64 longitude, latitude, zoom; u32 child count;
//   per child: its key as an archive string (GBK, length-prefixed), then the child record.
// A record's own name and its 32-bit value are not stored: a child's name is its key.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "places/data_object.h"

namespace velmora {

class CAddressRecord : public CDataObject {
 public:
  // Children by key; the record owns them. Keys compare byte-wise (UTF-8).
  using ChildMap = std::map<std::string, std::unique_ptr<CAddressRecord>, std::less<>>;

  // Loading deeper than this fails: address paths are a handful of names long, and a hostile
  // file must not exhaust the stack.
  static constexpr int kMaxDepth = 256;

  // Serial number 0 (a record about to be loaded takes the stored one).
  CAddressRecord();
  // Sets the name and takes the next serial number.
  explicit CAddressRecord(std::string name);
  // Copies position, name and the 32-bit value (not the children); takes the next serial number.
  CAddressRecord(const CAddressRecord& other);
  // Copies position, name and the 32-bit value; children and serial number stay.
  CAddressRecord& operator=(const CAddressRecord& other);
  ~CAddressRecord() override;

  double lng = 0;
  double lat = 0;
  double zoom = 0;
  uint32_t value = 0;  // copied with the record, neither stored nor shown
  std::string name;    // UTF-8
  uint32_t serial = 0;

  const ChildMap& Children() const { return children_; }
  size_t ChildCount() const { return children_.size(); }
  CAddressRecord* FindChild(std::string_view key) const;
  // Stores `child` under `key` and returns it; null (and `child` is dropped) when the key is in
  // use. The child's name becomes the key.
  CAddressRecord* AddChild(const std::string& key, std::unique_ptr<CAddressRecord> child);
  // The child under `key`, created as a copy of `like` when missing (named by the key).
  CAddressRecord* FindOrAddChild(const std::string& key, const CAddressRecord& like);
  // Deletes every child.
  void ClearChildren() { children_.clear(); }

  // Renames the child `child` to `name`: false, changing nothing, when another child already
  // uses that key or `child` is not a child of this record. Renaming to its own key succeeds.
  // The child's name follows its key.
  bool RenameChild(const std::string& name, const CAddressRecord* child);

  void Serialize(ArchiveWriter& ar) const override;
  // Replaces position, serial number and children with the stored ones. Throws ArchiveError on
  // damaged or truncated bytes, leaving the record as it was. A key stored twice keeps the later
  // child (as the map would after two stores under one key).
  void Serialize(ArchiveReader& ar) override;

 private:
  void Load(ArchiveReader& ar, int depth);

  ChildMap children_;
};

// The next serial number of the global counter (1, 2, ...; thread-safe).
uint32_t NextAddressRecordSerial();

}  // namespace velmora
