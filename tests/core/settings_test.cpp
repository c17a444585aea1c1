// Options file, profile stores and the INI registry profile, on real files in a temporary folder.
#include "core/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive.h"
#include "core/log.h"
#include "platform/text.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

// No test touches the user's files.
const test::TempDir& kFolders = test::IsolatedFolders();

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// ---- profile store ----

// One value of each of the eleven types.
std::vector<std::pair<std::string, ProfileValue>> Sample() {
  CTextStyle style;
  style.face = "宋体";
  style.alignment = 1;
  style.color = 0xFF00FF00u;
  style.flags = CTextStyle::kItalic;
  style.size = 10.5f;
  return {{"BdCrtThd", int32_t{8}},       {"utm_name", std::string("经纬度 - WGS84")},
          {"REG_DEM_FACTOR", IntPair{3, -4}}, {"eye", Point3D{120.25, 36.5, 1e7}},
          {"DemAddDB", true},             {"offset", PointF{0.5f, -1.25f}},
          {"alpha", 0.75f},               {"zoom", 12.125},
          {"line", Color{0x80FF0000u}},   {"label", style},
          {"columns", std::vector<int32_t>{1, -2, 3, 400000}}};
}

bool SaveSample(const std::string& path) {
  CProfileStore s;
  for (const auto& [key, value] : Sample()) s.Set(key, value);
  return s.Save(path);
}

TEST(ProfileStore, AllElevenTypesSurviveTheFileAndOnlyChangesAreWritten) {
  test::TempDir dir;
  std::string path = dir.File("Kovra0.reg");
  ASSERT_TRUE(SaveSample(path));
  CProfileStore back;
  ASSERT_TRUE(back.Load(path));
  for (const auto& [key, value] : Sample()) EXPECT_TRUE(back.Find(key) == value) << key;
  EXPECT_EQ(back.GetTextStyle("label", CTextStyle()).face, "宋体");
  // Defaults for absent keys and for keys holding another type.
  EXPECT_EQ(back.GetInt("absent", -7), -7);
  EXPECT_EQ(back.GetInt("utm_name", -7), -7);
  EXPECT_FALSE(back.GetBool("zoom", false));

  // Setting a value the store already holds is no change; an unchanged store writes nothing.
  for (const auto& [key, value] : Sample()) back.Set(key, value);
  EXPECT_FALSE(back.Remove("none"));
  EXPECT_FALSE(back.IsChanged());
  std::filesystem::remove(path);
  EXPECT_TRUE(back.Save(path));
  EXPECT_FALSE(Exists(path));
  back.SetFloat("BdCrtThd", 8.0f);  // same key, another type: a change
  EXPECT_TRUE(back.IsChanged());
  back.ClearChanged();
  EXPECT_TRUE(back.Save(path, true));  // a forced save writes an unchanged store
  EXPECT_TRUE(Exists(path));
  EXPECT_TRUE(CProfileStore().Load(dir.File("none.reg")));  // a missing file is an empty store
}

TEST(ProfileStore, DamagedFilesAreRejectedAndKeptUntilSomethingIsSet) {
  test::TempDir dir;
  std::string path = dir.File("Kovra0.reg");
  ASSERT_TRUE(SaveSample(path));
  std::string good = test::ReadTestFile(path);
  const std::string damaged_files[] = {
      good.substr(0, good.size() - 3),                    // cut short
      std::string("\x01\0\0\0\xFF\xFF\xFF\x7F", 8),       // a count of two billion entries
      std::string("\x01\0\0\0\x01\0\0\0\x01k\x0B", 11),   // unknown type code 11
      std::string("\x07\0\0\0\0\0\0\0", 8),               // unknown schema
      "",
  };
  for (const std::string& bad : damaged_files) {
    test::WriteTestFile(path, bad);
    CProfileStore s;
    s.SetInt("before", 1);
    EXPECT_FALSE(s.Load(path));
    EXPECT_EQ(s.GetInt("before", -1), -1);  // the store is empty: defaults are used
    EXPECT_FALSE(s.IsChanged());
    EXPECT_TRUE(s.Save(path, true));  // even a forced save leaves the file alone
    EXPECT_EQ(test::ReadTestFile(path), bad);
    EXPECT_FALSE(Exists(path + ".damaged"));
  }
  // Once the user sets something, the file is replaced and the damaged bytes are kept aside.
  CProfileStore s;
  EXPECT_FALSE(s.Load(path));
  s.SetInt("after", 2);
  ASSERT_TRUE(s.Save(path));
  EXPECT_EQ(test::ReadTestFile(path + ".damaged"), damaged_files[4]);
  CProfileStore back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.GetInt("after", 0), 2);

  SetLogSink([](const std::string&) {});
  for (size_t n = 0; n < good.size(); ++n) {  // every truncation is rejected
    test::WriteTestFile(path, good.substr(0, n));
    EXPECT_FALSE(s.Load(path)) << n;
    EXPECT_FALSE(s.Find("BdCrtThd")) << n;
  }
  SetLogSink(nullptr);
}

