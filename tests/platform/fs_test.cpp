// Whole-file reads, atomic replacement and folder helpers.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace velmora {
namespace {

size_t FilesIn(const std::string& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(Fs, AtomicWriteReplacesAndCreatesFolders) {
  test::TempDir dir;
  std::string path = dir.File("a/b/file.bin");
  std::string error;
  ASSERT_TRUE(WriteFileAtomic(path, "first", 5, &error)) << error;
  std::vector<uint8_t> bytes{0, 1, 2, 0xFF};
  ASSERT_TRUE(WriteFileAtomic(path, bytes, &error)) << error;
  EXPECT_EQ(ReadFileBytes(path), bytes);
  EXPECT_EQ(FilesIn(dir.File("a/b")), 1u);  // no temporary file left behind
}

TEST(Fs, FailuresLeaveTheOldFileAndReportThePath) {
  test::TempDir dir;
  // The target is a folder: rename fails after the temporary file was written.
  std::filesystem::create_directories(dir.File("target/inner"));
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(dir.File("target"), "x", 1, &error));
  EXPECT_NE(error.find("target"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("target/inner")));
  EXPECT_EQ(FilesIn(dir.path()), 1u);  // the temporary file was removed
  // A folder that cannot be created.
  test::WriteTestFile(dir.File("plain"), "keep");
  EXPECT_FALSE(WriteFileAtomic(dir.File("plain/sub/file"), "x", 1, &error));
  EXPECT_EQ(test::ReadTestFile(dir.File("plain")), "keep");

  EXPECT_FALSE(ReadFileBytes(dir.File("missing"), &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  EXPECT_FALSE(ReadFileBytes(dir.path(), &error));  // a folder
}

TEST(Fs, FolderHelpers) {
  EXPECT_EQ(WithTrailingSlash("/a/b///"), "/a/b/");
  EXPECT_EQ(WithTrailingSlash(""), "/");
  test::TempDir dir;
  EXPECT_TRUE(EnsureFolder(dir.File("x/y/z")));
  EXPECT_TRUE(EnsureFolder(dir.File("x/y/z")));
  test::WriteTestFile(dir.File("f"), "");
  EXPECT_FALSE(EnsureFolder(dir.File("f")));
  EXPECT_GT(FreeDiskSpace(dir.path()).value_or(0), 0u);
  EXPECT_FALSE(FreeDiskSpace(dir.File("nowhere")));
}

}  // namespace
}  // namespace velmora
