// The map publishing server's protocol helpers without sockets: request framing at every split,
// tile addresses, the date under a foreign locale, the page insertion, the web-file table, the
// log escaping and rotation, byte sizes.
#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/wmts_request.h"
#include "server/wmts_request_log.h"
#include "server/wmts_service.h"
#include "server/wmts_web_files.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

std::vector<std::string> FrameAll(CRequestFramer& framer, std::string_view bytes, std::vector<bool>* closes = nullptr) {
  std::vector<std::string> out;
  framer.Append(bytes);
  for (;;) {
    std::string header;
    bool close_after = false;
    CRequestFramer::State state = framer.Next(&header, &close_after);
    if (state != CRequestFramer::State::kRequest) break;
    out.push_back(header);
    if (closes) closes->push_back(close_after);
  }
  return out;
}

TEST(RequestFramer, GivesTheSameRequestsWhereverTheStreamIsCut) {
  const std::string first = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string second = "POST /b HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
  const std::string third = std::string("GET /c\0d HTTP/1.1\r\n\r\n", 21);
  const std::string stream = first + second + "12345" + third;
  for (size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
    for (size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 7) {
      CRequestFramer framer;
      std::vector<std::string> got = FrameAll(framer, std::string_view(stream).substr(0, cut1));
      for (const std::string& r : FrameAll(framer, std::string_view(stream).substr(cut1, cut2 - cut1))) got.push_back(r);
      for (const std::string& r : FrameAll(framer, std::string_view(stream).substr(cut2))) got.push_back(r);
      ASSERT_EQ(got, (std::vector<std::string>{first, second, third})) << cut1 << " " << cut2;
      EXPECT_FALSE(framer.Partial());
    }
  }
}

TEST(RequestFramer, WaitsForFourBytesAndBoundsTheHeader) {
  CRequestFramer framer(64);
  EXPECT_TRUE(FrameAll(framer, "\r\n\r").empty());
  EXPECT_TRUE(framer.Partial());
  EXPECT_EQ(FrameAll(framer, "\n").size(), 1u);  // a bare blank line is a (bad) request of its own

  CRequestFramer limited(64);
  std::string header;
  bool close_after;
  limited.Append(std::string(63, 'a'));
  EXPECT_EQ(limited.Next(&header, &close_after), CRequestFramer::State::kNeedMore);
  limited.Append("b");
  EXPECT_EQ(limited.Next(&header, &close_after), CRequestFramer::State::kTooLarge);

  // A header that ends exactly at the limit is still taken.
  CRequestFramer exact(64);
  std::string fits = "GET /" + std::string(64 - 9, 'x') + "\r\n\r\n";
  ASSERT_EQ(fits.size(), 64u);
  EXPECT_EQ(FrameAll(exact, fits).size(), 1u);
}

