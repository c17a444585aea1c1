// The place-name database and its import: the KML placemark reader on ordinary and damaged
// files, the parent rules of the import over our sample provinces, importing twice, folders with
// files of any extension case, the database in the data folder seeded from the program folder,
// names in the order of their GBK forms, and the tree's index file with every damage refused.
#include "velmora_build_paths.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "places/kml_place_reader.h"
#include "places/place_name_db.h"
#include "places/place_name_import.h"
#include "places/place_name_index.h"
#include "platform/db.h"
#include "platform/fs.h"
#include "support/isolated_folders.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
const std::string kSamples = std::string(VELMORA_SOURCE_DIR) + "/tests/places/kml/";

std::vector<KmlPlacemark> ReadAll(std::string_view kml, std::string* document = nullptr) {
  CKmlPlaceReader reader(kml);
  if (document) *document = reader.DocumentName();
  std::vector<KmlPlacemark> out;
  KmlPlacemark p;
  while (reader.Next(&p)) out.push_back(p);
  return out;
}

std::string Placemark(const std::string& name, const std::string& style, double lng, double lat) {
  return FormatC("<Placemark><name>%s</name><styleUrl>#%s</styleUrl><Point><coordinates>%.2f,%.2f</coordinates>"
                 "</Point></Placemark>",
                 name.c_str(), style.c_str(), lng, lat);
}

std::string Document(const std::string& name, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kml><Document><name>" + name + "</name>" + body +
         "</Document></kml>";
}

struct Collect : IPlaceImportSink {
  void AddLine(const std::string& line) override { lines.push_back(line); }
  bool StopRequested() override { return stop_after >= 0 && ++seen > stop_after; }
  std::vector<std::string> lines;
  int stop_after = -1;
  int seen = 0;
};

// ---- the KML reader ----

TEST(KmlPlaceReader, ReadsTheSampleProvince) {
  const std::string kml = test::ReadTestFile(kSamples + "shandong.kml");
  std::string province;
  const std::vector<KmlPlacemark> marks = ReadAll(kml, &province);
  EXPECT_EQ(province, "山东省");
  ASSERT_EQ(marks.size(), 17u);
  EXPECT_EQ(marks[0].name, "济南市");
  EXPECT_EQ(marks[0].level, kPlaceCapital);
  EXPECT_DOUBLE_EQ(marks[0].lng, 117.12);
  EXPECT_DOUBLE_EQ(marks[0].lat, 36.65);
  EXPECT_TRUE(marks[0].has_box);
  EXPECT_DOUBLE_EQ(marks[0].north, 37.55);
  EXPECT_DOUBLE_EQ(marks[0].west, 116.2);
  // A placemark without a box has none, whatever the one before had.
  EXPECT_FALSE(marks[1].has_box);
  EXPECT_EQ(marks[1].north, 0);
  // "styles.kml#m:county": the text after the first colon.
  EXPECT_EQ(marks[8].name, "即墨区");
  EXPECT_EQ(marks[8].level, kPlaceCounty);
  // Without a style a placemark has no level, whatever the one before had.
  EXPECT_EQ(marks[14].name, "无名标记");
  EXPECT_EQ(marks[14].level, 0);
  EXPECT_EQ(marks[15].level, kPlaceCity);
}

