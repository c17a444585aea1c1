// Events across threads and concurrent atomic replacement of one file.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/sync.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

TEST(SyncThreads, AutoResetEventReleasesOneWaiterPerSet) {
  Event event(false, false);
  Event done(false, false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      ASSERT_TRUE(event.Wait(kInfinite));
      ++released;
      done.Set();
    });
  for (int i = 1; i <= 4; ++i) {
    event.Set();
    ASSERT_TRUE(done.Wait(kInfinite));
    EXPECT_EQ(released.load(), i);
  }
  for (auto& t : waiters) t.join();
  EXPECT_FALSE(event.IsSet());  // every Set was consumed by exactly one waiter
}

TEST(SyncThreads, ManualResetEventReleasesAllAndStaysSet) {
  Event event(true, false);
  std::vector<std::thread> waiters;
  std::atomic<int> released{0};
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (event.Wait(kInfinite)) ++released;
    });
  event.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 4);
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(1));
}

TEST(SyncThreads, ConcurrentAtomicWritesOfOneFileNeverMix) {
  test::TempDir dir;
  std::string path = dir.File("shared.bin");
  constexpr int kWriters = 6;
  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      std::string content(200000, static_cast<char>('a' + w));
      for (int i = 0; i < 5; ++i)
        if (!WriteFileAtomic(path, content.data(), content.size())) ++failures;
    });
  for (auto& t : writers) t.join();
  EXPECT_EQ(failures.load(), 0);
  std::string back = test::ReadTestFile(path);
  ASSERT_EQ(back.size(), 200000u);
  EXPECT_EQ(back, std::string(200000, back[0]));  // one writer's bytes, whole
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace velmora
