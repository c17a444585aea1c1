// Tiles: HTML error pages recognised (and quota pages told apart), pictures decoded and never
// replaced once held, picture files loaded and saved, the geocoders' status checks, the failure
// counters, and the download list file.
#include "tiles/tile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"
#include "tiles/download_list.h"

namespace velmora {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Picture(int width, int height, Argb colour, ImageType type = ImageType::kPng) {
  CBitmap bitmap;
  EXPECT_TRUE(bitmap.Create(width, height, colour));
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(EncodeImage(bitmap, type, &bytes));
  return bytes;
}

TEST(ErrorPage, RecognisesHtmlAndQuotaPages) {
  auto png = Picture(4, 4, 0xFF102030);
  const std::pair<std::string, int> cases[] = {
      {"<!DOCTYPE html><html><body>Service unavailable</body></html>", DS_FAILED},
      {"\xEF\xBB\xBF \r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD></HTML>", DS_FAILED},
      {"<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"></html>", DS_FAILED},
      {"<html><body><h1>429 Too Many Requests</h1></body></html>", DS_LIMIT},
      {"<html><body>Your daily QUOTA is used up.</body></html>", DS_LIMIT},
      // Not pages: pictures, SVG, JSON, text, nothing.
      {std::string(png.begin(), png.end()), 0},
      {"<svg xmlns=\"http://www.w3.org/2000/svg\"></svg>", 0},
      {"{\"status\":\"OK\"}", 0},
      {"quota exceeded", 0},
      {"", 0},
  };
  for (const auto& [text, state] : cases) {
    auto b = Bytes(text);
    EXPECT_EQ(ErrorPageState(b.data(), b.data() + b.size()), state) << text;
  }
  EXPECT_EQ(ErrorPageState(nullptr, nullptr), 0);

  CImageTile tile(1, 2);
  tile.SetState(DS_DOWNING);
  EXPECT_FALSE(tile.CheckErrorPage(png.data(), png.data() + png.size()));
  EXPECT_EQ(tile.GetState(), DS_DOWNING);
  auto page = Bytes("<html><body>over_query_limit</body></html>");
  EXPECT_TRUE(tile.CheckErrorPage(page.data(), page.data() + page.size()));
  EXPECT_EQ(tile.GetState(), DS_LIMIT);
}

TEST(Tile, FailureCountersCountFailureStatesOnly) {
  CImageTile a(0x12345678, 0x9ABCDEF0), b(0, 0);
  EXPECT_EQ(a.Key(), 0x9ABCDEF012345678ull);
  ResetTileFailureCounts();
  a.SetState(DS_TIMEOUT);
  a.ReportFailure();
  a.ReportFailure();
  b.SetState(DS_NOT_EXIST);
  b.ReportFailure();
  b.SetState(5000);  // a stamp is no failure state and counts nowhere
  b.ReportFailure();
  EXPECT_EQ(TileFailureCount(DS_TIMEOUT), 2u);
  EXPECT_EQ(TileFailureCount(DS_NOT_EXIST), 1u);
  EXPECT_EQ(TileFailureCount(DS_FAILED), 0u);
  EXPECT_EQ(TileFailureCount(99), 0u);
}

TEST(ImageTile, DecodesOnceAndKeepsThePicture) {
  CImageTile tile(1, 2);
  auto garbage = Bytes("\x89PNG\r\n\x1a\n this is not a picture");
  EXPECT_FALSE(tile.SetData(garbage.data(), garbage.size()));
  auto big = Picture(2049, 2048, 0xFF808080);  // larger than any tile
  EXPECT_FALSE(tile.SetData(big.data(), big.size()));
  EXPECT_EQ(tile.GetImage(), nullptr);

  auto red = Picture(256, 256, 0xFFFF0000);
  ASSERT_TRUE(tile.SetData(red.data(), red.size()));
  const CBitmap* image = tile.GetImage();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetPixel(100, 100), 0xFFFF0000u);
  EXPECT_EQ(tile.LoadedImage(), nullptr);  // not loaded yet by state
  tile.SetState(DS_LOADED);
  EXPECT_EQ(tile.LoadedImage(), image);

  // Whoever draws the picture keeps its address: new bytes do not replace it.
  auto blue = Picture(256, 256, 0xFF0000FF);
  EXPECT_FALSE(tile.SetData(blue.data(), blue.size()));
  EXPECT_EQ(tile.GetImage(), image);
  EXPECT_EQ(image->GetPixel(0, 0), 0xFFFF0000u);
}

TEST(ImageTile, LoadsAndSavesPictureFiles) {
  test::TempDir dir;
  auto png = Picture(64, 32, 0xFF336699);
  test::WriteTestFile(dir.File("in.png"), std::string(png.begin(), png.end()));

  CImageTile tile(dir.File("in.png"));
  EXPECT_EQ(tile.GetState(), DS_LOADED);
  ASSERT_TRUE(tile.Save(dir.File("out.bmp")));
  CBitmap back;
  ASSERT_TRUE(LoadImageFile(dir.File("out.bmp"), &back));
  EXPECT_EQ(back.Width(), 64);
  EXPECT_EQ(back.Height(), 32);
  EXPECT_EQ(back.GetPixel(10, 10), 0xFF336699u);
  EXPECT_FALSE(tile.Save(dir.File("out.xyz")));  // no encoder for that extension

  test::WriteTestFile(dir.File("bad.png"), "not a picture");
  CImageTile bad(dir.File("bad.png"));
  EXPECT_EQ(bad.GetState(), DS_FAILED);
  EXPECT_FALSE(bad.Save(dir.File("x.png")));
  EXPECT_EQ(CImageTile(dir.File("none.png")).GetState(), DS_FAILED);
}

TEST(GeocodeReply, StatusChecks) {
  const std::pair<const char*, bool> spaced[] = {
      {"{ \"results\" : [], \"status\" : \"OK\" }", true},
      {"{ \"results\" : [], \"status\" : \"ZERO_RESULTS\" }", true},
      {"{ \"status\" : \"REQUEST_DENIED\" }", false},
      // The last status of the reply counts.
      {"{ \"x\" : { \"status\" : \"DENIED\" }, \"status\" : \"OK\" }", true},
      {"{ \"status\" : \"OK\" , \"status\" : \"INVALID\" }", false},
      {"{ \"status\" : \"OK", false},        // no closing quote
      {"{ \"status\":\"OK\" }", false},      // compact form is not this service's
      {"", false},
  };
  for (const auto& [text, ok] : spaced) {
    auto b = Bytes(text);
    EXPECT_EQ(CGeocodeReply::CheckStatusSpaced(b.data(), b.size()).ok, ok) << text;
  }
  auto limit = Bytes("{ \"status\" : \"OVER_QUERY_LIMIT\" }");
  CGeocodeReply::Check check = CGeocodeReply::CheckStatusSpaced(limit.data(), limit.size());
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.state, DS_LIMIT);

