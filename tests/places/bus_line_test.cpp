// Bus lines: the files byte for byte against bytes laid out here by hand, damaged files set
// aside and never written over, the page's answers, and the station searches by rectangle,
// radius (metres) and name.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "places/bus_line.h"
#include "platform/fs.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

// Little-endian bytes laid out by hand.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& U16(uint16_t v) { return Raw(&v, 2); }
  Bytes& U32(uint32_t v) { return Raw(&v, 4); }
  Bytes& F32(float v) { return Raw(&v, 4); }
  Bytes& Str(const std::string& ascii) {
    b.push_back(static_cast<uint8_t>(ascii.size()));
    return Raw(ascii.data(), ascii.size());
  }
  Bytes& Raw(const void* p, size_t n) {
    b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return *this;
  }
};

CBusLine Line(const std::string& name, float dx = 0, float dy = 0) {
  CBusLine l;
  l.name = name;
  l.lng_offset = dx;
  l.lat_offset = dy;
  l.stations = {{"A", 120.0f, 36.0f}, {"B", 120.01f, 36.0f}};
  l.points = {{120.0f, 36.0f}, {120.005f, 36.001f}, {120.01f, 36.0f}};
  return l;
}

TEST(BusFiles, CityAndIndexFilesByteForByte) {
  test::TempDir dir;
  CBusLineStore store(dir.path());
  ASSERT_TRUE(store.SaveCity(3, {Line("1路", 0.5f, -0.25f)}));
  EXPECT_EQ(store.CityFilePath(3), dir.File("3.bl"));
  // "1路" in GBK is 31 C2 B7.
  Bytes city;
  city.U32(1).b.insert(city.b.end(), {3, 0x31, 0xC2, 0xB7});
  city.F32(0.5f).F32(-0.25f).U32(2).Str("A").F32(120.0f).F32(36.0f).Str("B").F32(120.01f).F32(36.0f);
  city.U32(3).F32(120.0f).F32(36.0f).F32(120.005f).F32(36.001f).F32(120.01f).F32(36.0f);
  EXPECT_EQ(*ReadFileBytes(dir.File("3.bl")), city.b);
  std::vector<CBusLine> back;
  ASSERT_EQ(store.LoadCity(3, &back), CBusLineStore::Load::kOk);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], Line("1路", 0.5f, -0.25f));

  CBusCity qd;
  qd.name = "qd";
  qd.line_names = {"1", "22"};
  qd.file_number = 3;
  CBusCity jn;
  jn.name = "jn";
  jn.file_number = 0;
  ASSERT_TRUE(store.SaveIndex({qd, jn}, 1));
  Bytes index;
  index.U32(2).U32(1).U16(2).Str("1").Str("22").Str("qd").U32(3).U16(0).Str("jn").U32(0);
  EXPECT_EQ(*ReadFileBytes(dir.File("-1.bl")), index.b);
  std::vector<CBusCity> cities;
  uint32_t current = 9;
  ASSERT_EQ(store.LoadIndex(&cities, &current), CBusLineStore::Load::kOk);
  EXPECT_EQ(current, 1u);
  ASSERT_EQ(cities.size(), 2u);
  EXPECT_EQ(cities[0], qd);
  EXPECT_EQ(CBusLineStore::NewFileNumber(cities), 4u);

  // Display settings: five u32 then the text style.
  BusLineDisplay d;
  d.line_width = 5;
  d.show_names = false;
  d.name_style.color = 0xFF112233u;
  ASSERT_TRUE(store.SaveDisplay(d));
  auto bytes = *ReadFileBytes(dir.File("busline.dat"));
  uint32_t head[5];
  ASSERT_GE(bytes.size(), sizeof head);
  std::memcpy(head, bytes.data(), sizeof head);
  EXPECT_EQ(head[0], d.line_color);
  EXPECT_EQ(head[1], 5u);
  EXPECT_EQ(head[2], 0u);
  EXPECT_EQ(head[3], d.dot_color);
  EXPECT_EQ(head[4], d.dot_width);
  BusLineDisplay read;
  ASSERT_EQ(store.LoadDisplay(&read), CBusLineStore::Load::kOk);
  EXPECT_EQ(read, d);
}

TEST(BusFiles, LongStringArraysUseTheWideCount) {
  ArchiveWriter w;
  std::vector<std::string> many(0xFFFF, "x");
  WriteStringArray(w, many);
  ASSERT_EQ(w.Bytes().size(), 2 + 4 + 0xFFFFu * 2);
  EXPECT_EQ(w.Bytes()[0], 0xFF);
  EXPECT_EQ(w.Bytes()[1], 0xFF);
  ArchiveReader r(w.Bytes());
  EXPECT_EQ(ReadStringArray(r).size(), 0xFFFFu);
  EXPECT_TRUE(r.AtEnd());
}

