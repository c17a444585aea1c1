// Address records (their archive form byte for byte, loading damaged archives, the child
// rename, serial numbers) and the address type codes and images.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/archive.h"
#include "places/address_record.h"
#include "places/address_types.h"

namespace velmora {
namespace {

std::vector<uint8_t> Store(const CAddressRecord& r) {
  ArchiveWriter ar;
  r.Serialize(ar);
  return ar.Bytes();
}

void Put(std::vector<uint8_t>& out, const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n);
}

TEST(AddressRecord, ArchiveFormatByteForByte) {
  CAddressRecord root("root");
  root.serial = 7;
  root.lng = 120.5;
  root.lat = 36.25;
  root.zoom = 11;
  root.value = 99;  // never stored
  auto child = std::make_unique<CAddressRecord>("青岛");
  child->serial = 8;
  child->lng = 120.38;
  CAddressRecord* c = root.AddChild("青岛", std::move(child));
  ASSERT_NE(c, nullptr);

  std::vector<uint8_t> want;
  auto u32 = [&](uint32_t v) { Put(want, &v, 4); };
  auto f64 = [&](double v) { Put(want, &v, 8); };
  u32(7);
  f64(120.5);
  f64(36.25);
  f64(11);
  u32(1);
  // "青岛" in GBK, with its one-byte length.
  want.push_back(4);
  for (uint8_t b : {0xC7, 0xE0, 0xB5, 0xBA}) want.push_back(b);
  u32(8);
  f64(120.38);
  f64(0);
  f64(0);
  u32(0);
  EXPECT_EQ(Store(root), want);

  CAddressRecord loaded;
  ArchiveReader reader(want);
  loaded.Serialize(reader);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(loaded.serial, 7u);
  EXPECT_EQ(loaded.lat, 36.25);
  ASSERT_EQ(loaded.ChildCount(), 1u);
  const CAddressRecord* back = loaded.FindChild("青岛");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->name, "青岛");  // a child's name is its key
  EXPECT_EQ(back->serial, 8u);
  EXPECT_EQ(back->lng, 120.38);
  EXPECT_EQ(loaded.value, 0u);
  EXPECT_EQ(Store(loaded), want);
}

TEST(AddressRecord, LongKeysAndDeepTreesRoundTrip) {
  CAddressRecord root("root");
  CAddressRecord* node = &root;
  for (int depth = 0; depth < 20; ++depth) {
    node = node->AddChild("层" + std::to_string(depth), std::make_unique<CAddressRecord>("x"));
    node->lng = depth;
  }
  // A key longer than 254 bytes takes the three-byte length prefix.
  std::string long_key(300, 'k');
  root.AddChild(long_key, std::make_unique<CAddressRecord>("y"));
  std::vector<uint8_t> bytes = Store(root);
  CAddressRecord loaded;
  ArchiveReader reader(bytes);
  loaded.Serialize(reader);
  EXPECT_EQ(Store(loaded), bytes);
  EXPECT_NE(loaded.FindChild(long_key), nullptr);
}

TEST(AddressRecord, DamagedArchivesFailAndLeaveTheRecord) {
  CAddressRecord root("root");
  for (int i = 0; i < 5; ++i) {
    CAddressRecord* c = root.AddChild("子" + std::to_string(i), std::make_unique<CAddressRecord>("c"));
    c->AddChild("孙", std::make_unique<CAddressRecord>("g"));
  }
  const std::vector<uint8_t> bytes = Store(root);
  // Cut at every length: each shorter archive fails cleanly, and the target stays as it was.
  for (size_t n = 0; n < bytes.size(); ++n) {
    CAddressRecord target("target");
    target.lng = 1.5;
    target.AddChild("keep", std::make_unique<CAddressRecord>("k"));
    ArchiveReader reader(bytes.data(), n);
    EXPECT_THROW(target.Serialize(reader), ArchiveError) << n;
    EXPECT_EQ(target.lng, 1.5);
    EXPECT_NE(target.FindChild("keep"), nullptr);
  }
  // A child count far beyond the bytes is refused before anything is allocated.
  std::vector<uint8_t> huge(4 + 24, 0);
  uint32_t count = 0xFFFFFFFF;
  Put(huge, &count, 4);
  CAddressRecord r;
  ArchiveReader reader(huge);
  EXPECT_THROW(r.Serialize(reader), ArchiveError);
}