TEST(KmlPlaceReader, TextsEntitiesAndOddShapes) {
  const std::string kml =
      "<!-- <name>not this</name> -->"
      "<kml:kml xmlns:kml='x'><kml:Document><kml:name><![CDATA[A&B省]]></kml:name>"
      "<Placemark id=\"a>b\"><name> Tom &amp; Jerry&#x9547;&#38;&bogus; </name><styleUrl>#town</styleUrl>"
      "<Point><coordinates>\n 120.5 , 36.25 ,0 121,37</coordinates></Point></Placemark>"
      "<Placemark><name>bad point</name><styleUrl>#vi</styleUrl><coordinates>200,10</coordinates></Placemark>"
      "<Placemark><name>no point</name><styleUrl>#vi</styleUrl></Placemark>"
      "<Placemark><name>half box</name><styleUrl>#unknown</styleUrl><north>36</north><south>x</south>"
      "<east>1</east><west>0</west><coordinates>1,2</coordinates></Placemark>"
      "<Placemark/>"
      "<Placemark><name>unclosed</name><styleUrl>#city</styleUrl><coordinates>3,4</coordinates>"
      "<Placemark><name>last</name><styleUrl>#county</styleUrl><coordinates>5,6</coordinates>";
  std::string province;
  const std::vector<KmlPlacemark> marks = ReadAll(kml, &province);
  EXPECT_EQ(province, "A&B省");
  ASSERT_EQ(marks.size(), 5u);
  EXPECT_EQ(marks[0].name, "Tom & Jerry镇&&bogus;");
  EXPECT_DOUBLE_EQ(marks[0].lng, 120.5);
  EXPECT_DOUBLE_EQ(marks[0].lat, 36.25);
  // A position out of range reads as (0, 0); the place still counts.
  EXPECT_EQ(marks[1].name, "bad point");
  EXPECT_EQ(marks[1].lng, 0);
  EXPECT_EQ(marks[1].lat, 0);
  // An unknown style leaves the level unset; a bad box value spoils the whole box.
  EXPECT_EQ(marks[2].name, "half box");
  EXPECT_EQ(marks[2].level, 0);
  EXPECT_FALSE(marks[2].has_box);
  EXPECT_EQ(marks[2].east, 0);
  // An unclosed placemark ends where the next begins; the last one at the end of the text.
  EXPECT_EQ(marks[3].name, "unclosed");
  EXPECT_EQ(marks[3].level, kPlaceCity);
  EXPECT_EQ(marks[4].name, "last");
  EXPECT_DOUBLE_EQ(marks[4].lat, 6);
}

TEST(KmlPlaceReader, DamagedTextEndsCleanly) {
  // Cut anywhere, the sample reads up to the cut and never past it.
  const std::string kml = test::ReadTestFile(kSamples + "shandong.kml");
  size_t previous = 0;
  for (size_t cut = 0; cut <= kml.size(); cut += 97) {
    const std::vector<KmlPlacemark> marks = ReadAll(std::string_view(kml).substr(0, cut));
    EXPECT_LE(marks.size(), 17u);
    EXPECT_GE(marks.size() + 1, previous);  // at most the cut placemark is lost
    previous = marks.size();
  }
  // Bytes that are not UTF-8 and control characters do not reach the names.
  const std::vector<KmlPlacemark> odd = ReadAll(std::string("<Placemark><name>a\xff\x01z</name><coordinates>1,1"));
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].name, "a\xEF\xBF\xBDz");
  // A long name is cut at a character boundary.
  std::string long_name;
  for (int i = 0; i < 600; ++i) long_name += "镇";
  const std::vector<KmlPlacemark> cut = ReadAll("<Placemark><name>" + long_name + "</name><coordinates>1,1");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_LE(cut[0].name.size(), CKmlPlaceReader::kMaxTextBytes);
  EXPECT_EQ(cut[0].name.size() % 3, 0u);
}

// ---- database and import ----

class PlaceNameDbTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(db.OpenDatabase(dir.File("adn.adr"), "")); }

  // Name -> record of every stored place.
  std::map<std::string, PlaceRecord> All() {
    std::map<std::string, PlaceRecord> out;
    for (const PlaceRecord& r : db.FindByName("")) out[r.name] = r;
    return out;
  }
  std::string ParentName(const std::string& name) {
    auto all = All();
    const int parent = all.at(name).parent_id;
    for (const auto& [n, r] : all)
      if (r.id == parent) return n;
    return "";
  }

  test::TempDir dir;
  CPlaceNameDb db;
};

