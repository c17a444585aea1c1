// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) with the program's own
// writers, so that each target starts from well-formed files of its format and a few damaged
// ones. Run by hand when a format changes: fuzz_seed_corpus <fuzz/corpus folder>. The files are
// small (a few kilobytes at most) and committed.
#include "velmora_build_paths.h"
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/archive.h"
#include "core/scrambled_data.h"
#include "core/settings.h"
#include "fuzz_support.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/fs.h"
#include "platform/sound/wave_file.h"
#include "platform/text.h"
#include "server/wmts_server.h"
#include "terrain/dem_files.h"
#include "server/wmts_service.h"
#include "tiles/download_list.h"
#include "tiles/tile_key.h"
#include "tiles/tile_store.h"

using namespace velmora;

namespace {

std::string g_root;

void Seed(const std::string& target, const std::string& name, std::string_view bytes) {
  const std::string folder = g_root + target + "_fuzzer/";
  std::filesystem::create_directories(folder);
  fuzz::WriteFile(folder + name, bytes);
}

// A part of a fuzz::Parts input: its length byte and its bytes (at most 254 of them).
std::string Part(std::string_view bytes) {
  if (bytes.size() > 254) std::abort();
  return std::string(1, static_cast<char>(bytes.size())) + std::string(bytes);
}
// The last part: everything that is left.
std::string Last(std::string_view bytes) { return std::string(1, '\xFF') + std::string(bytes); }

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

void Images() {
  CBitmap image;
  image.Create(5, 3, 0xFF3A6EA5u);
  image.SetPixel(1, 1, 0x80FF0000u);
  image.SetPixel(4, 2, 0x00000000u);
  image.SetProperty(kPropertyMake, "Velmora");
  image.SetProperty(kPropertyCopyright, "测绘");
  for (ImageType type : {ImageType::kBmp, ImageType::kJpeg, ImageType::kGif, ImageType::kTiff, ImageType::kPng}) {
    std::vector<uint8_t> bytes;
    EncodeImage(image, type, &bytes, EncodeOptions{50});
    Seed("image", std::string("small.") + ImageTypeExtension(type), Text(bytes));
    // Cut short in the middle: the decoders must fail cleanly.
    Seed("image", std::string("cut.") + ImageTypeExtension(type), Text(bytes).substr(0, bytes.size() * 2 / 3));
  }
}

void ElementSets() {
  const std::string iss1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
  const std::string iss2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
  const std::string geo1 = "1 28626U 05008A   06176.46683397 -.00000205  00000-0  10000-3 0  2190";
  const std::string geo2 = "2 28626   0.0019 286.9433 0000335  13.7918  55.6504  1.00270176  4891";
  Seed("tle", "iss-crlf.txt", "ISS (ZARYA)\r\n" + iss1 + "\r\n" + iss2 + "\r\n");
  Seed("tle", "two-sets-lf.txt", "ISS\n" + iss1 + "\n" + iss2 + "\nGEO\n" + geo1 + "\n" + geo2);
  Seed("tle", "no-name.txt", iss1 + "\n" + iss2 + "\n");
  Seed("tle", "short-line.txt", "ISS\n" + iss1 + "\n" + iss2.substr(0, 40) + "\n");
}

void Scrambled() {
  Seed("scrambled", "page.kmp", ScrambleBytes("<html><body>页面</body></html>"));
  ScrambledBundle bundle = {{"a/b.txt", "text"}, {"img/dot.png", std::string("\x89PNG\0\0", 6)}, {"空", ""}};
  Seed("scrambled", "bundle.kmp", ScrambleBytes(EncodeBundle(bundle)));
  Seed("scrambled", "bundle.plain", EncodeBundle(bundle));
  const WebFilePair pair = EncodeWebFiles(bundle);
  Seed("scrambled", "web-pair", Part(pair.names) + pair.data);
  Seed("scrambled", "bad-length.kmp", std::string("VKMP\x10\0\0\0short", 13));
}

void Profiles() {
  Seed("registry_profile", "chinese",
       Part("weather") + Part("city") + Part("北京") +
           Last("[weather]\ncity=青岛\n[recent]\nkml=/home/u/地图.kml\n[option]\nzoom=120.500000\n"));
  Seed("registry_profile", "escapes",
       Part("s p]a[c e") + Part(" key=") + Part(std::string("\x01\xC0值\xFF", 6)) +
           Last("\xEF\xBB\xBF; comment\r\n[ option ]\r\n  threads = 12  \r\nodd=\\xC0\\n\\\\\r\n"));
  Seed("registry_profile", "gbk-line",
       Part("weather") + Part("gbk") + Part(Utf8ToAnsi(std::string_view("上海"))) +
           Last("[weather]\ncity=\xC7\xE0\xB5\xBA\ntown=青岛\nbroken=a\xC0\n"));
}

void ArchiveFiles(const std::string& scratch) {
  CAppOptions options;
  options.data_dir = "/home/用户/地图数据/";
  options.download_threads = 8;
  options.dem_source_mode = 4;
  const std::string opt = scratch + "kovra0.opt";
  options.Save(opt);
  Seed("archive_files", "kovra0.opt", fuzz::ReadFile(opt));

  CProfileStore store;
  store.SetInt("整数", -5);
  store.SetString("text", "天穹卫星");
  store.SetIntPair("pair", {3, 4});
  store.SetPoint3D("p3", {1.5, -2.5, 1e9});
  store.SetBool("flag", true);
  store.SetPointF("pf", {0.5f, 0.25f});
  store.SetFloat("f", 3.5f);
  store.SetDouble("d", 116.391);
  store.SetColor("c", {0xFF112233u});
  CTextStyle style;
  store.SetTextStyle("style", style);
  store.SetIntList("list", {1, 2, 3});
  const std::string reg = scratch + "Kovra0.reg";
  store.Save(reg, true);
  Seed("archive_files", "Kovra0.reg", fuzz::ReadFile(reg));

  const std::string udl = scratch + "kovra.udl";
  WriteDownloadList(udl, {MakeTileKey(3, 5, TileKeyValue(35, 4)), MakeTileKey(0, 0, TileKeyValue(0, 2)), 0x3FFFFull << 46});
  Seed("archive_files", "kovra.udl", fuzz::ReadFile(udl));
  Seed("archive_files", "count-too-large.udl", std::string("\x01\0\0\0\xFF\xFF\xFF\x0F", 8));
}

void TileStore(const std::string& scratch) {
  const std::string base = scratch + "seed.";
  {
    CTileStore store(base);
    store.Open(true);
    for (uint64_t key : {5ull, 1ull << 40, 77ull}) {
      const std::string bytes = "tile " + std::to_string(key);
      store.Write(key, bytes.data(), bytes.size(), false);
    }
    store.Write(5, "newer", 5, false);  // supersedes the first record of key 5
    store.Close();
  }
  const std::string index = fuzz::ReadFile(base + "idx"), data = fuzz::ReadFile(base + "img");
  Seed("tile_store", "indexed", Part(index) + data);
  Seed("tile_store", "no-index", Part("") + data);
  Seed("tile_store", "torn-tail", Part(index) + data + "\x56\x54\x52\x31 torn");
  Seed("tile_store", "index-only", Part(index));
}

void HeightFiles() {
  auto samples = [](size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
      const int16_t h = static_cast<int16_t>(static_cast<int>(i % 700) * 7 - 400);
      bytes.push_back(static_cast<char>(h & 0xFF));
      bytes.push_back(static_cast<char>((h >> 8) & 0xFF));
    }
    return bytes;
  };
  Seed("height_file", "3s-first-row", std::string(1, '\0') + Part("\x10\x80\xF0\x01\x7F\x7F") + samples(6000));
  Seed("height_file", "1s-first-row", std::string(1, '\1') + Part(std::string("\x00\xFF\x80\x80", 4)) + samples(3600));
  Seed("height_file", "coarse-row", std::string(1, '\2') + Part("\x40\x40") + samples(1622));
  Seed("height_file", "odd-size", std::string(1, '\1') + Part("") + "\x01\x02\x03");
}

