// The application log: the 512-character limit, sinks, the log file and locale independence.
#include "core/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

TEST(Log, LinesAreCutAt512BytesOnACharacterBoundary) {
  std::vector<std::string> lines;
  SetLogSink([&](const std::string& line) { lines.push_back(line); });
  AppLog("%s", std::string(600, 'a').c_str());
  std::string chinese;
  for (int i = 0; i < 300; ++i) chinese += "端";  // 900 bytes, 3 per character
  AppLog("%s", chinese.c_str());
  AppLog("x%s", chinese.c_str());  // the 512th byte falls inside a character
  SetLogSink(nullptr);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(512, 'a'));
  EXPECT_EQ(lines[1].size(), 510u);
  EXPECT_EQ(lines[2].size(), 511u);
  EXPECT_TRUE(IsValidUtf8(lines[1]) && IsValidUtf8(lines[2]));
  EXPECT_EQ(CutUtf8("ab\x80\x80\x80\x80\x80", 4), "ab\x80\x80");  // not UTF-8: cut where asked
}

TEST(Log, ASinkThatLogsDoesNotDeadlock) {
  std::vector<std::string> lines;
  SetLogSink([&](const std::string& line) {
    lines.push_back(line);
    if (line == "outer") AppLog("inner");  // goes to stderr, not back into this sink
  });
  AppLog("outer");
  SetLogSink(nullptr);
  EXPECT_EQ(lines, std::vector<std::string>{"outer"});
}

TEST(Log, LinesAreAppendedToTheLogFile) {
  test::TempDir dir;
  std::string path = dir.File("velmora.log");
  SetLogToStderr(false);
  SetLogFile(path);
  AppLog("first %d", 1);
  AppLog("second");
  SetLogFile("");
  SetLogToStderr(true);
  std::string text = test::ReadTestFile(path);
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);  // each behind a time stamp
  EXPECT_NE(text.find(" first 1\n"), std::string::npos);
}

TEST(Log, NumbersIgnoreTheLocaleAndJobLogsHaveNoLimit) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // where it is installed: "%.1f" gives "120,5" there
  test::TempDir dir;
  std::string job = dir.File("job.log");
  std::vector<std::string> lines;
  SetLogSink([&](const std::string& line) { lines.push_back(line); });
  AppLog("%.1f", 120.5);
  SetLogSink(nullptr);
  EXPECT_TRUE(AppendLogFile(job.c_str(), "tile %.2f", 0.25));
  EXPECT_TRUE(AppendLogFile(job.c_str(), "%s", std::string(2000, 'x').c_str()));
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(lines, std::vector<std::string>{"120.5"});
  EXPECT_EQ(test::ReadTestFile(job), "tile 0.25\n" + std::string(2000, 'x') + "\n");
  EXPECT_FALSE(AppendLogFile(dir.path().c_str(), "a folder cannot take lines"));
}

}  // namespace
}  // namespace velmora