TEST_F(PlaceNameDbTest, ImportFollowsTheParentRules) {
  Collect sink;
  const PlaceImportResult result = ImportPlaceNameKml(db, kSamples + "shandong.kml", sink);
  EXPECT_EQ(result.files, 1);
  EXPECT_EQ(result.places, 17);  // the province and 16 places; the placemark without style is left out
  EXPECT_EQ(result.placemarks_skipped, 1);
  EXPECT_EQ(sink.lines, std::vector<std::string>{"import 山东省..."});
  EXPECT_TRUE(db.HasProvince("山东省"));
  EXPECT_EQ(All().count("无名标记"), 0u);

  // Without a root row the province has no parent.
  EXPECT_EQ(All().at("山东省").parent_id, 0);
  // A provincial capital is never a parent: its districts and towns go to the province.
  EXPECT_EQ(ParentName("济南市"), "山东省");
  EXPECT_EQ(ParentName("舜华路街道"), "山东省");
  EXPECT_EQ(ParentName("历下区"), "山东省");
  // A county after a county-level city gets that city; a town the most recent county.
  EXPECT_EQ(ParentName("胶州市"), "青岛市");
  EXPECT_EQ(ParentName("崂山区"), "胶州市");
  EXPECT_EQ(ParentName("中云街道"), "崂山区");
  EXPECT_EQ(ParentName("北关村"), "中云街道");
  EXPECT_EQ(ParentName("即墨区"), "胶州市");
  // No county since the county-level city: the town gets that city.
  EXPECT_EQ(ParentName("平度市"), "青岛市");
  EXPECT_EQ(ParentName("同和街道"), "平度市");
  // A new city forgets the county-level cities of the one before.
  EXPECT_EQ(ParentName("牟平区"), "烟台市");
  EXPECT_EQ(ParentName("宁海街道"), "牟平区");
  // No county, no county-level city: the most recent city.
  EXPECT_EQ(ParentName("张村镇"), "威海市");
  const PlaceRecord qingdao = All().at("青岛市");
  EXPECT_EQ(qingdao.type, kPlaceCity);
  EXPECT_DOUBLE_EQ(qingdao.north, 37.15);
  EXPECT_DOUBLE_EQ(qingdao.south, 35.58);
  EXPECT_DOUBLE_EQ(qingdao.east, 121.0);
  EXPECT_DOUBLE_EQ(qingdao.west, 119.5);
}

TEST_F(PlaceNameDbTest, FolderImportTwiceAndTheRootRow) {
  // A root row makes the root of every province; importing again adds nothing.
  PlaceRecord root;
  root.type = kPlaceCountry;
  root.name = kPlaceRootName;
  ASSERT_GT(db.AddPlace(root, true), 0);
  test::TempDir folder;
  for (const char* name : {"shandong.kml", "jiangsu.KML", "notes.txt"})
    test::WriteTestFile(folder.File(name), test::ReadTestFile(kSamples + name));
  std::filesystem::create_directory(folder.File("old.kml"));  // a folder is not a file
  Collect sink;
  PlaceImportResult first = ImportPlaceNameKml(db, folder.path(), sink);
  EXPECT_EQ(first.files, 2);
  EXPECT_EQ(first.files_skipped, 0);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"import jiangsu.KML...", "import 江苏省...", "import shandong.kml...",
                                                  "import 山东省..."}));
  const int64_t count = db.PlaceCount();
  EXPECT_EQ(count, 1 + 8 + 17);
  EXPECT_EQ(ParentName("山东省"), kPlaceRootName);
  EXPECT_EQ(ParentName("江苏省"), kPlaceRootName);
  EXPECT_EQ(ParentName("吴中区"), "昆山市");
  EXPECT_EQ(ParentName("周市镇"), "昆山市");

  Collect again;
  PlaceImportResult second = ImportPlaceNameKml(db, folder.path(), again);
  EXPECT_EQ(second.files, 0);
  EXPECT_EQ(second.files_skipped, 2);
  EXPECT_EQ(db.PlaceCount(), count);
  EXPECT_EQ(ImportPlaceNameKml(db, kSamples + "shandong.kml", again).files_skipped, 1);
  EXPECT_EQ(db.PlaceCount(), count);
}

TEST_F(PlaceNameDbTest, LevelsStartAfreshInEachFile) {
  test::TempDir folder;
  test::WriteTestFile(folder.File("a.kml"), Document("甲省", Placemark("甲市", "city", 100, 30) +
                                                                  Placemark("甲县", "county", 100.1, 30.1) +
                                                                  Placemark("甲镇", "town", 100.2, 30.2)));
  // The village of the second file has no town of its own: it goes to its province, not to the
  // first file's town.
  test::WriteTestFile(folder.File("b.kml"), Document("乙省", Placemark("乙村", "vi", 101, 31)));
  // An unreadable file and a file without a document name are passed over.
  test::WriteTestFile(folder.File("c.kml"), "<kml><Placemark><styleUrl>#city</styleUrl></Placemark></kml>");
  Collect sink;
  PlaceImportResult result = ImportPlaceNameKml(db, folder.path(), sink);
  EXPECT_EQ(result.files, 2);
  EXPECT_EQ(result.files_skipped, 1);
  EXPECT_EQ(ParentName("甲镇"), "甲县");
  EXPECT_EQ(ParentName("乙村"), "乙省");
}