void WebReplies() {
  Seed("web_reply", "elevation-point",
       "{\n   \"results\" : [\n      {\n         \"elevation\" : 1608.637939453125,\n         \"location\" : {\n"
       "            \"lat\" : 39.73915360,\n            \"lng\" : -104.98470340\n         },\n"
       "         \"resolution\" : 4.771975994110107\n      }\n   ],\n   \"status\" : \"OK\"\n}\n");
  Seed("web_reply", "elevation-path",
       "{\"results\":[{\"elevation\":12.5,\"location\":{\"lat\":30.1,\"lng\":100.2}},"
       "{\"elevation\":-3e2,\"location\":{\"lat\":-30.1,\"lng\":-100.2}}],\"status\":\"OK\"}");
  Seed("web_reply", "over-limit", "{\n   \"results\" : [],\n   \"status\" : \"OVER_QUERY_LIMIT\"\n}\n");
  Seed("web_reply", "geocoder-compact", "{\"status\":\"OK\",\"results\":[{\"formatted_address\":\"北京市\"}]}");
  Seed("web_reply", "html-error", "\xEF\xBB\xBF  <!DOCTYPE html><html><body>Daily quota exceeded</body></html>");
}

void Texts() {
  Seed("text", "gbk", Utf8ToAnsi(std::string_view("端口不可用,请尝试其他!")));
  Seed("text", "dms", "116°23′45.6″");
  Seed("text", "dms-ascii", "-0°30'15\"");
  Seed("text", "number", "  120.5e-3 ");
  Seed("text", "utf8-broken", "北\xE4\xBA京\xC0 ");
}

