// The settings files under faults, on real files in a temporary folder: a damaged file in place
// (the profile stores, the options file, an INI profile with unreadable lines), a full disk made
// with a file-size limit, and the temporaries that a killed process leaves beside its files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Runs `body` with files limited to `limit` bytes; SIGXFSZ is ignored as the program ignores it.
void WithFileSizeLimit(uint64_t limit, const std::function<void()>& body) {
  IgnoreFileSizeSignal();
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limited = old_limit;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  body();
  setrlimit(RLIMIT_FSIZE, &old_limit);
}

// The file's inode: a rewrite by rename gives a new one.
ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A process id that no process has now: a child that has ended and been reaped.
pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

class SettingsFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogSink([this](const std::string& line) { log += line + "\n"; });
  }
  void TearDown() override { SetLogSink(nullptr); }
  test::TempDir dir;
  std::string log;
};

TEST_F(SettingsFaultsTest, DamagedProfileStoreIsNeverReplacedWithoutItsCopy) {
  const std::string path = dir.File("Kovra0.reg");
  const std::string damaged("\x01\0\0\0\xFF\xFF\xFF\x7F", 8);  // a count of two billion entries
  test::WriteTestFile(path, damaged);
  CProfileStore store;
  EXPECT_FALSE(store.Load(path));
  store.SetInt("BdCrtThd", 8);
  // The copy cannot be made (a folder holds its name): the save is refused, the file stays.
  std::filesystem::create_directories(path + ".damaged/x");
  EXPECT_FALSE(store.Save(path));
  EXPECT_EQ(test::ReadTestFile(path), damaged);
  EXPECT_NE(log.find("cannot be kept as"), std::string::npos) << log;
  EXPECT_TRUE(store.IsChanged());  // still to be saved
  // Once the copy can be made, the damaged bytes are kept and the new store written.
  std::filesystem::remove_all(path + ".damaged");
  ASSERT_TRUE(store.Save(path));
  EXPECT_EQ(test::ReadTestFile(path + ".damaged"), damaged);
  CProfileStore back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.GetInt("BdCrtThd", 0), 8);
}

TEST_F(SettingsFaultsTest, DamagedOptionsFileIsCopiedBeforeTheFirstChangedOption) {
  const std::string path = dir.File(kOptionsFileName);
  CAppOptions good;
  good.data_dir = dir.File("chosen/");  // the file names the data folder the user chose
  ASSERT_TRUE(good.Save(path));
  const std::string cut = test::ReadTestFile(path).substr(0, 30);
  test::WriteTestFile(path, cut);
  CAppOptions o;
  EXPECT_FALSE(o.Load(path));
  o.jpeg_quality = 77;
  std::filesystem::create_directories(path + ".damaged/x");
  EXPECT_FALSE(o.Save(path));  // no copy, no save
  EXPECT_EQ(test::ReadTestFile(path), cut);
  std::filesystem::remove_all(path + ".damaged");
  ASSERT_TRUE(o.Save(path));
  EXPECT_EQ(test::ReadTestFile(path + ".damaged"), cut);
  CAppOptions back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.jpeg_quality, 77);
}

TEST_F(SettingsFaultsTest, IniWithUnreadableLinesIsKeptAsideAndNotRewrittenUnchanged) {
  const std::string path = dir.File("velmora.ini");
  const std::string hand = "[option]\nthreads=4\nthis line is not a key\n[wmts]\nport=8888\n";
  test::WriteTestFile(path, hand);
  CRegistryProfile p;
  ASSERT_TRUE(p.Open(path));
  // Values already stored write nothing.
  EXPECT_TRUE(p.WriteInt("option", "threads", 4));
  EXPECT_EQ(test::ReadTestFile(path), hand);
  // The first real change keeps the file with its unreadable line aside, once.
  ASSERT_TRUE(p.WriteInt("option", "threads", 6));
  EXPECT_EQ(test::ReadTestFile(path + ".damaged"), hand);
  ASSERT_TRUE(p.WriteInt("option", "threads", 7));
  EXPECT_EQ(test::ReadTestFile(path + ".damaged"), hand);
  EXPECT_EQ(p.GetInt("wmts", "port", 0), 8888);

  // A file in the form the program writes is not rewritten at every start when a value is
  // written again as it stands.
  const ino_t before = Inode(path);
  CRegistryProfile again;
  ASSERT_TRUE(again.Open(path));
  EXPECT_TRUE(again.WriteInt("option", "threads", 7));
  EXPECT_TRUE(again.WriteString("wmts", "port", "8888"));
  EXPECT_EQ(Inode(path), before);

  // Without its copy an INI file with unreadable lines is not rewritten (the value lives in
  // memory for the run).
  std::filesystem::remove(path + ".damaged");
  test::WriteTestFile(path, hand);
  std::filesystem::create_directories(path + ".damaged/x");
  CRegistryProfile blocked;
  ASSERT_TRUE(blocked.Open(path));
  EXPECT_FALSE(blocked.WriteInt("option", "threads", 9));
  EXPECT_EQ(blocked.GetInt("option", "threads", 0), 9);
  EXPECT_EQ(test::ReadTestFile(path), hand);
}