TEST(ProfileStore, GlobalStoresLiveInTheDataFolderSeededFromTheProgramFolder) {
  test::TempDir dir;
  ScopedAppOptions folders([&dir](CAppOptions& o) {
    o.program_dir = dir.File("program/");
    o.data_dir = dir.File("data/");
  });
  CProfileStore seed;
  seed.SetString("city", "青岛");
  ASSERT_TRUE(seed.Save(dir.File("program/Kovra0.reg")));

  ASSERT_TRUE(LoadProfileStores());
  EXPECT_EQ(ProgramSettings().GetString("city", ""), "青岛");
  ASSERT_TRUE(SaveProfileStores());
  EXPECT_FALSE(Exists(dir.File("data/Kovra0.reg")));  // unchanged: nothing written
  ProgramSettings().SetInt("BdCrtThd", 4);
  ASSERT_TRUE(SaveProfileStores());

  // The next run reads the data folder's copy, not the seed.
  ASSERT_TRUE(LoadProfileStores());
  EXPECT_EQ(ProgramSettings().GetInt("BdCrtThd", 0), 4);
  EXPECT_EQ(ProgramSettings().GetString("city", ""), "青岛");
}

// ---- options ----

// The stored settings of the options, apart from the data folder.
auto Stored(const CAppOptions& o) {
  return std::make_tuple(o.download_threads, o.show_place_tree, o.dem_source_mode, o.jpeg_quality, o.map_publish,
                         o.coord_format, o.retry_limit, o.offline, o.http_timeout_ms);
}

TEST(AppOptions, RoundTripAndMissingFile) {
  test::TempDir dir;
  std::string path = dir.File(kOptionsFileName);
  CAppOptions o = AppOptions();
  EXPECT_TRUE(o.Load(path));  // missing: defaults stay
  EXPECT_EQ(o.download_threads, 5);
  o.download_threads = 9;
  o.show_place_tree = false;
  o.dem_source_mode = 5;
  o.jpeg_quality = 75;
  o.map_publish = true;
  o.coord_format = 1;
  o.retry_limit = 0;
  o.offline = true;
  o.http_timeout_ms = 3000;
  o.satellite_switch = 0;  // not a setting: never stored
  o.data_dir = dir.File("地图 \xF0\x9F\x97\xBA/");  // a folder that GBK cannot express
  ASSERT_TRUE(o.Save(path));
  CAppOptions back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(Stored(back), Stored(o));
  EXPECT_EQ(back.satellite_switch, 1);
  EXPECT_EQ(back.data_dir, o.data_dir);
  EXPECT_EQ(back.work_dir, o.data_dir + "work/");

  // The default data folder is not written into the file, so that it follows the environment.
  o.data_dir = ResolveFolders().data;
  ASSERT_TRUE(o.Save(path));
  std::string bytes = test::ReadTestFile(path);
  ASSERT_GE(bytes.size(), 5u);
  EXPECT_EQ(bytes[4], '\0');

  // The global options live in the data folder.
  EXPECT_EQ(OptionsFilePath(), kFolders.File("data/kovra0.opt"));
  ScopedAppOptions scope([](CAppOptions& o) { o.jpeg_quality = 81; });
  ASSERT_TRUE(SaveAppOptions());
  UpdateAppOptions([](CAppOptions& o) { o.jpeg_quality = 10; });
  ASSERT_TRUE(LoadAppOptions());
  EXPECT_EQ(AppOptions().jpeg_quality, 81);
}

