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

// Collects AppLog lines for one test and restores the default sink afterwards.
class CapturedLog {
 public:
  CapturedLog() {
    SetLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CapturedLog() { SetLogSink(nullptr); }
  std::vector<std::string> lines;
};

TEST(Log, LinesAreCutAt512BytesOnACharacterBoundary) {
  CapturedLog log;
  AppLog("%s", std::string(600, 'a').c_str());
  std::string chinese;
  for (int i = 0; i < 300; ++i) chinese += "端";  // 900 bytes, 3 per character
  AppLog("%s", chinese.c_str());
  AppLog("x%s", chinese.c_str());  // the 512th byte falls inside a character
  AppLog("port %d: %s", 8080, "端口不可用,请尝试其他!");
  ASSERT_EQ(log.lines.size(), 4u);
  EXPECT_EQ(log.lines[0], std::string(512, 'a'));
  EXPECT_EQ(log.lines[1].size(), 510u);
  EXPECT_TRUE(IsValidUtf8(log.lines[1]));
  EXPECT_EQ(log.lines[2].size(), 511u);
  EXPECT_TRUE(IsValidUtf8(log.lines[2]));
  EXPECT_EQ(log.lines[3], "port 8080: 端口不可用,请尝试其他!");
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

TEST(Log, DefaultSinkAppendsTimeStampedLinesToTheLogFile) {
  test::TempDir dir;
  std::string path = dir.File("velmora.log");
  SetLogToStderr(false);
  SetLogFile(path);
  AppLog("first %d", 1);
  AppLog("second");
  SetLogFile("");
  SetLogToStderr(true);
  std::string text = test::ReadTestFile(path);
  // "YYYY-MM-DD HH:MM:SS first 1\n"
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.substr(19, 9), " first 1\n");
  EXPECT_EQ(text.substr(4, 1), "-");
  EXPECT_NE(text.find(" second\n"), std::string::npos);
}

TEST(Log, AppendLogFile) {
  test::TempDir dir;
  std::string path = dir.File("job.log");
  EXPECT_TRUE(AppendLogFile(path.c_str(), "tile %d/%d", 3, 7));
  EXPECT_TRUE(AppendLogFile(path.c_str(), "%s", std::string(2000, 'x').c_str()));  // no 512 limit
  EXPECT_EQ(test::ReadTestFile(path), "tile 3/7\n" + std::string(2000, 'x') + "\n");
  EXPECT_FALSE(AppendLogFile(dir.path().c_str(), "a folder cannot take lines"));
  EXPECT_FALSE(AppendLogFile(dir.File("no/such/folder.log").c_str(), "x"));
}

TEST(Log, NumbersIgnoreTheLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  test::TempDir dir;
  std::string path = dir.File("n.log");
  {
    CapturedLog log;
    AppLog("%.1f", 120.5);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "120.5");
  }
  AppendLogFile(path.c_str(), "%.2f", 0.25);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(test::ReadTestFile(path), "0.25\n");
}

}  // namespace
}  // namespace velmora
