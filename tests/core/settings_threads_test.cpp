// Options published on one thread while another saves them, starting from a damaged options file
// (whose bookkeeping a save updates): no race, and the file ends up holding a whole snapshot.
// Built and run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/settings.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

TEST(OptionsThreads, SavesRunWhileChangesArePublished) {
  const ScopedAppOptions restore([](CAppOptions&) {});
  const std::string path = kFolders.File("threads.opt");
  test::WriteTestFile(path, "not an options file");
  ASSERT_FALSE(LoadAppOptionsFrom(path));  // damaged: kept until a change is saved over it

  // Each save after a change goes over the damaged file again (every snapshot copied before the
  // first save still names it), so the saver writes the bookkeeping while the writer copies it.
  constexpr int kSaves = 200;
  std::atomic<int> saves{0};
  std::atomic<bool> go{false};
  std::thread writer([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; saves < kSaves; ++i) {
      UpdateAppOptions([i](CAppOptions& o) { o.jpeg_quality = 1 + i % 100; });
      if (i % 50 == 0) LoadAppOptionsFrom(path + ".missing");  // a missing file changes nothing
    }
  });
  std::thread saver([&] {
    go = true;
    for (; saves < kSaves; ++saves) {
      test::WriteTestFile(path, "damaged again");
      LoadAppOptionsFrom(path);
      SaveAppOptionsTo(path);
    }
  });
  writer.join();
  saver.join();
  // Whether or not a change followed the last damaged load, the next change is saved over it.
  UpdateAppOptions([](CAppOptions& o) { o.jpeg_quality = o.jpeg_quality % 100 + 1; });
  ASSERT_TRUE(SaveAppOptionsTo(path));
  CAppOptions back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.jpeg_quality, AppOptions().jpeg_quality);
}

}  // namespace
}  // namespace velmora