TEST(BusFiles, DamagedFilesAreSetAsideAndNeverWrittenOver) {
  Bytes good;
  good.U32(1).U32(0).U16(0).Str("qd").U32(2);
  const std::vector<std::vector<uint8_t>> damaged = {
      Bytes().U32(1).U32(1).U16(0).Str("qd").U32(2).b,           // current index beyond the cities
      Bytes().U32(1000).U32(0).U16(0).Str("qd").U32(2).b,        // count beyond the bytes left
      Bytes().U32(1).U32(0).U16(0).Str("qd").U32(0xFFFFFFFF).b,  // the index's own number
      Bytes().U32(1).U32(0).U16(500).Str("qd").U32(2).b,         // line names beyond the bytes
      [&] { auto b = good.b; b.push_back(0); return b; }(),      // bytes after the last city
      std::vector<uint8_t>(good.b.begin(), good.b.end() - 2),    // cut short
  };
  for (size_t i = 0; i < damaged.size(); ++i) {
    test::TempDir dir;
    CBusLineStore store(dir.path());
    ASSERT_TRUE(WriteFileAtomic(store.IndexPath(), damaged[i]));
    std::vector<CBusCity> cities;
    uint32_t current = 0;
    EXPECT_EQ(store.LoadIndex(&cities, &current), CBusLineStore::Load::kDamaged) << i;
    EXPECT_TRUE(cities.empty());
    EXPECT_EQ(*ReadFileBytes(store.IndexPath() + ".damaged"), damaged[i]) << i;
    // A new index may be written now; the damaged bytes stay beside it.
    CBusCity c;
    c.name = "new";
    EXPECT_TRUE(store.SaveIndex({c}, 0));
    EXPECT_EQ(*ReadFileBytes(store.IndexPath() + ".damaged"), damaged[i]);
  }
  // City files: a station count beyond the bytes, a NaN coordinate.
  test::TempDir dir;
  CBusLineStore store(dir.path());
  Bytes city;
  city.U32(1).Str("x").F32(0).F32(0).U32(70000);
  ASSERT_TRUE(WriteFileAtomic(store.CityFilePath(5), city.b));
  std::vector<CBusLine> lines;
  EXPECT_EQ(store.LoadCity(5, &lines), CBusLineStore::Load::kDamaged);
  Bytes nan;
  nan.U32(1).Str("x").F32(std::nanf("")).F32(0).U32(0).U32(0);
  ASSERT_TRUE(WriteFileAtomic(store.CityFilePath(6), nan.b));
  EXPECT_EQ(store.LoadCity(6, &lines), CBusLineStore::Load::kDamaged);
  EXPECT_EQ(store.LoadCity(7, &lines), CBusLineStore::Load::kMissing);
  // No city may be saved under the index's number, nor an index pointing past its cities.
  EXPECT_FALSE(store.SaveCity(0xFFFFFFFFu, {}));
  CBusCity bad;
  bad.file_number = 0xFFFFFFFFu;
  EXPECT_FALSE(store.SaveIndex({bad}, 0));
  EXPECT_FALSE(store.SaveIndex({}, 1));
}

TEST(BusAnswers, RecordsFieldsPairsAndStations) {
  auto lines = ParseBusAnswer(
      "1路:120.1,36.1;120.2,36.2;bad;120.3,95:站一,120.1,36.1;站二,120.2,36.2;坏,x,1\r\n"
      "\n"
      ":1,2\n"
      "2路\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].name, "1路");
  ASSERT_EQ(lines[0].points.size(), 2u);  // "bad" and a latitude of 95 dropped
  EXPECT_FLOAT_EQ(lines[0].points[1].x, 120.2f);
  ASSERT_EQ(lines[0].stations.size(), 2u);
  EXPECT_EQ(lines[0].stations[1].name, "站二");
  EXPECT_FLOAT_EQ(lines[0].stations[1].lat, 36.2f);
  EXPECT_EQ(lines[1].name, "2路");
  EXPECT_TRUE(lines[1].points.empty());
}

TEST(BusSearch, RectangleRadiusAndName) {
  std::vector<CBusLine> lines = {Line("1路"), Line("2路", 1.0f, 0.0f)};
  auto q = ParseStationQuery(FormatRectQuery(119.9, 36.1, 120.005, 35.9));
  ASSERT_EQ(q.kind, StationQuery::Kind::kRect);
  auto hits = SearchStations(lines, q);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].line, "1路");
  EXPECT_EQ(hits[0].station.name, "A");

  // 0.01° of longitude at 36° N is about 900 m: 1000 m reaches both stations of line 1 from A;
  // line 2 lies a degree east (its offset counts).
  q = ParseStationQuery(FormatRadiusQuery(120.0, 36.0, 1000));
  ASSERT_EQ(q.kind, StationQuery::Kind::kRadius);
  EXPECT_EQ(SearchStations(lines, q).size(), 2u);
  q = ParseStationQuery(FormatRadiusQuery(120.0, 36.0, 500));
  EXPECT_EQ(SearchStations(lines, q).size(), 1u);
  q = ParseStationQuery("(121.0,36.0:10)");
  hits = SearchStations(lines, q);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].line, "2路");
  EXPECT_FLOAT_EQ(hits[0].station.lng, 121.0f);

  q = ParseStationQuery("B");
  EXPECT_EQ(q.kind, StationQuery::Kind::kName);
  EXPECT_EQ(SearchStations(lines, q).size(), 2u);
  EXPECT_TRUE(SearchStations(lines, ParseStationQuery("")).empty());
  EXPECT_EQ(ParseStationQuery("(1,2)-(3,x)").kind, StationQuery::Kind::kName);
  EXPECT_EQ(ParseStationQuery("(1,2:-5)").kind, StationQuery::Kind::kName);
}

}  // namespace
}  // namespace velmora
