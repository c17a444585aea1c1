// The disk tile store: write/read/compare/supersede, reopening, recovery from crashes and damage,
// a full disk, and refusal of files that are not ours.
#include "tiles/tile_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::TempDir;
using Contents = std::map<uint64_t, std::vector<uint8_t>>;
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

// Writes TileBytes(key, version, size) and records it in `expected`.
void Put(CTileStore& store, Contents& expected, uint64_t key, int version, size_t size) {
  expected[key] = TileBytes(key, version, size);
  ASSERT_EQ(store.Write(key, expected[key].data(), size, true), TileWriteResult::kWritten) << key;
}

uint64_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

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

// Checks that the store holds exactly `expected`.
void ExpectContents(CTileStore& store, const Contents& expected) {
  EXPECT_EQ(store.GetCount(), expected.size());
  std::vector<uint8_t> got;
  for (const auto& [key, bytes] : expected) {
    ASSERT_TRUE(store.Read(key, got)) << std::hex << key;
    EXPECT_EQ(got, bytes) << std::hex << key;
  }
}

// Opens the store at `base` afresh and checks it holds exactly `expected`.
void ExpectReopened(const std::string& base, const Contents& expected) {
  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  ExpectContents(store, expected);
}

// The keys in file order, current records only.
std::vector<uint64_t> Walk(CTileStore& store) {
  std::vector<uint64_t> walked;
  uint64_t position = 0, key = 0;
  std::vector<uint8_t> bytes;
  while (store.ReadNextRecord(position, &key, bytes)) walked.push_back(key);
  return walked;
}