TEST(RequestFramer, BodiesThatCannotBeSkippedCloseAfterTheAnswer) {
  std::vector<bool> closes;
  CRequestFramer chunked;
  auto got = FrameAll(chunked, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", &closes);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(closes[0]);
  closes.clear();
  CRequestFramer huge;
  got = FrameAll(huge, "POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\nGET / HTTP/1.1\r\n\r\n", &closes);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(closes[0]);
  closes.clear();
  CRequestFramer conflicting;
  got = FrameAll(conflicting, "POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", &closes);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(closes[0]);
}

TEST(RequestLine, MethodAndPath) {
  auto line = SplitRequestLine("GET /x/y.js HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->method, "GET");
  EXPECT_EQ(line->path, "/x/y.js");
  line = SplitRequestLine("GET /only");
  EXPECT_EQ(line->path, "/only");
  line = SplitRequestLine("get / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(line->method, "get");  // not "GET": answered 501
  EXPECT_EQ(line->path, "");
  EXPECT_FALSE(SplitRequestLine("GET\r\n\r\n"));
}

TEST(TileAddress, ReadsTheNumbersAfterTheKeys) {
  auto t = ParseTileAddress("/VMRAWMTS?LAYER=35&STYLE=1&TILEMATRIXSET=a&TILEMATRIX=5&FOO=10&BAR=20");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->source, 35);
  EXPECT_EQ(t->zoom, 5);
  EXPECT_EQ(t->row, 10);
  EXPECT_EQ(t->column, 20);
  t = ParseTileAddress("/VMRAWMTS?TILEMATRIX=3&r=&c=x");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->source, 0);  // no LAYER: source 0
  EXPECT_EQ(t->row, 0);     // no digits: 0
  EXPECT_EQ(t->column, 0);
  t = ParseTileAddress("/VMRAWMTS?LAYER=-4&TILEMATRIX=+3&r=-1&c=2");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->source, -4);
  EXPECT_EQ(t->row, -1);
  EXPECT_FALSE(ParseTileAddress("/VMRAWMTS?LAYER=35&TILEROW=1&TILECOL=2"));
  EXPECT_FALSE(ParseTileAddress("/VMRAWMTS?TILEMATRIX=5&TILEROW=1"));
  EXPECT_FALSE(ParseTileAddress("/VMRAWMTS?TILEMATRIX=5&TILEROW=1234567890&TILECOL=1"));
  EXPECT_FALSE(ParseTileAddress("/VMRAWMTS?LAYER=99999999999&TILEMATRIX=5&TILEROW=1&TILECOL=1"));
}

TEST(HttpDate, IsEnglishWhateverTheLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(1700000000), "Tue, 14 Nov 2023 22:13:20 GMT");
  std::setlocale(LC_ALL, saved.c_str());
  if (!german) GTEST_SKIP() << "de_DE.UTF-8 is not installed; checked under the current locale only";
}

TEST(ResponseHeader, HasTheFixedFieldsInOrder) {
  EXPECT_EQ(BuildResponseHeader("200 OK", "Thu, 01 Jan 1970 00:00:00 GMT", 1234, "image/jpeg"),
            "HTTP/1.0 200 OK\r\nDate: Thu, 01 Jan 1970 00:00:00 GMT\r\nServer: VMRA\r\nAccept-Ranges: bytes\r\n"
            "Content-Length: 1234\r\nConnection: Keep-Alive\r\nContent-Type: image/jpeg\r\n\r\n");
}

TEST(OpenLayersPage, ReplacesTheLayerSectionAndKeepsTheClosingMark) {
  const std::string page = "a({\n});\n  old stuff;\n  map.addLayers([old]);\ntail";
  std::vector<PageLayer> layers = {{"O'Brien</script>", 3, false}, {"B", 1, true}};
  std::string out = BuildOpenLayersPage(page, layers);
  EXPECT_EQ(out,
            "a({\n});\nvar wmts_layer0 = new OpenLayers.Layer.WMTS({name: 'B', url: wmtsUrl, layer: '1', "
            "matrixSet: matrixSet,matrixIds: matrixIds, format: 'jpg', style: '1', opacity: 1,isBaseLayer: true, "
            "resolutions :resolutions});var wmts_layer1 = new OpenLayers.Layer.WMTS({name: 'O\\'Brien\\x3c/script>', "
            "url: wmtsUrl, layer: '3', matrixSet: matrixSet,matrixIds: matrixIds, format: 'jpg', style: '1', "
            "opacity: 1,isBaseLayer: false, resolutions :resolutions});\nmap.addLayers([wmts_layer0,wmts_layer1]);\ntail");
  EXPECT_EQ(BuildOpenLayersPage(page, {}), "a({\n});\nmap.addLayers([]);\ntail");
  EXPECT_EQ(BuildOpenLayersPage("no marks here", layers), "no marks here");
  EXPECT_EQ(BuildOpenLayersPage("x});\n no close", layers), "x});\n no close");
}

