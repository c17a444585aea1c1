// The satellite library's items and its file: element-set text read three lines per attempt (so
// that a stray line shifts the reading), folder states after toggles and after loading, the file's
// bytes field by field, icon paths kept relative to the program folder, and damaged files (another
// schema, cut at every byte, counts beyond the bytes, folders nested without end) set aside with
// the library left empty.
#include "terrain/sat_tree_item.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/archive.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

const char kIss1[] = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const char kIss2[] = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
const char kGeo1[] = "1 28626U 05008A   06176.46683397 -.00000205  00000-0  10000-3 0  2190";
const char kGeo2[] = "2 28626   0.0019 286.9433 0000335  13.7918  55.6504  1.00270176  4891";
const char kHst1[] = "1 20580U 90037B   08264.21563194  .00000616  00000-0  33431-4 0  4443";
const char kHst2[] = "2 20580  28.4690 118.0413 0003747 277.5337 185.3506 15.00889497 51566";
constexpr const char* kProgramDir = "/opt/velmora/share/";

std::string Set(const std::string& name, const char* l1, const char* l2, const char* eol = "\r\n") {
  return name + eol + l1 + eol + l2 + eol;
}

std::string ThreeSets() { return Set("ISS", kIss1, kIss2) + Set("GEO", kGeo1, kGeo2) + Set("HST", kHst1, kHst2); }

// A library: folder "visual" with the three sets (the second shown, its icon under the program
// folder) and a folder "empty" inside it, and one satellite at the top.
void Fill(CSatFolderItem* root) {
  auto visual = std::make_unique<CSatFolderItem>("visual");
  for (const SatElements& e : ReadElementSets(ThreeSets())) visual->Add(std::make_unique<CSatelliteItem>(e));
  auto* geo = static_cast<CSatelliteItem*>(visual->Children()[1].get());
  geo->SetShown(1);
  geo->Record().icon_path = std::string(kProgramDir) + "images/sat3.png";
  visual->Add(std::make_unique<CSatFolderItem>("empty"));
  root->Add(std::move(visual));
  SatElements hst = ReadElementSets(Set("卫星甲", kHst1, kHst2)).at(0);
  hst.icon_path = "/elsewhere/own.png";
  root->Add(std::make_unique<CSatelliteItem>(hst));
  root->RefreshAll();
}

TEST(SatElementText, ReadsSetsThreeLinesAtATimeSoAStrayLineShiftsTheReading) {
  const std::vector<SatElements> sets = ReadElementSets(ThreeSets());
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].name, "ISS");
  EXPECT_EQ(sets[1].satellite_number, 28626u);
  EXPECT_EQ(sets[2].name, "HST");
  for (const SatElements& e : sets) EXPECT_EQ(e.shown, 1u);
  // Bare LF and blank lines between sets read alike.
  EXPECT_EQ(ReadElementSets(Set("ISS", kIss1, kIss2, "\n") + "\n\n" + Set("GEO", kGeo1, kGeo2, "\n")).size(), 2u);
  // A stray line after the first set: every later attempt starts one line off.
  const std::string stray = Set("ISS", kIss1, kIss2) + "stray\r\n" + Set("GEO", kGeo1, kGeo2) + Set("HST", kHst1, kHst2);
  const std::vector<SatElements> shifted = ReadElementSets(stray);
  ASSERT_EQ(shifted.size(), 1u);
  EXPECT_EQ(shifted[0].name, "ISS");
  EXPECT_TRUE(ReadElementSets("no element sets\nat all\n").empty());
  EXPECT_TRUE(ReadElementSets("").empty());
}