// Runs `body` with the file size limit standing in for a full disk: the kernel writes what fits,
// then refuses.
void WithFileSizeLimit(uint64_t limit, const std::function<void()>& body) {
  struct sigaction ignore {}, old_action{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limited = old_limit;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  body();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
}

// Files written on one machine are read on another: the fast CRC must equal the table one for
// every length and alignment, and both the published CRC32C.
TEST(TileStoreFormat, Crc32cFastAndPortableAgree) {
  EXPECT_EQ(tile_store::Crc32c("123456789", 9), 0xE3069283u);
  EXPECT_EQ(tile_store::Crc32cPortable("123456789", 9), 0xE3069283u);
  std::vector<uint8_t> buf = TileBytes(1, 1, 20000);
  for (size_t length : {1, 7, 8, 9, 255, 767, 768, 769, 6143, 6144, 6145, 13000, 19990}) {
    for (size_t align = 0; align < 3; ++align) {
      EXPECT_EQ(tile_store::Crc32c(buf.data() + align, length), tile_store::Crc32cPortable(buf.data() + align, length))
          << length << " at " << align;
    }
  }
  // Chained pieces give the CRC of the whole.
  uint32_t part = tile_store::Crc32c(buf.data(), 7000);
  EXPECT_EQ(tile_store::Crc32c(buf.data() + 7000, 9000, part), tile_store::Crc32c(buf.data(), 16000));
}

TEST(TileStore, WriteReadCompareAndSupersede) {
  TempDir dir;
  CTileStore store(dir.File("tiles/12."));
  std::string error;
  ASSERT_TRUE(store.Open(false, &error)) << error;

  const uint64_t key = CTileStore::JoinKey(0x1234, 0xABCD);
  auto a = TileBytes(key, 1, 3000);
  auto b = TileBytes(key, 2, 3000);  // same length, other bytes
  std::vector<uint8_t> got;
  EXPECT_FALSE(store.Read(key, got));
  EXPECT_EQ(store.Write(0x1234u, 0xABCDu, a.data(), a.size(), true), TileWriteResult::kWritten);
  EXPECT_TRUE(store.IsStored(key));

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
  // Without compare identical bytes are appended again; the key still counts once.
  EXPECT_EQ(store.Write(key, c.data(), c.size(), false), TileWriteResult::kWritten);
  ASSERT_TRUE(store.Read(key, got));
  EXPECT_EQ(got, c);
  EXPECT_EQ(store.GetCount(), 1u);

  // An empty tile is a record like any other; an oversized one is refused and changes nothing.
  EXPECT_EQ(store.Write(7, nullptr, 0, true), TileWriteResult::kWritten);
  ASSERT_TRUE(store.Read(7, got));
  EXPECT_TRUE(got.empty());
  const uint64_t before = store.DataSize();
  std::vector<uint8_t> huge(CTileStore::kMaxRecordBytes + 1);
  EXPECT_EQ(store.Write(8, huge.data(), huge.size(), false, &error), TileWriteResult::kFailed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(FileSize(store.DataPath()), before);
  EXPECT_EQ(store.GetCount(), 2u);

  ASSERT_TRUE(store.Close(&error)) << error;
  EXPECT_FALSE(store.Read(key, got));
  EXPECT_EQ(store.Write(9, a.data(), a.size(), false), TileWriteResult::kFailed);
}

TEST(TileStore, ReopenAndIterate) {
  TempDir dir;
  const std::string base = dir.File("3.");
  Contents expected;
  std::vector<uint64_t> order;  // file order of the current records
  {
    // Small merge threshold: the index runs through several merges of its two parts.
    CTileStore store(base, TileStoreOptions{.merge_records = 7});
    ASSERT_TRUE(store.Open(false));
    for (int i = 0; i < 60; ++i) {
      uint64_t key = (static_cast<uint64_t>(i) * 7919) % 61 + 1000;  // not in key order
      Put(store, expected, key, 0, 100 + static_cast<size_t>(i));
      order.push_back(key);
    }
    // Supersede two: they move to the end of the file order.
    for (size_t i : {40u, 3u}) {
      uint64_t key = order[i];
      order.erase(order.begin() + static_cast<long>(i));
      order.push_back(key);
      Put(store, expected, key, 1, 77);
    }
    ExpectContents(store, expected);
  }  // the destructor closes and saves the index

  CTileStore store(base);
  ASSERT_TRUE(store.Open(false));
  ExpectContents(store, expected);
  EXPECT_EQ(Walk(store), order);

  // Index order: ascending keys, through records written after the open too.
  Put(store, expected, 5, 0, 9);
  std::vector<uint64_t> keys, sorted_keys;
  uint64_t key = 0;
  std::vector<uint8_t> bytes;
  for (uint64_t n = 0; store.ReadByIndex(n, &key, bytes); ++n) {
    EXPECT_EQ(bytes, expected[key]);
    keys.push_back(key);
  }
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
  Contents expected;
  for (uint64_t key = 1; key <= 10; ++key) Put(store, expected, key, 0, 500);
  ASSERT_TRUE(store.Flush());  // the index on disk covers ten records
  for (uint64_t key = 11; key <= 15; ++key) Put(store, expected, key, 0, 500);
  // A crash leaves the files as they are on disk while the store is open; the machine went down
  // in the middle of the 15th record.
  const std::string crashed = dir.File("crashed.");
  std::filesystem::copy_file(store.DataPath(), crashed + "img");
  std::filesystem::copy_file(store.IndexPath(), crashed + "idx");
  const uint64_t good = kHeader + 14 * (kRecord + 500);
  std::filesystem::resize_file(crashed + "img", good + 200);
  expected.erase(15);

  CTileStore reopened(crashed);
  ASSERT_TRUE(reopened.Open(false));
  ExpectContents(reopened, expected);
  EXPECT_EQ(FileSize(crashed + "img"), good);
  // New records follow the last good one and survive the next reopen.
  Put(reopened, expected, 15, 1, 321);
  ASSERT_TRUE(reopened.Close());
  ExpectReopened(crashed, expected);
}

TEST(TileStoreRecovery, DataCutBelowTheIndexOrIndexLost) {
  TempDir dir;
  const std::string base = dir.File("9.");
  Contents all;
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    for (uint64_t key = 100; key < 120; ++key) Put(store, all, key, 0, 256);
    Put(store, all, 105, 9, 256);  // superseded: the rebuild must keep the newer record
  }
  // Index deleted: rebuilt from the data file, newest record per key, and saved again.
  std::filesystem::remove(base + "idx");
  ExpectReopened(base, all);
  EXPECT_TRUE(std::filesystem::exists(base + "idx"));
  // The data file lost its end below what the index covers (the record of 105 and part of the
  // one of 119): the index is not trusted, the data file is scanned.
  std::filesystem::resize_file(base + "img", kHeader + 19 * (kRecord + 256) + 10);
  all[105] = TileBytes(105, 0, 256);  // the older record of 105 is what is left
  all.erase(119);
  ExpectReopened(base, all);
  EXPECT_EQ(FileSize(base + "img"), kHeader + 19 * (kRecord + 256));
}

TEST(TileStoreRecovery, StaleTemporariesOfAKilledRewriteAreRemovedAtOpen) {
  TempDir dir;
  const std::string base = dir.File("9.");
  Contents all;
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    for (uint64_t key = 1; key <= 200; ++key) Put(store, all, key, 0, 100);
  }
  // A kill in the middle of an index rewrite leaves its temporary, as large as the index; one in
  // the middle of the data file's creation leaves a header beside it.
  std::string dead_pid;
  std::ifstream("/proc/sys/kernel/pid_max") >> dead_pid;  // no process has this number
  dead_pid = std::to_string(std::stol(dead_pid) + 1);
  const std::string live_pid = std::to_string(::getpid());
  const std::vector<std::string> stale = {base + "idx.tmp" + dead_pid + "-0", base + "idx.tmp" + live_pid + "-17",
                                          base + "img.new" + dead_pid};
  // Files that only look alike: another store's temporaries, other names, and the creation
  // temporary of a process that still runs (it may be creating the file this moment).
  const std::vector<std::string> kept = {dir.File("19.idx.tmp1-1"), base + "idx.tmpx-1", base + "idx.tmp1-",
                                         base + "idx.tmp", base + "idx.old", base + "img.new" + live_pid,
                                         dir.File("notes.txt")};
  for (const std::string& path : stale) std::filesystem::copy_file(base + "idx", path);
  for (const std::string& path : kept) std::ofstream(path) << "x";

  ExpectReopened(base, all);
  for (const std::string& path : stale) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  for (const std::string& path : kept) EXPECT_TRUE(std::filesystem::exists(path)) << path;

  // A second opener, refused because the store is in use, touches nothing.
  CTileStore first(base);
  ASSERT_TRUE(first.Open(false));
  std::filesystem::copy_file(base + "idx", stale[0]);
  CTileStore second(base);
  EXPECT_FALSE(second.Open(false));
  EXPECT_TRUE(std::filesystem::exists(stale[0]));
}