void Catalogues() {
  const std::string catalogue = fuzz::ReadFile(VELMORA_SOURCE_DIR "/data/map_sources.txt");
  std::string head;
  size_t lines = 0;
  for (size_t pos = 0; pos < catalogue.size() && lines < 50; ++lines) {
    size_t end = catalogue.find('\n', pos);
    if (end == std::string::npos) end = catalogue.size();
    head += catalogue.substr(pos, end + 1 - pos);
    pos = end + 1;
  }
  Seed("catalogue", "head", head);
  Seed("catalogue", "bad-lines",
       "group | 1 | 寰宇地图\ngroup | 99 | x\nsource | 0 | 1 | 1 | A | a | xyz | s | 2 | 20 | h | http://{host}/{z}/{x}/{y}\n"
       "source | 1 | 2 | 1 | B | b | wms | v | 9 | 3 | h | http://{host}?bbox={bbox}\nsource | x\r\n");
  Seed("catalogue", "proxies", "# proxies\n10.0.0.1:8080\nproxy.example.invalid 3128\n; skip\nsocks5://127.0.0.1:1080\n");
}

void Requests() {
  const std::string tile = "GET /VMRAWMTS?LAYER=35&STYLE=1&TILEMATRIXSET=a&TILEMATRIX=4&TILEROW=5&TILECOL=3 HTTP/1.1\r\n"
                           "Host: 127.0.0.1:18080\r\nConnection: keep-alive\r\n\r\n";
  Seed("http_request", "tile", std::string("\x07\x01", 2) + tile);
  Seed("http_request", "pipelined",
       std::string("\x60\x00", 2) + tile + "GET /examples/index.htm HTTP/1.1\r\nHost: x\r\n\r\n" +
           "GET /examples/wmtsinfo.js HTTP/1.0\r\n\r\nGET /styles/site.css HTTP/1.1\r\n\r\n");
  Seed("http_request", "body",
       std::string("\x03\x01", 2) + "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET / HTTP/1.1\r\n\r\n" +
           "GET /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
  Seed("http_request", "bad",
       std::string("\x10\x00", 2) + "GET /VMRAWMTS?LAYER=99999&TILEMATRIX=40&r=1&c=2 HTTP/1.1\r\n\r\nBROKEN\r\n\r\n" +
           "GET /../../etc/passwd HTTP/1.1\r\n\r\nGET /VMRAWMTS?TILEMATRIX=3&r=-1&c=9 HTTP/1.1\r\n\r\n");
}

void Services(const std::string& scratch) {
  const std::string path = scratch + "wmts.dat";
  {
    CWmtsServer server;
    server.Options().services_path = path;
    server.Options().ip_echo_host = "";
    server.Options().resolve_own_host_name = false;
    server.LoadServices(false);
    CWmtsService* a = server.AddService("卫星服务", 18081);
    a->SetLayers({35, 0}, {7});
    server.AddService("map", 18082)->SetLayers({1}, {});
    server.SaveServices();
  }
  Seed("services_file", "two-services.dat", fuzz::ReadFile(path));
  Seed("services_file", "cut.dat", fuzz::ReadFile(path).substr(0, 20));
}

// Wave files of the sound objects: 16-bit mono, 8-bit stereo with an odd length, one cut short.
// (Float, 24-bit and extensible files in the corpus were made by hand.)
void Sounds() {
  std::vector<uint8_t> mono;
  for (int i = 0; i < 400; ++i) {
    const int16_t v = static_cast<int16_t>((i * 97) % 16000 - 8000);
    mono.push_back(static_cast<uint8_t>(v & 0xFF));
    mono.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  const std::vector<uint8_t> wave = BuildWaveFile(WaveFormat{1, 8000, 16}, mono);
  Seed("wave_file", "mono16.wav", Text(wave));
  Seed("wave_file", "cut_short.wav", Text(wave).substr(0, 200));
  std::vector<uint8_t> stereo;
  for (int i = 0; i < 129; ++i) stereo.push_back(static_cast<uint8_t>(i * 2));
  Seed("wave_file", "stereo8_odd.wav", Text(BuildWaveFile(WaveFormat{2, 11025, 8}, stereo)));
}

// COLLADA models: polygons without a scene, mirrored nested nodes that instance a node twice, a
// document without geometry, and one cut short. (The cube and the coordinate beyond float range
// in the corpus were made by hand; the latter is a mended crash.)
void Models() {
  const std::string polylist = R"(<COLLADA><library_geometries><geometry id="g"><mesh>
<source id="s"><float_array id="a" count="15">0 0 0 1 0 0 1 1 0 0 1 0 2 2 0</float_array><technique_common><accessor source="#a" count="5" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#s"/></vertices>
<polylist count="2"><input semantic="VERTEX" source="#v" offset="0"/><vcount>4 3</vcount><p>0 1 2 3 1 4 2</p></polylist>
<polygons count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 4</p></polygons>
</mesh></geometry></library_geometries></COLLADA>
)";
  const std::string nodes = R"(<COLLADA><asset><up_axis>X_UP</up_axis></asset>
<library_geometries><geometry id="t"><mesh>
<source id="s"><float_array id="a" count="9">0 0 0 1 0 0 0 1 0</float_array><technique_common><accessor source="#a" count="3" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#s"/></vertices>
<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>
</mesh></geometry></library_geometries>
<library_nodes><node id="leaf"><matrix>1 0 0 5 0 1 0 0 0 0 1 0 0 0 0 1</matrix><instance_geometry url="#t"/></node></library_nodes>
<library_visual_scenes><visual_scene id="s"><node><scale>-1 1 1</scale><node><instance_node url="#leaf"/><instance_node url="#leaf"/></node></node></visual_scene></library_visual_scenes>
</COLLADA>
)";
  Seed("collada_reader", "polylist_no_scene.dae", polylist);
  Seed("collada_reader", "nodes_mirrored.dae", nodes);
  Seed("collada_reader", "empty.dae", "<COLLADA><asset/></COLLADA>\n");
  Seed("collada_reader", "cut_short.dae", nodes.substr(0, nodes.size() / 2));
}

}  // namespace