TEST_F(PlaceNameDbTest, AStoppedImportLeavesNothingOfTheFile) {
  Collect sink;
  sink.stop_after = 5;
  PlaceImportResult result = ImportPlaceNameKml(db, kSamples + "shandong.kml", sink);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(db.PlaceCount(), 0);
  EXPECT_FALSE(db.HasProvince("山东省"));
  // The next import brings the whole province.
  Collect next;
  EXPECT_EQ(ImportPlaceNameKml(db, kSamples + "shandong.kml", next).files, 1);
  EXPECT_EQ(db.PlaceCount(), 17);
}

TEST_F(PlaceNameDbTest, NamesInTheOrderOfTheirGbkForms) {
  Collect sink;
  ImportPlaceNameKml(db, kSamples + "shandong.kml", sink);
  const int province = All().at("山东省").id;
  std::vector<std::string> names;
  for (const PlaceRecord& r : db.ChildrenOf(province)) names.push_back(r.name);
  // Pinyin order (ji, li, qing, shun, wei, yan), not the order of the UTF-8 bytes.
  EXPECT_EQ(names, (std::vector<std::string>{"济南市", "历下区", "青岛市", "舜华路街道", "威海市", "烟台市"}));
  // A city's county-level cities and counties inside its box, in name order.
  const PlaceRecord qingdao = All().at("青岛市");
  names.clear();
  for (const PlaceRecord& r : db.PlacesInBox({kPlaceCountyCity, kPlaceCounty}, qingdao.west, qingdao.east, qingdao.south,
                                             qingdao.north))
    names.push_back(r.name);
  // 崂 is a second-level character of the code page: it comes after the first-level ones.
  EXPECT_EQ(names, (std::vector<std::string>{"即墨区", "胶州市", "平度市", "崂山区"}));
  EXPECT_TRUE(PlaceNameLess("济南", "历城"));
  EXPECT_FALSE(PlaceNameLess("历城", "济南"));
  // Search by a part of the name; wildcards are plain characters.
  EXPECT_EQ(db.FindByName("青岛").size(), 1u);
  EXPECT_EQ(db.FindByName("街道").size(), 4u);
  EXPECT_TRUE(db.FindByName("%").empty());
}