TEST(AppOptions, DamagedFileIsKeptAndOutOfRangeValuesGetDefaults) {
  test::TempDir dir;
  std::string path = dir.File(kOptionsFileName);
  CAppOptions o;
  ASSERT_TRUE(o.Save(path));
  std::string good = test::ReadTestFile(path);
  std::string cut = good.substr(0, good.size() - 2);
  test::WriteTestFile(path, cut);

  CAppOptions damaged;
  damaged.jpeg_quality = 33;
  EXPECT_FALSE(damaged.Load(path));
  EXPECT_EQ(damaged.jpeg_quality, 33);  // values in use are kept
  EXPECT_TRUE(damaged.Save(path));
  EXPECT_EQ(test::ReadTestFile(path), cut);  // nothing changed: the file stays
  damaged.jpeg_quality = 34;
  ASSERT_TRUE(damaged.Save(path));
  CAppOptions back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.jpeg_quality, 34);

  // Every number out of its range (the flags are fine).
  ArchiveWriter w;
  w.Schema(1);
  w.RawString("");
  w.I32(0);       // download threads
  w.U8(1);
  w.I32(9);       // elevation source
  w.I32(500);     // JPEG quality
  w.U8(0);
  w.I32(7);       // coordinate format
  w.I32(-1);      // retry limit
  w.U8(0);
  w.I32(5);       // HTTP time-out
  ASSERT_TRUE(w.SaveToFile(path));
  CAppOptions ranged;
  ranged.jpeg_quality = 50;
  ASSERT_TRUE(ranged.Load(path));
  EXPECT_EQ(Stored(ranged), Stored(CAppOptions()));
}

// ---- registry profile ----

TEST(RegistryProfile, TextFormAndEscapes) {
  test::TempDir dir;
  std::string path = dir.File("velmora.ini");
  CRegistryProfile p;
  ASSERT_TRUE(p.Open(path));
  ASSERT_TRUE(p.WriteString("recent", "kml", "/home/u/地图"));
  ASSERT_TRUE(p.WriteInt("option", "threads", -5));
  ASSERT_TRUE(p.WriteDouble("option", "zoom", 120.5));
  EXPECT_EQ(test::ReadTestFile(path),
            "[option]\nthreads=-5\nzoom=120.500000\n[recent]\nkml=/home/u/地图\n");

  const std::pair<std::string, std::string> tricky[] = {
      {"a=b", "c=d"},          {"[x", "]"},          {";comment", "#"},  {" key ", " value "},
      {"tab\t", "\tx\t"},      {"new\nline", "1\r\n2"}, {"back\\slash", "\\x41\\n"},
      {"", ""},                {"k", std::string("\x01\x7F", 2)},
  };
  for (const auto& [key, value] : tricky) ASSERT_TRUE(p.WriteString("s p]a[c e", key, value));
  CRegistryProfile back;
  ASSERT_TRUE(back.Open(path));
  for (const auto& [key, value] : tricky) EXPECT_EQ(back.GetString("s p]a[c e", key, "?"), value) << key;
  EXPECT_EQ(back.GetDouble("option", "zoom", 0), 120.5);
  EXPECT_EQ(back.GetString("recent", "kml", ""), "/home/u/地图");

  // The global profile lives in the config folder.
  ASSERT_TRUE(WriteProfileDouble("option", "zoom", 12.25));
  EXPECT_EQ(GetProfileDouble("option", "zoom", 0), 12.25);
  EXPECT_NE(test::ReadTestFile(kFolders.File("velmora.ini")).find("zoom=12.250000\n"), std::string::npos);
}

TEST(RegistryProfile, HandWrittenFiles) {
  test::TempDir dir;
  std::string path = dir.File("velmora.ini");
  test::WriteTestFile(path,
                      "\xEF\xBB\xBF; written by hand\r\n"
                      "top = level\r\n"
                      "[ option ]\r\n"
                      "  threads = 12  \r\n"
                      "big=99999999999\n"
                      "nan=nan\n"
                      "empty=\n"
                      "# another comment\n"
                      "no equals sign\n"
                      "[weather]\n"
                      "city=青岛");
  CRegistryProfile p;
  ASSERT_TRUE(p.Open(path));
  EXPECT_EQ(p.GetString("", "top", ""), "level");
  EXPECT_EQ(p.GetInt("option", "threads", 0), 12);
  EXPECT_EQ(p.GetInt("option", "big", 3), 3);  // beyond int
  EXPECT_EQ(p.GetDouble("option", "nan", 2.5), 2.5);
  EXPECT_EQ(p.GetDouble("option", "empty", 2.5), 2.5);  // empty text: the default
  EXPECT_EQ(p.GetString("weather", "city", ""), "青岛");

  // A file saved in GBK by another editor is read as GBK.
  test::WriteTestFile(path, "[weather]\ncity=\xC7\xE0\xB5\xBA\n");
  ASSERT_TRUE(p.Open(path));
  EXPECT_EQ(p.GetString("weather", "city", ""), "青岛");
}

