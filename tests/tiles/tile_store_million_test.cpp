// A tile store of a million small records: written once, then opened from its index and rebuilt
// from its data file, each time with every key and a sample of the bytes checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <vector>

#include "support/temp_dir.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

constexpr uint64_t kCount = 1'000'000;

uint64_t KeyOf(uint64_t i) {  // spread over the key space, not in ascending order
  uint64_t z = i + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Eight bytes that name the key and the version written.
std::array<uint8_t, 8> Payload(uint64_t key, uint8_t version) {
  std::array<uint8_t, 8> p{};
  uint64_t v = key ^ (uint64_t{version} << 56);
  std::memcpy(p.data(), &v, 8);
  return p;
}

void ExpectAll(const std::string& base) {
  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  ASSERT_EQ(store.GetCount(), kCount);
  std::vector<uint8_t> got;
  for (uint64_t i = 0; i < kCount; ++i) {
    uint64_t key = KeyOf(i);
    ASSERT_TRUE(store.IsStored(key)) << i;
    if (i % 997 == 0 || i % 10'000 == 0) {
      ASSERT_TRUE(store.Read(key, got));
      auto p = Payload(key, i % 10'000 == 0 ? 1 : 0);
      ASSERT_TRUE(std::equal(got.begin(), got.end(), p.begin(), p.end())) << i;
    }
  }
  EXPECT_FALSE(store.IsStored(KeyOf(kCount)));
  std::vector<uint64_t> keys = store.GetKeys();
  ASSERT_EQ(keys.size(), kCount);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
}

TEST(MillionStore, OpensFromItsIndexAndRebuildsAMissingOne) {
  test::TempDir dir;
  const std::string base = dir.File("million.");
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    for (uint64_t i = 0; i < kCount; ++i) {
      auto p = Payload(KeyOf(i), 0);
      ASSERT_EQ(store.Write(KeyOf(i), p.data(), p.size(), false), TileWriteResult::kWritten);
    }
    // Every ten-thousandth key gets a second version, with compare as the downloader writes.
    for (uint64_t i = 0; i < kCount; i += 10'000) {
      auto p = Payload(KeyOf(i), 1);
      ASSERT_EQ(store.Write(KeyOf(i), p.data(), p.size(), true), TileWriteResult::kWritten);
    }
    ASSERT_TRUE(store.Close());
  }
  ASSERT_NO_FATAL_FAILURE(ExpectAll(base));
  std::filesystem::remove(base + "idx");
  ASSERT_NO_FATAL_FAILURE(ExpectAll(base));
  EXPECT_TRUE(std::filesystem::exists(base + "idx"));
}

}  // namespace
}  // namespace velmora
