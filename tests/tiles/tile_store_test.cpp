// The disk tile store: write/read/compare/supersede, reopening, recovery from crashes and damage,
// a full disk, and refusal of files that are not ours.
#include "tiles/tile_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::TempDir;
constexpr size_t kHeader = 32;  // data file header
constexpr size_t kRecord = 24;  // record header

// Bytes that differ per key and version, so a mixed-up record can never pass for another.
std::vector<uint8_t> TileBytes(uint64_t key, int version, size_t size) {
  std::vector<uint8_t> v(size);
  uint64_t x = key * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(version) * 0xBF58476D1CE4E5B9ull;
  for (auto& b : v) {
    x ^= x >> 29;
    x *= 0x94D049BB133111EBull;
    b = static_cast<uint8_t>(x >> 56);
  }
  return v;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void Truncate(const std::string& path, uint64_t size) {
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

void PatchByte(const std::string& path, uint64_t offset, uint8_t xor_mask) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(static_cast<std::streamoff>(offset));
  char c = 0;
  f.read(&c, 1);
  c = static_cast<char>(c ^ xor_mask);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(&c, 1);
  ASSERT_TRUE(f.good());
}

// The state a crash leaves behind: the files as they are on disk while the store is open.
void CopyAsCrashed(const CTileStore& store, const std::string& to_base) {
  namespace fs = std::filesystem;
  fs::copy_file(store.DataPath(), to_base + "img", fs::copy_options::overwrite_existing);
  if (fs::exists(store.IndexPath()))
    fs::copy_file(store.IndexPath(), to_base + "idx", fs::copy_options::overwrite_existing);
}

// Checks that the store holds exactly `expected` (key -> bytes).
void ExpectContents(CTileStore& store, const std::map<uint64_t, std::vector<uint8_t>>& expected) {
  EXPECT_EQ(store.GetCount(), expected.size());
  std::vector<uint8_t> got;
  for (const auto& [key, bytes] : expected) {
    ASSERT_TRUE(store.Read(key, got)) << std::hex << key;
    EXPECT_EQ(got, bytes) << std::hex << key;
  }
}

// Files written on one machine are read on another: the fast CRC must equal the table one for
// every length and alignment, and both the published CRC32C.
TEST(TileStoreFormat, Crc32cFastAndPortableAgree) {
  EXPECT_EQ(tile_store::Crc32c("123456789", 9), 0xE3069283u);
  EXPECT_EQ(tile_store::Crc32cPortable("123456789", 9), 0xE3069283u);
  EXPECT_EQ(tile_store::Crc32c("", 0), 0u);
  std::vector<uint8_t> buf = TileBytes(1, 1, 20000);
  for (size_t length : {1, 7, 8, 9, 255, 767, 768, 769, 6143, 6144, 6145, 13000, 19990}) {
    for (size_t align = 0; align < 3; ++align) {
      EXPECT_EQ(tile_store::Crc32c(buf.data() + align, length),
                tile_store::Crc32cPortable(buf.data() + align, length))
          << length << " at " << align;
    }
  }
  // Chained pieces give the CRC of the whole.
  uint32_t part = tile_store::Crc32c(buf.data(), 7000);
  EXPECT_EQ(tile_store::Crc32c(buf.data() + 7000, 9000, part),
            tile_store::Crc32c(buf.data(), 16000));
}

TEST(TileStore, WriteReadCompareAndSupersede) {
  TempDir dir;
  CTileStore store(dir.File("tiles/12."));
  std::string error;
  ASSERT_TRUE(store.Open(false, &error)) << error;
  EXPECT_TRUE(std::filesystem::exists(dir.File("tiles/12.img")));

  const uint64_t key = CTileStore::JoinKey(0x1234, 0xABCD);
  auto a = TileBytes(key, 1, 3000);
  auto b = TileBytes(key, 2, 3000);  // same length, other bytes
  std::vector<uint8_t> got;
  EXPECT_FALSE(store.Read(key, got));
  EXPECT_FALSE(store.IsStored(key));

  EXPECT_EQ(store.Write(0x1234u, 0xABCDu, a.data(), a.size(), true), TileWriteResult::kWritten);
  EXPECT_TRUE(store.IsStored(0x1234u, 0xABCDu));
  ASSERT_TRUE(store.Read(key, got));
  EXPECT_EQ(got, a);

  // Identical bytes with compare: nothing appended.
  const uint64_t size = store.DataSize();
  EXPECT_EQ(store.Write(key, a.data(), a.size(), true), TileWriteResult::kUnchanged);
  EXPECT_EQ(store.DataSize(), size);
  // Changed bytes of the same length (and then another length) supersede the old record.
  EXPECT_EQ(store.Write(key, b.data(), b.size(), true), TileWriteResult::kWritten);
  ASSERT_TRUE(store.Read(key, got));
  EXPECT_EQ(got, b);
  auto c = TileBytes(key, 3, 10);
  EXPECT_EQ(store.Write(key, c.data(), c.size(), true), TileWriteResult::kWritten);
  ASSERT_TRUE(store.Read(key, got));
  EXPECT_EQ(got, c);
  // Without compare identical bytes are appended again; the key still counts once.
  EXPECT_EQ(store.Write(key, c.data(), c.size(), false), TileWriteResult::kWritten);
  EXPECT_EQ(store.GetCount(), 1u);

  // An empty tile is a record like any other; an oversized one is refused and changes nothing.
  EXPECT_EQ(store.Write(7, nullptr, 0, true), TileWriteResult::kWritten);
  ASSERT_TRUE(store.Read(7, got));
  EXPECT_TRUE(got.empty());
  const uint64_t before = store.DataSize();
  std::vector<uint8_t> huge(CTileStore::kMaxRecordBytes + 1);
  EXPECT_EQ(store.Write(8, huge.data(), huge.size(), false, &error), TileWriteResult::kFailed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(store.DataSize(), before);
  EXPECT_EQ(FileSize(store.DataPath()), before);
  EXPECT_EQ(store.GetCount(), 2u);

  ASSERT_TRUE(store.Close(&error)) << error;
  EXPECT_FALSE(store.IsOpen());
  EXPECT_FALSE(store.Read(key, got));
  EXPECT_EQ(store.Write(9, a.data(), a.size(), false), TileWriteResult::kFailed);
}

TEST(TileStore, ReopenAndIterate) {
  TempDir dir;
  const std::string base = dir.File("3.");
  std::map<uint64_t, std::vector<uint8_t>> expected;
  std::vector<uint64_t> write_order;
  {
    // Small merge threshold: the index runs through several merges of its two parts.
    CTileStore store(base, TileStoreOptions{.merge_records = 7});
    ASSERT_TRUE(store.Open(false));
    for (int i = 0; i < 60; ++i) {
      uint64_t key = (static_cast<uint64_t>(i) * 7919) % 61 + 1000;  // not in key order
      auto bytes = TileBytes(key, 0, 100 + static_cast<size_t>(i));
      ASSERT_EQ(store.Write(key, bytes.data(), bytes.size(), true), TileWriteResult::kWritten);
      expected[key] = bytes;
      write_order.push_back(key);
    }
    // Supersede a few: they move to the end of the file order.
    for (uint64_t key : {write_order[3], write_order[40]}) {
      auto bytes = TileBytes(key, 1, 77);
      ASSERT_EQ(store.Write(key, bytes.data(), bytes.size(), true), TileWriteResult::kWritten);
      expected[key] = bytes;
    }
    ExpectContents(store, expected);
  }  // the destructor closes and saves the index
  ASSERT_TRUE(std::filesystem::exists(base + "idx"));

  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  ExpectContents(store, expected);

  // File order: current records only, superseded ones skipped.
  std::vector<uint64_t> order;
  for (uint64_t k : write_order)
    if (k != write_order[3] && k != write_order[40]) order.push_back(k);
  order.push_back(write_order[3]);
  order.push_back(write_order[40]);
  std::vector<uint64_t> walked;
  uint64_t position = 0, key = 0;
  std::vector<uint8_t> bytes;
  while (store.ReadNextRecord(position, &key, bytes)) {
    EXPECT_EQ(bytes, expected[key]);
    walked.push_back(key);
  }
  EXPECT_EQ(walked, order);

  // Index order: ascending keys, through records written after the open too.
  auto extra = TileBytes(5, 0, 9);
  ASSERT_EQ(store.Write(5, extra.data(), extra.size(), true), TileWriteResult::kWritten);
  expected[5] = extra;
  std::vector<uint64_t> keys;
  for (uint64_t n = 0; store.ReadByIndex(n, &key, bytes); ++n) {
    EXPECT_EQ(bytes, expected[key]);
    keys.push_back(key);
  }
  std::vector<uint64_t> sorted_keys;
  for (const auto& kv : expected) sorted_keys.push_back(kv.first);
  EXPECT_EQ(keys, sorted_keys);
  EXPECT_EQ(store.GetKeys(), sorted_keys);

  // Reset starts over.
  ASSERT_TRUE(store.Open(true));
  EXPECT_EQ(store.GetCount(), 0u);
  EXPECT_FALSE(store.Read(5, bytes));
  EXPECT_EQ(FileSize(base + "img"), kHeader);
}

TEST(TileStoreRecovery, TornAppendAfterTheSavedIndexIsCut) {
  TempDir dir;
  CTileStore store(dir.File("live."));
  ASSERT_TRUE(store.Open(false));
  std::map<uint64_t, std::vector<uint8_t>> expected;
  for (uint64_t key = 1; key <= 10; ++key) {
    expected[key] = TileBytes(key, 0, 500);
    store.Write(key, expected[key].data(), 500, true);
  }
  ASSERT_TRUE(store.Flush());  // the index on disk covers ten records
  for (uint64_t key = 11; key <= 15; ++key) {
    expected[key] = TileBytes(key, 0, 500);
    store.Write(key, expected[key].data(), 500, true);
  }
  const std::string crashed = dir.File("crashed.");
  CopyAsCrashed(store, crashed);
  // The machine went down in the middle of the 15th record.
  const uint64_t good = kHeader + 14 * (kRecord + 500);
  Truncate(crashed + "img", good + 200);
  expected.erase(15);

  CTileStore reopened(crashed);
  ASSERT_TRUE(reopened.Open(false));
  ExpectContents(reopened, expected);
  EXPECT_EQ(FileSize(crashed + "img"), good);
  EXPECT_EQ(reopened.DataSize(), good);
  // New records follow the last good one and survive the next reopen.
  expected[15] = TileBytes(15, 1, 321);
  ASSERT_EQ(reopened.Write(15, expected[15].data(), 321, true), TileWriteResult::kWritten);
  ASSERT_TRUE(reopened.Close());
  ASSERT_TRUE(reopened.Open(false));
  ExpectContents(reopened, expected);
}

TEST(TileStoreRecovery, DataCutBelowTheIndexOrIndexLost) {
  TempDir dir;
  const std::string base = dir.File("9.");
  std::map<uint64_t, std::vector<uint8_t>> all;
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    for (uint64_t key = 100; key < 120; ++key) {
      all[key] = TileBytes(key, 0, 256);
      store.Write(key, all[key].data(), 256, true);
    }
    all[105] = TileBytes(105, 9, 256);  // superseded: the rebuild must keep the newer record
    store.Write(105, all[105].data(), 256, true);
  }
  // Index deleted: rebuilt from the data file, newest record per key, and saved again.
  std::filesystem::remove(base + "idx");
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    ExpectContents(store, all);
    EXPECT_TRUE(std::filesystem::exists(base + "idx"));
  }
  // The data file lost its end below what the index covers (the record of 105 and part of the
  // one of 119): the index is not trusted, the data file is scanned.
  const uint64_t cut = kHeader + 19 * (kRecord + 256) + 10;
  Truncate(base + "img", cut);
  all[105] = TileBytes(105, 0, 256);  // the older record of 105 is what is left
  all.erase(119);
  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  ExpectContents(store, all);
  EXPECT_EQ(FileSize(base + "img"), kHeader + 19 * (kRecord + 256));
}