TEST(PlaceNameDbOpen, SeedFromTheProgramFolderAndForeignFiles) {
  test::TempDir program, data;
  // A seed database with one province.
  {
    CPlaceNameDb seed;
    ASSERT_TRUE(seed.OpenDatabase(program.File("data/adn.adr"), ""));
    PlaceRecord p;
    p.type = kPlaceProvince;
    p.name = "山东省";
    ASSERT_GT(seed.AddPlace(p, true), 0);
  }
  CPlaceNameDb db;
  ASSERT_TRUE(db.OpenDatabase(data.File("adn.adr"), program.File("data/adn.adr")));
  EXPECT_TRUE(db.IsNewDatabase());
  EXPECT_TRUE(db.HasProvince("山东省"));
  PlaceRecord more;
  more.type = kPlaceProvince;
  more.name = "江苏省";
  db.AddPlace(more, true);
  db.Close();
  // The program folder's copy is only read.
  CPlaceNameDb seed_again;
  ASSERT_TRUE(seed_again.OpenDatabase(program.File("data/adn.adr"), ""));
  EXPECT_FALSE(seed_again.HasProvince("江苏省"));
  // Once there, the data folder's own file is used.
  ASSERT_TRUE(db.OpenDatabase(data.File("adn.adr"), program.File("data/adn.adr")));
  EXPECT_FALSE(db.IsNewDatabase());
  EXPECT_TRUE(db.HasProvince("江苏省"));
  db.Close();

  // A file that is not ours is never changed, and nothing opens.
  test::WriteTestFile(data.File("text.adr"), "not a database at all, just some text of a user");
  EXPECT_FALSE(db.OpenDatabase(data.File("text.adr"), ""));
  EXPECT_EQ(test::ReadTestFile(data.File("text.adr")), "not a database at all, just some text of a user");
  {
    SqliteDb other;
    ASSERT_TRUE(other.Open(data.File("other.adr")));
    ASSERT_TRUE(other.Exec("CREATE TABLE notes(x)"));
  }
  const std::string before = test::ReadTestFile(data.File("other.adr"));
  EXPECT_FALSE(db.OpenDatabase(data.File("other.adr"), ""));
  EXPECT_EQ(test::ReadTestFile(data.File("other.adr")), before);
  EXPECT_TRUE(db.Provinces().empty());
  {
    SqliteDb newer;
    ASSERT_TRUE(newer.Open(data.File("newer.adr")));
    ASSERT_TRUE(newer.Exec("PRAGMA user_version = 7"));
  }
  EXPECT_FALSE(db.OpenDatabase(data.File("newer.adr"), ""));
  // A seed that is not a database gives an empty database of our own.
  test::WriteTestFile(program.File("bad/adn.adr"), "garbage");
  EXPECT_TRUE(db.OpenDatabase(data.File("fresh.adr"), program.File("bad/adn.adr")));
  EXPECT_EQ(db.PlaceCount(), 0);
}

// ---- the tree's index ----

std::vector<PlaceIndexGroup> SampleGroups() {
  PlaceIndexGroup a;
  a.top = PlaceRecord{kPlaceProvince, 2, 0, "山东省", 0, 0, 0, 0, 0, 0};
  a.children.push_back(PlaceRecord{kPlaceCity, 4, 2, "青岛市", 120.38, 36.07, 119.5, 37.15, 121.0, 35.58});
  a.children.push_back(PlaceRecord{kPlaceCapital, 3, 2, "济南市", 117.12, 36.65, 116.2, 37.55, 117.93, 36.02});
  PlaceIndexGroup b;
  b.top = PlaceRecord{kPlaceProvince, 9, 0, "𠀀省", 0, 0, 0, 0, 0, 0};  // a name GBK cannot hold
  return {a, b};
}

TEST(PlaceNameIndex, RoundTripAndEveryDamageRefused) {
  const std::vector<PlaceIndexGroup> groups = SampleGroups();
  const std::vector<uint8_t> bytes = EncodePlaceIndex(groups);
  std::vector<PlaceIndexGroup> read;
  std::string error;
  ASSERT_TRUE(ParsePlaceIndex(bytes.data(), bytes.size(), &read, &error)) << error;
  EXPECT_EQ(read, groups);
  // Every cut short of the whole file is refused (a group or record left open).
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    std::vector<PlaceIndexGroup> partial = {PlaceIndexGroup{}};
    EXPECT_FALSE(ParsePlaceIndex(bytes.data(), cut, &partial, &error)) << cut;
    EXPECT_EQ(partial.size(), 1u);  // untouched
  }
  auto refused = [&](std::vector<uint8_t> b) { return !ParsePlaceIndex(b.data(), b.size(), &read, &error); };
  std::vector<uint8_t> b = bytes;
  b[0] = 2;  // schema
  EXPECT_TRUE(refused(b));
  b = bytes;
  b[4] = 3;  // a count beyond the groups there are
  EXPECT_TRUE(refused(b));
  b = bytes;
  b[4] = 1;  // fewer groups counted than there are
  EXPECT_TRUE(refused(b));
  b = bytes;
  b[8] = 9;  // level out of range
  EXPECT_TRUE(refused(b));
  b = bytes;
  b[12 + 3] = 0x80;  // id beyond 2^31 - 1
  EXPECT_TRUE(refused(b));
  b = bytes;
  b[20] = 0xFF, b[21] = 0xF0, b[22] = 0xFF;  // a name longer than the bytes left
  EXPECT_TRUE(refused(b));
  b = bytes;
  b[21] = 0xFF;  // a name that is not UTF-8
  EXPECT_TRUE(refused(b));
  b = bytes;
  const size_t first_value = 8 + 12 + 1 + std::string("山东省").size();
  for (int i = 0; i < 8; ++i) b[first_value + static_cast<size_t>(i)] = 0xFF;  // NaN
  EXPECT_TRUE(refused(b));
  // Bytes after the last end record, or an end record without a group.
  b = bytes;
  b.push_back(0);
  EXPECT_TRUE(refused(b));
  ArchiveWriter lone;
  lone.Schema(kPlaceIndexSchema);
  lone.U32(0);
  lone.U32(0), lone.U32(0), lone.U32(0), lone.RawString("end");
  for (int i = 0; i < 6; ++i) lone.F64(0);
  EXPECT_TRUE(refused(lone.Bytes()));
  // An empty index is a whole one.
  const std::vector<uint8_t> empty = EncodePlaceIndex({});
  EXPECT_TRUE(ParsePlaceIndex(empty.data(), empty.size(), &read, &error));
  EXPECT_TRUE(read.empty());
}