TEST(RegistryProfile, BytesThatAreNotUtf8NeverGarbleTheChineseValues) {
  test::TempDir dir;
  const std::string path = dir.File("velmora.ini");
  const std::string gbk_shanghai = Utf8ToAnsi(std::string_view("上海"));  // bytes of another code page
  {
    CRegistryProfile p;
    ASSERT_TRUE(p.Open(path));
    ASSERT_TRUE(p.WriteString("weather", "city", "北京"));
    ASSERT_TRUE(p.WriteString("weather", "gbk", gbk_shanghai));
    ASSERT_TRUE(p.WriteString("weather", std::string("k\xC0y", 3), "值\xFF"));
    ASSERT_TRUE(p.WriteString("recent", "kml", "/home/u/青岛/地图.kml"));
  }
  // The file is still UTF-8: the stray bytes are escapes, the Chinese text is as it was.
  const std::string text = test::ReadTestFile(path);
  EXPECT_TRUE(IsValidUtf8(text)) << text;
  EXPECT_NE(text.find("city=北京\n"), std::string::npos) << text;
  EXPECT_NE(text.find("k\\xC0y=值\\xFF\n"), std::string::npos) << text;

  // Every value reads back exactly, also after a second write of the whole file.
  for (int round = 0; round < 2; ++round) {
    CRegistryProfile p;
    ASSERT_TRUE(p.Open(path));
    EXPECT_EQ(p.GetString("weather", "city", ""), "北京");
    EXPECT_EQ(p.GetString("weather", "gbk", ""), gbk_shanghai);
    EXPECT_EQ(p.GetString("weather", std::string("k\xC0y", 3), ""), "值\xFF");
    EXPECT_EQ(p.GetString("recent", "kml", ""), "/home/u/青岛/地图.kml");
    ASSERT_TRUE(p.WriteString("weather", "round", std::to_string(round)));
  }
  EXPECT_TRUE(IsValidUtf8(test::ReadTestFile(path)));

  // An escape written by hand comes back as its byte and goes out as the escape again.
  test::WriteTestFile(path, "[weather]\ncity=北京\nodd=\\xC0\n");
  {
    CRegistryProfile p;
    ASSERT_TRUE(p.Open(path));
    EXPECT_EQ(p.GetString("weather", "odd", ""), "\xC0");
    ASSERT_TRUE(p.WriteString("weather", "town", "青岛"));
  }
  CRegistryProfile p;
  ASSERT_TRUE(p.Open(path));
  EXPECT_EQ(p.GetString("weather", "city", ""), "北京");
  EXPECT_EQ(p.GetString("weather", "town", ""), "青岛");
  EXPECT_EQ(p.GetString("weather", "odd", ""), "\xC0");

  // A raw stray byte on one line (as an older writer left it) costs that line only: the other
  // lines stay UTF-8, and a whole GBK line still reads as GBK.
  test::WriteTestFile(path, "[weather]\ncity=北京\nodd=a\xC0\ngbk=\xC7\xE0\xB5\xBA\ntown=青岛\n");
  ASSERT_TRUE(p.Open(path));
  EXPECT_EQ(p.GetString("weather", "city", ""), "北京");
  EXPECT_EQ(p.GetString("weather", "town", ""), "青岛");
  EXPECT_EQ(p.GetString("weather", "gbk", ""), "青岛");
  EXPECT_EQ(p.GetString("weather", "odd", ""), "a\xEF\xBF\xBD");
}

TEST(RegistryProfile, UnreadableFileIsNeverRewritten) {
  test::TempDir dir;
  std::string path = dir.File("velmora.ini");
  std::filesystem::create_directories(path + "/keep");  // exists, but cannot be read as a file
  CRegistryProfile p;
  EXPECT_FALSE(p.Open(path));
  EXPECT_FALSE(p.WriteString("option", "k", "v"));
  EXPECT_EQ(p.GetString("option", "k", ""), "v");  // kept in memory for this run
  EXPECT_TRUE(std::filesystem::is_directory(path + "/keep"));
}

}  // namespace
}  // namespace velmora