TEST(TileStoreRecovery, DamagedRecordsAndGarbage) {
  TempDir dir;
  const std::string base = dir.File("d.");
  std::map<uint64_t, std::vector<uint8_t>> all;
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    for (uint64_t key = 1; key <= 8; ++key) {
      all[key] = TileBytes(key, 0, 1000);
      store.Write(key, all[key].data(), 1000, true);
    }
  }
  auto record = [](uint64_t n) { return kHeader + n * (kRecord + 1000); };
  // A flipped payload byte in record 2 (key 3) while the index is intact: the read notices,
  // reports the tile missing and forgets it, so it is fetched and written again.
  PatchByte(base + "img", record(2) + kRecord + 500, 0x40);
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    std::vector<uint8_t> got;
    EXPECT_TRUE(store.IsStored(3));
    EXPECT_FALSE(store.Read(3, got));
    EXPECT_FALSE(store.IsStored(3));
    EXPECT_EQ(store.GetCount(), 7u);
    ASSERT_EQ(store.Write(3, all[3].data(), 1000, true), TileWriteResult::kWritten);
    ASSERT_TRUE(store.Read(3, got));
    EXPECT_EQ(got, all[3]);
  }
  // Without the index: a smashed record header in the middle (key 5) costs that record only;
  // the damaged payload of key 3's first record is skipped for its rewritten copy; a garbage
  // tail (half a header, then noise) is cut.
  std::filesystem::remove(base + "idx");
  PatchByte(base + "img", record(4) + 1, 0xFF);
  const uint64_t good_size = FileSize(base + "img");
  {
    std::ofstream f(base + "img", std::ios::binary | std::ios::app);
    f.write("VMR1\x10\x00\x00\x00garbage garbage garbage garbage", 40);
  }
  all.erase(5);
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    ExpectContents(store, all);
    EXPECT_EQ(FileSize(base + "img"), good_size);
    std::vector<uint64_t> walked;
    uint64_t position = 0, key = 0;
    std::vector<uint8_t> bytes;
    while (store.ReadNextRecord(position, &key, bytes)) walked.push_back(key);
    EXPECT_EQ(walked, (std::vector<uint64_t>{1, 2, 4, 6, 7, 8, 3}));
  }
  // Index damaged, or belonging to another data file: rebuilt, nothing lost.
  PatchByte(base + "idx", 60, 0x01);
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    ExpectContents(store, all);
  }
  {
    CTileStore other(dir.File("other."));
    ASSERT_TRUE(other.Open(false));
    auto bytes = TileBytes(1, 5, 1000);
    other.Write(1, bytes.data(), bytes.size(), false);
  }
  std::filesystem::copy_file(dir.File("other.idx"), base + "idx",
                             std::filesystem::copy_options::overwrite_existing);
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    ExpectContents(store, all);
  }
  // An index with sound checksums whose entry reaches past the data it covers is not believed.
  std::string data = test::ReadTestFile(base + "img");
  uint64_t store_id = 0;
  ASSERT_TRUE(tile_store::DecodeDataHeader(reinterpret_cast<const uint8_t*>(data.data()),
                                           data.size(), &store_id));
  std::vector<TileStoreEntry> lying = {{1, kHeader, 1000, 0}};
  auto bytes = tile_store::EncodeIndexFile(store_id, kHeader + 100, lying);
  test::WriteTestFile(base + "idx", std::string(bytes.begin(), bytes.end()));
  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  ExpectContents(store, all);
}

