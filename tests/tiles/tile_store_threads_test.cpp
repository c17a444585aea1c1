// The tile store under concurrency: readers look up, walk and count while several writers append
// and supersede (as the download threads do), through index merges and saves, and while the
// store is closed under them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

constexpr int kWriters = 3;
constexpr uint64_t kPerWriter = 1500;

uint64_t KeyOf(int writer, uint64_t i) {
  return (uint64_t(writer) << 40) | (i * 2654435761u % 1000003);
}

// A payload that says which key and version it is and checks itself.
std::vector<uint8_t> Payload(uint64_t key, uint32_t version) {
  size_t size = 16 + (key * 31 + version * 7) % 700;
  std::vector<uint8_t> p(size);
  std::memcpy(p.data(), &key, 8);
  std::memcpy(p.data() + 8, &version, 4);
  for (size_t i = 12; i < size; ++i) p[i] = static_cast<uint8_t>(key + version + i);
  return p;
}

bool Consistent(uint64_t key, const std::vector<uint8_t>& p) {
  if (p.size() < 12) return false;
  uint64_t k;
  uint32_t version;
  std::memcpy(&k, p.data(), 8);
  std::memcpy(&version, p.data() + 8, 4);
  return k == key && p == Payload(key, version);
}

TEST(TileStoreThreads, ReadersRunBesideAppendsAndAClose) {
  test::TempDir dir;
  // Small thresholds so that merges and index saves happen often during the run.
  CTileStore store(dir.File("t."), TileStoreOptions{.index_save_bytes = 1 << 20,
                                                    .index_save_records = 700,
                                                    .merge_records = 64});
  ASSERT_TRUE(store.Open(false));

  std::atomic<uint64_t> published[kWriters];
  for (auto& p : published) p = 0;
  std::atomic<bool> closing{false};
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> failures{0}, reads{0}, walked{0};

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (uint64_t i = 0; i < kPerWriter; ++i) {
        uint64_t key = KeyOf(w, i);
        auto p = Payload(key, 0);
        if (store.Write(key, p.data(), p.size(), true) != TileWriteResult::kWritten) ++failures;
        published[w].store(i + 1);
        if (i % 3 == 0 && i > 10) {  // supersede an older key
          uint64_t old = KeyOf(w, i / 2);
          auto q = Payload(old, static_cast<uint32_t>(i));
          if (store.Write(old, q.data(), q.size(), true) != TileWriteResult::kWritten) ++failures;
        }
      }
    });
  }
  // Look-up readers: every published key must be found, intact, until the close begins.
  for (int r = 0; r < 3; ++r) {
    threads.emplace_back([&, r] {
      std::vector<uint8_t> got;
      uint64_t x = 12345 + r;
      while (!stop.load()) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        int w = static_cast<int>((x >> 33) % kWriters);
        uint64_t n = published[w].load();
        if (n == 0) continue;
        uint64_t key = KeyOf(w, (x >> 17) % n);
        bool found = store.Read(key, got);
        if (found ? !Consistent(key, got) : !closing.load()) ++failures;
        ++reads;
        if (!store.IsStored(key) && !closing.load()) ++failures;
      }
    });
  }
  // A walker in file order and a counter that must never go backwards.
  threads.emplace_back([&] {
    std::vector<uint8_t> got;
    while (!stop.load()) {
      uint64_t position = 0, key = 0;
      while (store.ReadNextRecord(position, &key, got)) {
        if (!Consistent(key, got)) ++failures;
        ++walked;
      }
    }
  });
  threads.emplace_back([&] {
    uint64_t last = 0, key = 0;
    std::vector<uint8_t> got;
    while (!stop.load()) {
      uint64_t count = store.GetCount();
      if (count < last && !closing.load()) ++failures;
      last = count;
      if (count > 0 && store.ReadByIndex(count / 2, &key, got) && !Consistent(key, got)) ++failures;
    }
  });

  for (int w = 0; w < kWriters; ++w) threads[w].join();
  // The readers keep going while the store is closed under them.
  closing = true;
  std::string error;
  EXPECT_TRUE(store.Close(&error)) << error;
  stop = true;
  for (size_t t = kWriters; t < threads.size(); ++t) threads[t].join();

  EXPECT_EQ(failures.load(), 0u);
  EXPECT_GT(reads.load(), 0u);
  EXPECT_GT(walked.load(), 0u);

  // Everything written is there after a reopen, in its newest version: KeyOf(w, j) was last
  // written with the largest i (a multiple of 3 above 10) for which i / 2 == j.
  ASSERT_TRUE(store.Open(false));
  EXPECT_EQ(store.GetCount(), uint64_t{kWriters} * kPerWriter);
  std::vector<uint8_t> got;
  for (int w = 0; w < kWriters; ++w) {
    for (uint64_t i = 0; i < kPerWriter; ++i) {
      ASSERT_TRUE(store.Read(KeyOf(w, i), got));
      ASSERT_TRUE(Consistent(KeyOf(w, i), got));
    }
    const uint64_t last = (kPerWriter - 1) / 3 * 3;
    ASSERT_TRUE(store.Read(KeyOf(w, last / 2), got));
    EXPECT_EQ(got, Payload(KeyOf(w, last / 2), static_cast<uint32_t>(last)));
  }
}

}  // namespace
}  // namespace velmora