// The elevation grid panel's cache (kind 0) and point files (1 text, 2 CSV), as the panel writes
// them, and a cache whose point count passes its bytes.
void DemFiles(const std::string& scratch) {
  CDemGrid grid;
  grid.SetDemData(std::vector<LngLatF>{{116, 40}, {116.5f, 40}, {116.5f, 39.5f}}, 90);
  grid.points = {{116.1, 39.9, 43.5}, {116.2, 39.8, -12.25}, {116.3, 39.7, 8848.862}};
  grid.RecomputeRanges();
  const std::string path = scratch + "dem_exp.hdt";
  SaveDemCache(grid, path);
  const std::string cache = fuzz::ReadFile(path);
  Seed("dem_files", "cache", std::string(1, '\0') + cache);
  std::string damaged = cache;
  damaged[2] = '\x7F';
  Seed("dem_files", "cache-count-too-large", std::string(1, '\0') + damaged);
  Seed("dem_files", "text-decimal", std::string(1, '\1') + Utf8ToAnsi(FormatPointsText(grid.points, 0)));
  Seed("dem_files", "text-dms", std::string(1, '\1') + Utf8ToAnsi(FormatPointsText(grid.points, 1)));
  Seed("dem_files", "csv", std::string(1, '\2') + FormatPointsCsv(grid.points, 0) + "1,2\n200,10,5\nnan,1,2\n");
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_corpus <fuzz/corpus folder>\n");
    return 2;
  }
  g_root = WithTrailingSlash(argv[1]);
  const std::string scratch = fuzz::Setup();
  Images();
  ElementSets();
  Scrambled();
  Profiles();
  ArchiveFiles(scratch);
  TileStore(scratch);
  HeightFiles();
  WebReplies();
  Texts();
  Catalogues();
  Requests();
  Services(scratch);
  Sounds();
  Models();
  DemFiles(scratch);
  std::printf("seed corpora written to %s\n", g_root.c_str());
  return 0;
}