TEST(SatLibraryItems, TogglesAndStatesFollowTheRules) {
  CSatFolderItem root;
  Fill(&root);
  auto& visual = static_cast<CSatFolderItem&>(*root.Children()[0]);
  auto& empty = static_cast<CSatFolderItem&>(*visual.Children()[3]);
  EXPECT_EQ(empty.State(), kSatStateAll);  // no children counts as all shown
  EXPECT_EQ(visual.State(), kSatStateSome);
  // A folder at "some" toggles off (state non-zero), all its satellites with it.
  visual.Toggle();
  visual.RefreshUp();
  EXPECT_EQ(visual.State(), kSatStateNone);
  std::vector<SatElements> shown;
  root.CollectShown(shown);
  EXPECT_TRUE(shown.empty());
  visual.Toggle();
  visual.RefreshUp();
  EXPECT_EQ(visual.State(), kSatStateAll);
  root.CollectShown(shown);
  EXPECT_EQ(shown.size(), 3u);
  // One satellite off: its folder and the root are partly shown.
  auto& iss = static_cast<CSatelliteItem&>(*visual.Children()[0]);
  iss.Toggle();
  visual.RefreshUp();
  EXPECT_EQ(visual.State(), kSatStateSome);
  EXPECT_EQ(root.State(), kSatStateSome);
  std::vector<CSatelliteItem*> all;
  root.CollectSatellites(all);
  EXPECT_EQ(all.size(), 4u);
  // Containment, which the paste refuses cycles by.
  EXPECT_TRUE(visual.Contains(&empty));
  EXPECT_TRUE(visual.Contains(&visual));
  EXPECT_FALSE(empty.Contains(&visual));
  // Moving an item keeps its parent link right.
  std::unique_ptr<CSatTreeItem> moved = visual.Remove(&iss);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->Parent(), nullptr);
  empty.Add(std::move(moved));
  EXPECT_EQ(empty.Children()[0]->Parent(), &empty);
  EXPECT_EQ(visual.Remove(&iss), nullptr);
}

TEST(SatLibraryFile, WritesTheFieldsInTheirOrderAndReadsThemBack) {
  test::TempDir dir;
  CSatFolderItem root;
  Fill(&root);
  const std::string path = dir.File("data/obs.db");
  ASSERT_TRUE(SaveSatLibrary(path, kProgramDir, root));
  const auto bytes = ReadFileBytes(path);
  ASSERT_TRUE(bytes);

  // Read the bytes by hand, in the layout of the file.
  ArchiveReader ar(*bytes);
  EXPECT_EQ(ar.U32(), 37u);
  ar.String();                // the root's name
  EXPECT_EQ(ar.U32(), 2u);    // two top items
  EXPECT_EQ(ar.U32(), 0u);    // a folder
  EXPECT_EQ(ar.String(), "visual");
  EXPECT_EQ(ar.U32(), 4u);
  const SatElements& iss = static_cast<CSatelliteItem&>(*static_cast<CSatFolderItem&>(*root.Children()[0]).Children()[0]).Record();
  EXPECT_EQ(ar.U32(), 1u);  // a satellite
  EXPECT_EQ(ar.F64(), iss.bstar);
  EXPECT_EQ(ar.U32(), 2927u / 10);  // element set number, columns 65-68
  EXPECT_EQ(ar.F64(), iss.eccentricity);
  EXPECT_DOUBLE_EQ(ar.F64(), 8264.51782528);
  EXPECT_EQ(ar.F64(), iss.epoch_julian);
  EXPECT_EQ(ar.String(), "ISS");
  EXPECT_EQ(ar.U32(), 25544u);
  EXPECT_DOUBLE_EQ(ar.F64(), 130.5360 * 0.017453292519943295);  // argument of perigee
  EXPECT_DOUBLE_EQ(ar.F64(), 51.6416 * 0.017453292519943295);   // inclination
  EXPECT_DOUBLE_EQ(ar.F64(), 325.0288 * 0.017453292519943295);  // mean anomaly
  EXPECT_DOUBLE_EQ(ar.F64(), 15.72125391 * 0.004363323129985824);
  EXPECT_DOUBLE_EQ(ar.F64(), 247.4627 * 0.017453292519943295);  // right ascension
  EXPECT_EQ(ar.U32(), 0u);          // the item's shown flag
  EXPECT_EQ(ar.U32(), iss.color);
  EXPECT_EQ(ar.U32(), 1u);          // the record's shown flag
  EXPECT_EQ(ar.String(), iss.icon_path);  // not under this program folder: whole

  // The second satellite's icon under the program folder is stored without it; the one elsewhere
  // stays whole. Both read back as they were.
  const std::string text(bytes->begin(), bytes->end());
  EXPECT_NE(text.find("images/sat3.png"), std::string::npos);
  EXPECT_EQ(text.find(kProgramDir), std::string::npos);
  CSatFolderItem loaded;
  ASSERT_EQ(LoadSatLibrary(path, "", kProgramDir, &loaded), SatLibraryLoad::kOk);
  EXPECT_EQ(SerializeSatLibrary(kProgramDir, loaded), *bytes);
  auto& visual = static_cast<CSatFolderItem&>(*loaded.Children()[0]);
  EXPECT_EQ(static_cast<CSatelliteItem&>(*visual.Children()[1]).Record().icon_path,
            std::string(kProgramDir) + "images/sat3.png");
  EXPECT_EQ(static_cast<CSatelliteItem&>(*loaded.Children()[1]).Record().icon_path, "/elsewhere/own.png");
  EXPECT_EQ(static_cast<CSatelliteItem&>(*loaded.Children()[1]).Text(), "卫星甲");
  // States are 0, 1 or 3 after loading, not counts of shown children.
  EXPECT_EQ(visual.State(), kSatStateSome);
  EXPECT_EQ(static_cast<CSatFolderItem&>(*visual.Children()[3]).State(), kSatStateAll);
  EXPECT_EQ(loaded.State(), kSatStateSome);
}

