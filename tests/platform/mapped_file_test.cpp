// Read-only mappings: bounds at the last byte, empty and missing files, no descriptors kept.
#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace velmora {
namespace {

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(MappedFile, ReadsStopAtTheLastValidOffset) {
  test::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 1001; ++i) bytes.push_back(static_cast<char>(i * 7));
  bytes[999] = '\x34';
  bytes[1000] = '\x92';  // last two bytes: the sample 0x9234 = -28108
  test::WriteTestFile(dir.File("h.smh"), bytes);

  CMappedFile file;
  ASSERT_TRUE(file.Open(dir.File("h.smh")));
  ASSERT_EQ(file.Size(), 1001u);
  EXPECT_EQ(file.ReadI16(999), static_cast<int16_t>(-28108));  // last whole 16-bit value
  EXPECT_FALSE(file.ReadI16(1000));                            // one past: half a value
  EXPECT_FALSE(file.ReadI16(UINT64_MAX));  // no wrap-around of offset + size
  EXPECT_EQ(file.ReadU32(997).value() >> 16, 0x9234u);
  EXPECT_FALSE(file.ReadU32(998));

  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_TRUE(file.Read(1000, out, 1));
  EXPECT_EQ(out[0], '\x92');
  EXPECT_FALSE(file.Read(1000, out, 2));
  EXPECT_EQ(out[1], 'x');  // nothing copied on failure
  EXPECT_EQ(file.Bytes(0, 1001).size(), 1001u);
  EXPECT_TRUE(file.Bytes(1, 1001).empty());
  EXPECT_TRUE(file.Bytes(UINT64_MAX - 1, 4).empty());
}

TEST(MappedFile, EmptyMissingAndOddFiles) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("empty"), "");
  CMappedFile empty;
  ASSERT_TRUE(empty.Open(dir.File("empty")));
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_FALSE(empty.ReadI16(0));
  EXPECT_TRUE(empty.Bytes(0, 1).empty());

  CMappedFile missing;
  std::string error;
  EXPECT_FALSE(missing.Open(dir.File("none.amh"), &error));
  EXPECT_NE(error.find("none.amh"), std::string::npos);
  EXPECT_FALSE(missing.ReadI16(0));
  EXPECT_FALSE(missing.Open(dir.path()));  // a folder

  // Move keeps the mapping; the source is left closed.
  test::WriteTestFile(dir.File("m"), "abcd");
  CMappedFile a;
  ASSERT_TRUE(a.Open(dir.File("m")));
  CMappedFile b = std::move(a);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(b.ReadU16(2), 0x6463);
  b = CMappedFile();
  EXPECT_FALSE(b.IsOpen());
}

TEST(MappedFile, ManyOpenFilesHoldNoDescriptors) {
  test::TempDir dir;
  constexpr int kFiles = 1500;  // above the usual limit of 1024 descriptors
  for (int i = 0; i < kFiles; ++i) test::WriteTestFile(dir.File(std::to_string(i)), std::string(64, static_cast<char>(i)));
  const size_t before = OpenDescriptors();
  std::vector<CMappedFile> files(kFiles);
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(files[i].Open(dir.File(std::to_string(i)))) << i;
  EXPECT_EQ(OpenDescriptors(), before);
  for (int i = 0; i < kFiles; ++i) ASSERT_EQ(files[i].Data()[63], static_cast<uint8_t>(i));
}

}  // namespace
}  // namespace velmora