TEST(WebFiles, TableIsReadWithEveryLengthChecked) {
  auto entry = [](const std::string& name, uint32_t size) {
    std::string e = name;
    e.push_back('\0');
    e.append(reinterpret_cast<const char*>(&size), 4);
    return e;
  };
  CWmtsWebFiles files;
  std::string names = entry("examples/index.htm", 3) + entry("a/B.css", 2) + entry("empty", 0) + entry("x", 1);
  ASSERT_TRUE(files.LoadFromBytes(names + "cut", "abcdeZ"));  // a trailing entry cut short is ignored
  std::string out;
  EXPECT_TRUE(files.GetFile("///examples/index.htm", out));
  EXPECT_EQ(out, "abc");
  EXPECT_TRUE(files.GetFile("a/B.css", out));
  EXPECT_EQ(out, "de");
  EXPECT_FALSE(files.GetFile("a/b.css", out));  // case counts
  EXPECT_FALSE(files.GetFile("empty", out));
  EXPECT_TRUE(files.GetFile("x", out));
  EXPECT_EQ(out, "Z");
  EXPECT_EQ(files.FileCount(), 4u);

  // A size that runs past the data block ends the table there.
  ASSERT_TRUE(files.LoadFromBytes(entry("a", 2) + entry("b", 100) + entry("c", 1), "aaZ"));
  EXPECT_EQ(files.FileCount(), 1u);
  EXPECT_FALSE(files.GetFile("c", out));
  EXPECT_FALSE(files.LoadFromBytes("", "abc"));
  EXPECT_EQ(files.FileCount(), 0u);
}

TEST(RequestLog, EscapesAndStaysBounded) {
  EXPECT_EQ(EscapeLogText(std::string("GET /a\\b\r\nX: \x1b\x7f\0\xe4\r\r\n", 20)),
            "GET /a\\\\b\nX: \\x1B\\x7F\\x00\\xE4\\x0D\n");
  test::TempDir dir;
  CWmtsRequestLog log;
  ASSERT_TRUE(log.Open(dir.File("w.log"), 2000));
  std::string request = "GET / HTTP/1.1\r\n\r\n";
  for (int i = 0; i < 200; ++i) log.WriteRequest(0x0100007F, 1234, request);
  log.WriteResponse("HTTP/1.0 200 OK\r\n\r\n");
  log.Close();
  std::string now = test::ReadTestFile(dir.File("w.log"));
  std::string older = test::ReadTestFile(dir.File("w.log.1"));
  EXPECT_LE(now.size(), 2000u);
  EXPECT_LE(older.size(), 2000u);
  EXPECT_GT(older.size(), 1500u);
  EXPECT_NE(older.find("[127.0.0.1:1234]\nGET / HTTP/1.1\n\n"), std::string::npos);
  EXPECT_NE(now.find("Response\nHTTP/1.0 200 OK\n"), std::string::npos);
  // One long request is written cut, with its length.
  ASSERT_TRUE(log.Open(dir.File("long.log")));
  log.WriteRequest(0, 1, std::string(10000, 'q'));
  log.Close();
  std::string long_log = test::ReadTestFile(dir.File("long.log"));
  EXPECT_LT(long_log.size(), 4200u);
  EXPECT_NE(long_log.find("[... 10000 bytes in all]"), std::string::npos);
}

TEST(ByteSize, ShortTextsOfThreeDigits) {
  EXPECT_EQ(FormatByteSize(0), "0 bytes");
  EXPECT_EQ(FormatByteSize(1023), "1023 bytes");
  EXPECT_EQ(FormatByteSize(1024), "1.00 KB");
  EXPECT_EQ(FormatByteSize(1536), "1.50 KB");
  EXPECT_EQ(FormatByteSize(10 * 1024 * 1024 + 900 * 1024), "10.8 MB");
  EXPECT_EQ(FormatByteSize(123ull << 30), "123 GB");
  EXPECT_LE(FormatByteSize(~0ull).size(), 20u);
  EXPECT_EQ(FormatByteSize(5ull << 32), "20.0 GB");  // past 2^32: no wrap
}

}  // namespace
}  // namespace velmora