TEST(TileStore, RefusesForeignFilesAndASecondOpener) {
  TempDir dir;
  // A file that is not a tile store is neither opened nor touched.
  const std::string foreign = "this is somebody's text file, not tiles\n";
  test::WriteTestFile(dir.File("x.img"), foreign);
  CTileStore store(dir.File("x."));
  std::string error;
  EXPECT_FALSE(store.Open(false, &error));
  EXPECT_NE(error.find("not a tile store"), std::string::npos) << error;
  EXPECT_EQ(test::ReadTestFile(dir.File("x.img")), foreign);
  test::WriteTestFile(dir.File("short.img"), "VMTS");
  CTileStore short_store(dir.File("short."));
  EXPECT_FALSE(short_store.Open(false));

  // Two appenders on one data file would overwrite each other's records.
  CTileStore first(dir.File("y."));
  ASSERT_TRUE(first.Open(false));
  CTileStore second(dir.File("y."));
  auto bytes = TileBytes(1, 0, 100);
  first.Write(1, bytes.data(), bytes.size(), false);
  EXPECT_FALSE(second.Open(false, &error));
  EXPECT_NE(error.find("in use"), std::string::npos) << error;
  EXPECT_FALSE(second.Open(true));  // nor deleted under its feet
  EXPECT_TRUE(first.IsStored(1));
  first.Close();
  ASSERT_TRUE(second.Open(false));
  EXPECT_TRUE(second.IsStored(1));
}

