// Address libraries built from stores of recorded geocoder replies: the paths each geocoder's
// replies give, the library file saved and read back, missing and damaged files, a stopped
// rebuild, hostile replies sent to their error files, and the region export read back from the
// text and spreadsheet files.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "core/format.h"
#include "exchange/excel_auto.h"
#include "places/address_library.h"
#include "places_test_util.h"
#include "platform/text.h"
#include "support/isolated_folders.h"
#include "tiles/tile_key.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

using test::Recorded;

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

// Every path of the tree from the root, widest name first, "/" between names, with the position
// of its last record.
void Paths(const CAddressRecord& node, const std::string& prefix, std::map<std::string, const CAddressRecord*>* out) {
  for (const auto& [key, child] : node.Children()) {
    const std::string path = prefix.empty() ? key : prefix + "/" + key;
    (*out)[path] = child.get();
    Paths(*child, path, out);
  }
}

std::map<std::string, const CAddressRecord*> Paths(const CAddressRecord& root) {
  std::map<std::string, const CAddressRecord*> out;
  Paths(root, "", &out);
  return out;
}

bool SameTree(const CAddressRecord& a, const CAddressRecord& b) {
  if (a.lng != b.lng || a.lat != b.lat || a.zoom != b.zoom || a.serial != b.serial ||
      a.ChildCount() != b.ChildCount())
    return false;
  for (const auto& [key, child] : a.Children()) {
    const CAddressRecord* other = b.FindChild(key);
    if (!other || !SameTree(*child, *other)) return false;
  }
  return true;
}

class AddressLibraryTest : public ::testing::Test {
 protected:
  // A store of geocoder `id` holding the replies at tiles (i, 0) of level 12.
  CTileStore& StoreOf(int id, const std::vector<std::string>& replies) {
    store = std::make_unique<CTileStore>(dir.File(std::to_string(id) + "."));
    EXPECT_TRUE(store->Open(true));
    for (size_t i = 0; i < replies.size(); ++i) {
      const TileKey key = MakeTileKey(static_cast<int>(i), 0, TileKeyValue(id, 12));
      EXPECT_EQ(store->Write(key, replies[i].data(), replies[i].size(), false), TileWriteResult::kWritten);
    }
    return *store;
  }
  LibraryScanHooks Hooks() const {
    LibraryScanHooks hooks;
    hooks.work_dir = dir.File("work/");
    return hooks;
  }
  test::TempDir dir;
  std::unique_ptr<CTileStore> store;
};

TEST_F(AddressLibraryTest, EachGeocodersRepliesGiveTheirPaths) {
  {
    CAddressRecord root("root");
    LibraryScan scan = RebuildAddressLibrary(StoreOf(8, {Recorded("geocoder_qingdao.json")}), 8, root, Hooks());
    EXPECT_TRUE(scan.completed);
    EXPECT_EQ(scan.parsed, 1u);
    auto paths = Paths(root);
    ASSERT_TRUE(paths.count("中国/山东省/青岛市/市南区/香港中路/12号"));
    ASSERT_TRUE(paths.count("中国/山东省/青岛市/崂山区"));
    EXPECT_EQ(paths.size(), 7u) << "no postal code";
    const CAddressRecord* street = paths["中国/山东省/青岛市/市南区/香港中路/12号"];
    EXPECT_DOUBLE_EQ(street->lng, 120.3826);
    EXPECT_DOUBLE_EQ(street->lat, 36.0662);
    EXPECT_EQ(street->zoom, 11);  // from the bounds 0.5 × 0.25 degree
    // Names created on the way carry the first result's position that made them.
    EXPECT_DOUBLE_EQ(paths["中国"]->lng, 120.3826);
  }
  {
    CAddressRecord root("root");
    RebuildAddressLibrary(StoreOf(111, {Recorded("reverse_geocode.json"), Recorded("reverse_geocode_sparse.json")}), 111,
                          root, Hooks());
    auto paths = Paths(root);
    std::set<std::string> names;
    for (const auto& [path, record] : paths) names.insert(path);
    EXPECT_EQ(names, (std::set<std::string>{"山东省", "山东省/青岛市", "山东省/青岛市/市南区",
                                            "山东省/青岛市/市南区/香港中路", "山东省/青岛市/市南区/香港中路/12号",
                                            "山东省/青岛市/市南区/五四广场", "山东省/青岛市/市南区/青岛市政府"}));
    const CAddressRecord* square = paths["山东省/青岛市/市南区/五四广场"];
    EXPECT_DOUBLE_EQ(square->lng, 120.385101);
    EXPECT_DOUBLE_EQ(square->lat, 36.062304);
    EXPECT_EQ(square->zoom, 12);  // the level of the tile it was fetched for
    // The sparse reply (city and province only) ends at the city, which takes its position.
    EXPECT_DOUBLE_EQ(paths["山东省/青岛市"]->lng, 120.301);
  }
  {
    CAddressRecord root("root");
    LibraryScan scan = RebuildAddressLibrary(StoreOf(112, {Recorded("poi_search.txt"), Recorded("poi_no_amap.txt")}), 112,
                                             root, Hooks());
    auto paths = Paths(root);
    ASSERT_EQ(paths.size(), 2u);  // single names go under the root
    EXPECT_DOUBLE_EQ(paths["鲁迅公园"]->lng, 120.333031);
    EXPECT_DOUBLE_EQ(paths["鲁迅公园"]->lat, 36.058712);
    EXPECT_DOUBLE_EQ(paths["小青岛公园"]->lat, 36.056202);
    EXPECT_EQ(scan.parsed + scan.unparsed, 2u);
  }
}