TEST(SatLibraryFile, MissingFileIsSeededFromTheProgramCopyWhenOneShips) {
  test::TempDir dir;
  CSatFolderItem root;
  EXPECT_EQ(LoadSatLibrary(dir.File("data/obs.db"), dir.File("program/obs.db"), kProgramDir, &root),
            SatLibraryLoad::kMissing);
  EXPECT_TRUE(root.Children().empty());
  Fill(&root);
  ASSERT_TRUE(SaveSatLibrary(dir.File("program/obs.db"), kProgramDir, root));
  CSatFolderItem seeded;
  EXPECT_EQ(LoadSatLibrary(dir.File("data/obs.db"), dir.File("program/obs.db"), kProgramDir, &seeded),
            SatLibraryLoad::kSeeded);
  EXPECT_EQ(seeded.Children().size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(dir.File("data/obs.db")));
}

// Loads `bytes` as the library file: the tree must come out empty and the file set aside whole.
void ExpectSetAside(const test::TempDir& dir, const std::vector<uint8_t>& bytes, const std::string& what) {
  const std::string path = dir.File("obs.db");
  std::filesystem::remove(path + ".damaged");
  ASSERT_TRUE(WriteFileAtomic(path, bytes));
  CSatFolderItem root;
  root.Add(std::make_unique<CSatFolderItem>("left over"));
  ASSERT_EQ(LoadSatLibrary(path, "", kProgramDir, &root), SatLibraryLoad::kSetAside) << what;
  EXPECT_TRUE(root.Children().empty()) << what;
  EXPECT_FALSE(std::filesystem::exists(path)) << what;
  EXPECT_EQ(ReadFileBytes(path + ".damaged"), bytes) << what;
}

TEST(SatLibraryFile, DamagedFilesAreSetAsideAndTheLibraryStartsEmpty) {
  test::TempDir dir;
  CSatFolderItem root;
  Fill(&root);
  const std::vector<uint8_t> good = SerializeSatLibrary(kProgramDir, root);

  std::vector<uint8_t> other = good;
  other[0] = 36;
  ExpectSetAside(dir, other, "schema 36");
  // Cut at every byte: the reader refuses each (in memory, the library left empty); a few of them
  // go through the file as well.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    const std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
    CSatFolderItem partial;
    ArchiveReader ar(part);
    EXPECT_THROW(DeserializeSatLibrary(ar, kProgramDir, &partial), ArchiveError) << "cut at " << cut;
    EXPECT_TRUE(partial.Children().empty()) << "cut at " << cut;
    if (cut % 97 == 0 || cut + 1 == good.size()) ExpectSetAside(dir, part, "cut at " + std::to_string(cut));
  }

  // A child count far beyond the bytes left is refused before anything is allocated.
  ArchiveWriter huge;
  huge.U32(37);
  huge.String("");
  huge.U32(0x7FFFFFFF);
  huge.U32(1);
  ExpectSetAside(dir, huge.Bytes(), "huge count");
  // An item type that is neither folder nor satellite.
  ArchiveWriter odd;
  odd.U32(37);
  odd.String("");
  odd.U32(1);
  odd.U32(7);
  odd.String("x");
  odd.U32(0);
  ExpectSetAside(dir, odd.Bytes(), "type 7");
  // Folders nested deeper than the bound (each one child folder).
  ArchiveWriter deep;
  deep.U32(37);
  deep.String("");
  for (int i = 0; i < 200; ++i) {
    deep.U32(1);
    deep.U32(0);
    deep.String("f");
  }
  deep.U32(0);
  ExpectSetAside(dir, deep.Bytes(), "nested 200 deep");

  // The next save writes a new file and leaves the damaged one where it was set aside.
  ASSERT_TRUE(SaveSatLibrary(dir.File("obs.db"), kProgramDir, root));
  EXPECT_TRUE(std::filesystem::exists(dir.File("obs.db.damaged")));
  CSatFolderItem again;
  EXPECT_EQ(LoadSatLibrary(dir.File("obs.db"), "", kProgramDir, &again), SatLibraryLoad::kOk);
}

}  // namespace
}  // namespace velmora