TEST(TileStore, FullDiskFailsTheWriteAndKeepsTheStore) {
  TempDir dir;
  const std::string base = dir.File("full.");
  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  std::map<uint64_t, std::vector<uint8_t>> all;
  for (uint64_t key = 1; key <= 4; ++key) {
    all[key] = TileBytes(key, 0, 2000);
    store.Write(key, all[key].data(), 2000, true);
  }
  const uint64_t size = store.DataSize();

  // The file size limit stands in for a full disk: the kernel writes what fits, then refuses.
  struct sigaction ignore {
  }, old_action{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = size + 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  auto big = TileBytes(50, 0, 5000);
  std::string error;
  TileWriteResult result = store.Write(50, big.data(), big.size(), true, &error);
  auto small = TileBytes(51, 0, 500);
  TileWriteResult small_result = store.Write(51, small.data(), small.size(), true);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);

  EXPECT_EQ(result, TileWriteResult::kDiskFull);
  EXPECT_NE(error.find("disk full"), std::string::npos) << error;
  EXPECT_EQ(small_result, TileWriteResult::kWritten);  // what still fits is stored
  all[51] = small;
  EXPECT_EQ(FileSize(base + "img"), size + kRecord + 500);
  EXPECT_FALSE(store.IsStored(50));
  ExpectContents(store, all);

  // With room again the store goes on as if nothing happened.
  ASSERT_EQ(store.Write(50, big.data(), big.size(), true), TileWriteResult::kWritten);
  all[50] = big;
  ASSERT_TRUE(store.Close());
  ASSERT_TRUE(store.Open(false));
  ExpectContents(store, all);
}

}  // namespace
}  // namespace velmora