TEST(TileStoreRecovery, DamagedRecordsAndGarbage) {
  TempDir dir;
  const std::string base = dir.File("d.");
  Contents all;
  {
    CTileStore store(base);
    ASSERT_TRUE(store.Open(false));
    for (uint64_t key = 1; key <= 8; ++key) Put(store, all, key, 0, 1000);
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
    Put(store, all, 3, 0, 1000);
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
    EXPECT_EQ(Walk(store), (std::vector<uint64_t>{1, 2, 4, 6, 7, 8, 3}));
  }
  // Index damaged, or belonging to another data file: rebuilt, nothing lost.
  PatchByte(base + "idx", 60, 0x01);
  ExpectReopened(base, all);
  {
    CTileStore other(dir.File("other."));
    ASSERT_TRUE(other.Open(false));
    auto bytes = TileBytes(1, 5, 1000);
    other.Write(1, bytes.data(), bytes.size(), false);
  }
  std::filesystem::copy_file(dir.File("other.idx"), base + "idx", std::filesystem::copy_options::overwrite_existing);
  ExpectReopened(base, all);
  // An index with sound checksums whose entry reaches past the data it covers is not believed.
  std::string data = test::ReadTestFile(base + "img");
  uint64_t store_id = 0;
  ASSERT_TRUE(tile_store::DecodeDataHeader(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &store_id));
  std::vector<TileStoreEntry> lying = {{1, kHeader, 1000, 0}};
  auto bytes = tile_store::EncodeIndexFile(store_id, kHeader + 100, lying);
  test::WriteTestFile(base + "idx", std::string(bytes.begin(), bytes.end()));
  ExpectReopened(base, all);
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
  Contents all;
  for (uint64_t key = 1; key <= 4; ++key) Put(store, all, key, 0, 2000);
  const uint64_t size = store.DataSize();

  auto big = TileBytes(50, 0, 5000), small = TileBytes(51, 0, 500);
  std::string error;
  TileWriteResult result = TileWriteResult::kWritten, small_result = TileWriteResult::kFailed;
  WithFileSizeLimit(size + 1000, [&] {
    result = store.Write(50, big.data(), big.size(), true, &error);
    small_result = store.Write(51, small.data(), small.size(), true);
  });
  EXPECT_EQ(result, TileWriteResult::kDiskFull);
  EXPECT_NE(error.find("disk full"), std::string::npos) << error;
  EXPECT_EQ(small_result, TileWriteResult::kWritten);  // what still fits is stored
  all[51] = small;
  EXPECT_EQ(FileSize(base + "img"), size + kRecord + 500);
  EXPECT_FALSE(store.IsStored(50));
  ExpectContents(store, all);

  // With room again the store goes on as if nothing happened.
  Put(store, all, 50, 0, 5000);
  ASSERT_TRUE(store.Close());
  ExpectReopened(base, all);
}

}  // namespace
}  // namespace velmora