TEST(PlaceNameIndex, FileSavedWholeAndMissingOrDamagedTold) {
  test::TempDir dir;
  std::vector<PlaceIndexGroup> read;
  EXPECT_EQ(LoadPlaceIndex(dir.File("adn.kan"), &read), ArchiveLoad::kMissing);
  ASSERT_TRUE(SavePlaceIndex(dir.File("adn.kan"), SampleGroups()));
  EXPECT_EQ(LoadPlaceIndex(dir.File("adn.kan"), &read), ArchiveLoad::kOk);
  EXPECT_EQ(read, SampleGroups());
  test::WriteTestFile(dir.File("adn.kan"), std::string("\x01\x00\x00\x00\x02\x00\x00\x00", 8));
  read.clear();
  EXPECT_EQ(LoadPlaceIndex(dir.File("adn.kan"), &read), ArchiveLoad::kDamaged);
  EXPECT_TRUE(read.empty());
}

// An import that commits a province makes the tree's index stale: it is removed before the
// commit, so that a kill before the tree writes it again leaves no index (rebuilt from the
// database at the next start) rather than the old list. An import cut short commits nothing and
// keeps the index; an index that cannot be removed stops the commit.
TEST_F(PlaceNameDbTest, ImportCommitsOnlyAfterTheOldIndexIsGone) {
  const std::string index = dir.File("adn.kan");
  EXPECT_EQ(db.IndexPath(), index);
  EXPECT_EQ(CPlaceNameDb::IndexPathFor("/d/x.y/adn"), "/d/x.y/adn.kan");
  ASSERT_TRUE(SavePlaceIndex(index, SampleGroups()));

  Collect stopped;
  stopped.stop_after = 5;
  EXPECT_TRUE(ImportPlaceNameKml(db, kSamples + "shandong.kml", stopped).stopped);
  EXPECT_TRUE(std::filesystem::exists(index));  // nothing committed: still the database's list

  // The index is a folder that cannot be removed: the file's rows are not committed either.
  std::filesystem::remove(index);
  std::filesystem::create_directories(index + "/x");
  Collect blocked;
  EXPECT_EQ(ImportPlaceNameKml(db, kSamples + "shandong.kml", blocked).files_failed, 1);
  EXPECT_EQ(db.PlaceCount(), 0);
  std::filesystem::remove_all(index);

  ASSERT_TRUE(SavePlaceIndex(index, SampleGroups()));
  Collect sink;
  ASSERT_EQ(ImportPlaceNameKml(db, kSamples + "shandong.kml", sink).files, 1);
  // The state a kill right after the commit leaves: the rows are there, the old index is not.
  EXPECT_EQ(db.PlaceCount(), 17);
  std::vector<PlaceIndexGroup> read;
  EXPECT_EQ(LoadPlaceIndex(index, &read), ArchiveLoad::kMissing);
  CPlaceNameDb reopened;
  ASSERT_TRUE(reopened.OpenDatabase(dir.File("adn.adr"), ""));
  EXPECT_FALSE(reopened.IsNewDatabase());
  EXPECT_TRUE(reopened.HasProvince("山东省"));
}

}  // namespace
}  // namespace velmora