TEST(AddressRecord, NestingBeyondTheDepthLimitIsRefused) {
  // Each level: serial, position, count 1, key "a"; deeper than the limit must not recurse on.
  std::vector<uint8_t> bytes;
  const int levels = CAddressRecord::kMaxDepth + 10;
  for (int i = 0; i < levels; ++i) {
    uint32_t serial = 1, count = 1;
    double zero = 0;
    Put(bytes, &serial, 4);
    for (int k = 0; k < 3; ++k) Put(bytes, &zero, 8);
    Put(bytes, &count, 4);
    bytes.push_back(1);
    bytes.push_back('a');
  }
  uint32_t tail[8] = {};
  Put(bytes, tail, sizeof tail);
  CAddressRecord r;
  ArchiveReader reader(bytes);
  EXPECT_THROW(r.Serialize(reader), ArchiveError);
}

TEST(AddressRecord, RenameChild) {
  CAddressRecord root("root");
  CAddressRecord* a = root.AddChild("青岛", std::make_unique<CAddressRecord>("x"));
  CAddressRecord* b = root.AddChild("济南", std::make_unique<CAddressRecord>("y"));
  // A key used by a sibling: refused, nothing changes.
  EXPECT_FALSE(root.RenameChild("济南", a));
  EXPECT_EQ(root.FindChild("青岛"), a);
  EXPECT_EQ(root.FindChild("济南"), b);
  EXPECT_EQ(a->name, "青岛");
  // A free key: the child moves to it and takes it as its name.
  EXPECT_TRUE(root.RenameChild("青岛市", a));
  EXPECT_EQ(root.FindChild("青岛"), nullptr);
  EXPECT_EQ(root.FindChild("青岛市"), a);
  EXPECT_EQ(a->name, "青岛市");
  // Its own key again is fine; a record that is no child of this one is refused.
  EXPECT_TRUE(root.RenameChild("青岛市", a));
  CAddressRecord stranger("z");
  EXPECT_FALSE(root.RenameChild("烟台", &stranger));
  EXPECT_EQ(root.ChildCount(), 2u);
  // Adding under a used key drops the new child.
  EXPECT_EQ(root.AddChild("济南", std::make_unique<CAddressRecord>("w")), nullptr);
  EXPECT_EQ(root.FindChild("济南"), b);
}

TEST(AddressRecord, SerialNumbersAreNeverLeftUnset) {
  CAddressRecord loaded;  // about to be loaded
  EXPECT_EQ(loaded.serial, 0u);
  CAddressRecord first("a");
  CAddressRecord second("b");
  EXPECT_GT(first.serial, 0u);
  EXPECT_EQ(second.serial, first.serial + 1);
  first.lng = 3;
  first.value = 5;
  CAddressRecord copy(first);
  EXPECT_GT(copy.serial, second.serial);  // a copy is a record of its own
  EXPECT_EQ(copy.name, "a");
  EXPECT_EQ(copy.lng, 3);
  EXPECT_EQ(copy.value, 5u);
  second = first;  // assignment keeps the serial number and the children
  EXPECT_EQ(second.name, "a");
  EXPECT_EQ(second.serial, first.serial + 1);
  // A default record stores serial 0, not whatever memory held.
  std::vector<uint8_t> bytes = Store(loaded);
  uint32_t stored = 1;
  std::memcpy(&stored, bytes.data(), 4);
  EXPECT_EQ(stored, 0u);
}

TEST(AddressTypes, NamesCodesAndImages) {
  EXPECT_EQ(AddressTypeFromName("street_address"), 1);
  EXPECT_EQ(AddressTypeFromName("country"), 5);
  EXPECT_EQ(AddressTypeFromName("administrative_area_level_3"), 8);
  EXPECT_EQ(AddressTypeFromName("postal_code"), 15);
  EXPECT_EQ(AddressTypeFromName("point_of_interest"), 19);
  EXPECT_EQ(AddressTypeFromName("sublocality_level_1"), 27);
  EXPECT_EQ(AddressTypeFromName("sublocality_level_5"), 31);
  EXPECT_EQ(AddressTypeFromName("establishment"), 34);
  EXPECT_EQ(AddressTypeFromName("Country"), 0);
  EXPECT_EQ(AddressTypeFromName(""), 0);
  EXPECT_EQ(AddressTypeFromName("sublocality_level_6"), 0);
  for (int t = 1; t < kAddressTypeCount; ++t) EXPECT_EQ(AddressTypeFromName(AddressTypeName(t)), t);

  const std::pair<int, int> images[] = {{6, 2},  {7, 3},  {12, 3}, {8, 4},  {34, 4}, {10, 5}, {11, 6},
                                        {27, 6}, {31, 6}, {19, 7}, {25, 8}, {26, 9}, {24, 10}, {0, 0},
                                        {5, 0},  {32, 0}, {-1, 0}, {35, 0}};
  for (auto [type, image] : images) EXPECT_EQ(AddressTypeImage(type), image) << type;
}

}  // namespace
}  // namespace velmora