TEST_F(AddressLibraryTest, TheLibraryFileReadsBackAsSavedAndBadFilesChangeNothing) {
  CAddressRecord root("root");
  RebuildAddressLibrary(StoreOf(8, {Recorded("geocoder_qingdao.json"), Recorded("geocoder_jinan.json")}), 8, root,
                        Hooks());
  const std::string path = AddressLibraryPath(8, dir.path());
  EXPECT_EQ(path, dir.File("8.adr"));
  ASSERT_TRUE(SaveAddressLibrary(path, root));
  CAddressRecord loaded("root");
  ASSERT_EQ(LoadAddressLibrary(path, loaded), LibraryLoad::kLoaded);
  EXPECT_TRUE(SameTree(root, loaded));
  EXPECT_GT(Paths(loaded).size(), 7u);

  // A missing file: the root alone.
  CAddressRecord empty("root");
  EXPECT_EQ(LoadAddressLibrary(dir.File("111.adr"), empty), LibraryLoad::kMissing);
  EXPECT_EQ(empty.ChildCount(), 0u);
  // A truncated file is refused and the tree read before stays.
  std::string bytes = test::ReadTestFile(path);
  test::WriteTestFile(dir.File("cut.adr"), bytes.substr(0, bytes.size() - 3));
  EXPECT_EQ(LoadAddressLibrary(dir.File("cut.adr"), loaded), LibraryLoad::kDamaged);
  EXPECT_TRUE(SameTree(root, loaded));
}

TEST_F(AddressLibraryTest, AStoppedRebuildSaysSo) {
  CTileStore& s = StoreOf(112, {Recorded("poi_search.txt"), Recorded("poi_search.txt"), Recorded("poi_search.txt")});
  CAddressRecord root("root");
  LibraryScanHooks hooks = Hooks();
  int asked = 0;
  hooks.stop = [&] { return ++asked > 2; };
  std::vector<uint64_t> progress;
  hooks.progress = [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(total, 3u);
    progress.push_back(done);
  };
  LibraryScan scan = RebuildAddressLibrary(s, 112, root, hooks);
  EXPECT_FALSE(scan.completed);
  EXPECT_EQ(progress, (std::vector<uint64_t>{1, 2}));
}