TEST_F(SettingsFaultsTest, FullDiskKeepsEveryOldFile) {
  const std::string opt = dir.File(kOptionsFileName), reg = dir.File("Kovra0.reg"), ini = dir.File("velmora.ini");
  CAppOptions o;
  ASSERT_TRUE(o.Save(opt));
  CProfileStore store;
  store.SetString("small", "x");
  ASSERT_TRUE(store.Save(reg));
  CRegistryProfile p;
  ASSERT_TRUE(p.Open(ini));
  ASSERT_TRUE(p.WriteString("option", "k", "v"));
  const std::string old_opt = test::ReadTestFile(opt), old_reg = test::ReadTestFile(reg), old_ini = test::ReadTestFile(ini);

  // Files of at most 64 bytes: every new version is larger. The program is not ended by the
  // signal; each save fails and says so, and the old files stay whole.
  WithFileSizeLimit(64, [&] {
    o.data_dir = dir.File(std::string(100, 'd') + "/");
    EXPECT_FALSE(o.Save(opt));
    store.SetString("large", std::string(200, 'y'));
    EXPECT_FALSE(store.Save(reg));
    EXPECT_FALSE(p.WriteString("option", "k", std::string(200, 'z')));
  });
  EXPECT_EQ(test::ReadTestFile(opt), old_opt);
  EXPECT_EQ(test::ReadTestFile(reg), old_reg);
  EXPECT_EQ(test::ReadTestFile(ini), old_ini);
  EXPECT_NE(log.find("File too large"), std::string::npos) << log;
  // No temporary is left behind, and the next save (room again) goes through.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(AtomicTemporaryOwner(entry.path().filename().string()), 0) << entry.path();
  EXPECT_TRUE(store.Save(reg));
  CProfileStore back;
  ASSERT_TRUE(back.Load(reg));
  EXPECT_EQ(back.GetString("large", ""), std::string(200, 'y'));
}

TEST_F(SettingsFaultsTest, TemporariesOfKilledProcessesGoWhenTheFolderIsWrittenNext) {
  EXPECT_EQ(AtomicTemporaryOwner("kovra0.opt.tmp1234-7"), 1234);
  for (const char* other : {"kovra0.opt", "kovra0.opt.tmp", "kovra0.opt.tmp12-", "kovra0.opt.tmp-3", "a.tmp12-3x",
                            "a.tmpx-3", ".tmp1-2"})
    EXPECT_EQ(AtomicTemporaryOwner(other), 0) << other;

  const test::TempDir folder;
  const pid_t dead = DeadPid();
  const std::string mine = folder.File("Kovra0.reg.tmp" + std::to_string(::getpid()) + "-99");
  const std::string stale = folder.File("Kovra0.reg.tmp" + std::to_string(dead) + "-3");
  const std::string live = folder.File("dis0.reg.tmp1-0");  // process 1 runs
  const std::string plain = folder.File("notes.txt");
  for (const std::string& f : {mine, stale, live, plain}) test::WriteTestFile(f, "left");
  // The kill between the temporary's creation and its rename: the next write into the folder
  // removes it (and only it).
  CProfileStore store;
  store.SetInt("k", 1);
  ASSERT_TRUE(store.Save(folder.File("Kovra0.reg")));
  EXPECT_FALSE(Exists(stale));
  EXPECT_TRUE(Exists(mine));
  EXPECT_TRUE(Exists(live));
  EXPECT_TRUE(Exists(plain));
  EXPECT_EQ(RemoveDeadTemporaries(folder.path()), 0u);
}

TEST(FileSizeSignal, IgnoredUnlessSomeoneHandlesIt) {
  struct sigaction dfl {}, seen {};
  dfl.sa_handler = SIG_DFL;
  ASSERT_EQ(sigaction(SIGXFSZ, &dfl, nullptr), 0);
  IgnoreFileSizeSignal();
  ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &seen), 0);
  EXPECT_EQ(seen.sa_handler, SIG_IGN);
  struct sigaction own {};
  own.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGXFSZ, &own, nullptr), 0);
  IgnoreFileSizeSignal();
  ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &seen), 0);
  EXPECT_EQ(seen.sa_handler, own.sa_handler);
  IgnoreFileSizeSignal();
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace
}  // namespace velmora