  auto compact = Bytes("{\"status\":\"OK\",\"results\":[]}");
  EXPECT_TRUE(CGeocodeReply::CheckStatusCompact(compact.data(), compact.size()).ok);
  auto compact_limit = Bytes("{\"status\":\"OVER_QUERY_LIMIT\"}");
  EXPECT_EQ(CGeocodeReply::CheckStatusCompact(compact_limit.data(), compact_limit.size()).state, DS_LIMIT);
  auto no_brace = Bytes("\"status\":\"OK\"");
  EXPECT_FALSE(CGeocodeReply::CheckStatusCompact(no_brace.data(), no_brace.size()).ok);
  auto amp = Bytes("AMa");
  EXPECT_FALSE(CGeocodeReply::CheckPoiStatus(amp.data(), amp.size()).ok);
  EXPECT_FALSE(CGeocodeReply::CheckReply(1, compact.data(), compact.size()).ok);
}

TEST(GeocodeReply, ParseReplySetsTheStateOfFailures) {
  // (Replies that pass, and quota replies, travel through the tile manager's tests.)
  auto key = [](int source) { return MakeTileKey(0, 0, source * kZoomsPerSource); };
  CGeocodeReply google(TileKeyLow(key(8)), TileKeyHigh(key(8)));
  google.SetState(DS_DOWNING);
  auto text = Bytes("plain words");  // neither JSON nor a page: failure, state left alone
  EXPECT_FALSE(google.ParseReply(text.data(), text.size()));
  EXPECT_EQ(google.GetState(), DS_DOWNING);
  auto page = Bytes("<html><body>Bad gateway</body></html>");
  EXPECT_FALSE(google.ParseReply(page.data(), page.size()));
  EXPECT_EQ(google.GetState(), DS_FAILED);

  CGeocodeReply poi(TileKeyLow(key(112)), TileKeyHigh(key(112)));
  auto amap = Bytes("AMap{}");
  EXPECT_TRUE(poi.ParseReply(amap.data(), amap.size()));
  CGeocodeReply other(TileKeyLow(key(3)), TileKeyHigh(key(3)));  // not a geocoder
  auto ok = Bytes("{ \"status\" : \"OK\" }");
  EXPECT_FALSE(other.ParseReply(ok.data(), ok.size()));
}

TEST(DownloadList, RoundTripAndDamagedFiles) {
  test::TempDir dir;
  const std::string path = dir.File("kovra.udl");
  std::vector<TileKey> keys;
  EXPECT_EQ(ReadDownloadList(path, &keys), ArchiveLoad::kMissing);

  std::vector<TileKey> written = {MakeTileKey(1, 2, 3), 0xFFFFFFFFFFFFFFFFull, 0, MakeTileKey(5, 6, 7 * 23 + 9)};
  ASSERT_TRUE(WriteDownloadList(path, written));
  EXPECT_EQ(test::ReadTestFile(path).size(), 4u + 4u + 8u * written.size());
  ASSERT_EQ(ReadDownloadList(path, &keys), ArchiveLoad::kOk);
  EXPECT_EQ(keys, written);

  // Every damaged form is refused whole: no partial list is resumed.
  std::string good = test::ReadTestFile(path);
  std::string huge_count = good;
  huge_count[4] = '\xFF';
  huge_count[5] = '\xFF';
  std::string bad_schema = good;
  bad_schema[0] = 7;
  for (const std::string& bytes : {good.substr(0, good.size() - 3), good + "x", huge_count, bad_schema,
                                   std::string("\x01\x00", 2)}) {
    test::WriteTestFile(path, bytes);
    keys = {1, 2};
    std::string error;
    EXPECT_EQ(ReadDownloadList(path, &keys, &error), ArchiveLoad::kDamaged) << bytes.size();
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace velmora