TEST_F(AddressLibraryTest, HostileRepliesAreSafeAndGoToTheirErrorFiles) {
  // Every cut of every recorded reply reads or is refused without reading outside it.
  const std::pair<int, std::string> replies[] = {{8, Recorded("geocoder_qingdao.json")},
                                                  {111, Recorded("reverse_geocode.json")},
                                                  {112, Recorded("poi_search.txt")}};
  for (const auto& [id, reply] : replies) {
    for (size_t cut = 0; cut <= reply.size(); ++cut) {
      CAddressGroup group;
      CAddressItem item;
      const std::string part = reply.substr(0, cut);  // its own allocation: ASan sees any overread
      ParseLibraryReply(id, part, 5, group, item);
      ASSERT_EQ(group.paths.size(), item.records.size());
      for (const auto& path : group.paths) {
        ASSERT_FALSE(path.empty());
        for (const std::string& name : path) EXPECT_TRUE(IsValidUtf8(name));
      }
    }
  }
  // A large reply of NUL bytes and noise and a reply cut short are unparsable: their bytes go to
  // "Error <key>-<index>.htm" with the whole 64-bit key.
  std::string noise(300 * 1024, '\0');
  for (size_t i = 0; i < noise.size(); i += 7) noise[i] = static_cast<char>("{\"result\":"[i % 10]);
  const std::string cut = Recorded("reverse_geocode.json").substr(0, 8);
  CTileStore& s = StoreOf(111, {noise, Recorded("reverse_geocode.json"), cut});
  CAddressRecord root("root");
  LibraryScan scan = RebuildAddressLibrary(s, 111, root, Hooks());
  EXPECT_TRUE(scan.completed);
  EXPECT_EQ(scan.parsed, 1u);
  EXPECT_EQ(scan.unparsed, 2u);
  const TileKey key0 = MakeTileKey(0, 0, TileKeyValue(111, 12));
  const TileKey key2 = MakeTileKey(2, 0, TileKeyValue(111, 12));
  ASSERT_GT(key0, uint64_t{1} << 32);
  EXPECT_EQ(UnparsedReplyPath(dir.File("work/"), key0, 0),
            dir.File("work/") + "Error " + std::to_string(key0) + "-0.htm");
  // The store lists keys in ascending order: the index follows it.
  std::vector<uint64_t> keys = s.GetKeys();
  const uint64_t index0 = std::find(keys.begin(), keys.end(), key0) - keys.begin();
  const uint64_t index2 = std::find(keys.begin(), keys.end(), key2) - keys.begin();
  EXPECT_EQ(test::ReadTestFile(UnparsedReplyPath(dir.File("work/"), key0, index0)), noise);
  EXPECT_EQ(test::ReadTestFile(UnparsedReplyPath(dir.File("work/"), key2, index2)), cut);
  EXPECT_EQ(Paths(root).size(), 7u);
}

TEST_F(AddressLibraryTest, ExportsHoldExactlyThePlacesInsideTheRegion) {
  CTileStore& s = StoreOf(111, {Recorded("reverse_geocode.json"), Recorded("reverse_geocode.json"),
                                Recorded("reverse_geocode_sparse.json")});
  // Around the city centre: the street and the square, not the city hall (36.067098 north of
  // it) nor the sparse reply's city (120.301 west of it).
  const ExportBox box{120.38, 36.067, 120.39, 36.06};
  std::vector<ExportPlace> places;
  LibraryScan scan = CollectExportPlaces(s, 111, box, Hooks(), &places);
  EXPECT_TRUE(scan.completed);
  const std::vector<ExportPlace> expected = {
      {120.383512, 36.066213, "山东省青岛市市南区香港中路12号"},
      {120.385101, 36.062304, "山东省青岛市市南区五四广场"},
  };
  ASSERT_EQ(places, expected) << "each place once, in the order met";

  ASSERT_TRUE(WriteExportText(dir.File("out.txt"), places));
  const std::string text = test::ReadTestFile(dir.File("out.txt"));
  EXPECT_EQ(AnsiToUtf8(text),
            "120.383512,36.066213 : 山东省青岛市市南区香港中路12号\r\n"
            "120.385101,36.062304 : 山东省青岛市市南区五四广场\r\n");
  EXPECT_NE(text.find(Utf8ToAnsi("五四广场")), std::string::npos) << "GBK in the file";

  std::string saved;
  ASSERT_TRUE(WriteExportSheet(dir.File("out.xls"), places, &saved));
  EXPECT_EQ(saved, dir.File("out.xlsx"));
  CExcelAuto book;
  ASSERT_TRUE(book.Open(saved)) << book.LastError();
  ASSERT_EQ(book.GetRowCount(), 3);
  EXPECT_EQ(book.GetData(0, 0), "序号");
  EXPECT_EQ(book.GetData(0, 1), "经度");
  EXPECT_EQ(book.GetData(0, 2), "纬度");
  EXPECT_EQ(book.GetData(0, 3), "名称");
  for (int r = 1; r <= 2; ++r) {
    EXPECT_EQ(book.GetData(r, 0), std::to_string(r));
    EXPECT_DOUBLE_EQ(std::stod(book.GetData(r, 1)), expected[r - 1].lng);
    EXPECT_DOUBLE_EQ(std::stod(book.GetData(r, 2)), expected[r - 1].lat);
    EXPECT_EQ(book.GetData(r, 3), expected[r - 1].name);
  }
}

}  // namespace
}  // namespace velmora
