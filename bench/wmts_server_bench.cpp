// Map publishing server speed. Two uses:
//
//   wmts_server_bench [Google Benchmark flags]
//       in-process: one stored tile asked for over one kept-alive connection on 127.0.0.1
//       (round trips per second) and the answer building alone (ParseRequest).
//   wmts_server_bench --serve=PORT --dir=FOLDER [--web=PROGRAM_FOLDER]
//       the harness of bench/wmts_server_bench.sh and tools/wmts_client_check.sh: a tile store
//       with one tile in FOLDER, the server's default service on PORT, the tile's bytes as
//       FOLDER/tile.jpg (for nginx to serve the same bytes), then "ready <tile path> <size>" on
//       stdout; runs until stdin closes or SIGTERM/SIGINT arrives. With --web the built web
//       files (wi.kmp, wd.kmp) of that folder are served and every zoom-4 tile of the first base
//       layer is stored too, so that a browser shows a whole map.
//   wmts_server_bench --abuse=PORT --path=PATH [--slow=N --idle=N --silent=N --probe-ms=MS]
//       the abuse of bench/wmts_server_bench.sh: holds slow, idle and silent connections to any
//       server on 127.0.0.1:PORT from many loopback addresses (reconnecting those the server
//       closes), opens a new client every MS milliseconds from its own address, prints "held"
//       once the connections are open and the probe numbers when stdin closes.
#include "velmora_build_paths.h"
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/scrambled_data.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "server/wmts_abuse.h"
#include "server/wmts_server.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

constexpr int kSource = 35, kZoom = 12, kRow = 1600, kColumn = 3300;

std::string TilePath() {
  return "/VMRAWMTS?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=" + std::to_string(kSource) +
         "&STYLE=1&TILEMATRIXSET=g&TILEMATRIX=" + std::to_string(kZoom) + "&TILEROW=" + std::to_string(kRow) +
         "&TILECOL=" + std::to_string(kColumn) + "&FORMAT=jpg";
}

// A tile of realistic size: a noisy picture, JPEG at the default quality (some 20-40 KB).
std::vector<uint8_t> MakeTileBytes() {
  CBitmap image;
  image.Create(256, 256);
  uint32_t x = 12345;
  for (int r = 0; r < 256; ++r)
    for (int c = 0; c < 256; ++c) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      image.SetPixel(c, r, MakeArgb(255, uint8_t(r + (x & 31)), uint8_t(c + ((x >> 8) & 31)), uint8_t(x >> 16)));
    }
  std::vector<uint8_t> bytes;
  EncodeImage(image, ImageType::kJpeg, &bytes);
  return bytes;
}

// Program folder (catalogue and web files), data folder and a store with the one tile.
struct Harness {
  size_t max_clients = 0;  // 0: the service's default cap
  std::string dir;
  std::unique_ptr<CTileManager> tiles;
  std::unique_ptr<CWmtsServer> server;
  std::vector<uint8_t> tile;

  bool Build(const std::string& folder, uint16_t port, const std::string& web = std::string()) {
    dir = WithTrailingSlash(folder);
    const std::string program = dir + "program/";
    EnsureFolder(program);
    setenv("VELMORA_CONFIG_DIR", (dir + "config/").c_str(), 1);
    setenv("VELMORA_DATA_DIR", (dir + "data/").c_str(), 1);
    std::error_code ec;
    std::filesystem::copy_file(std::string(VELMORA_SOURCE_DIR) + "/data/map_sources.txt", program + "map_sources.txt",
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (!web.empty()) {
      for (const char* name : {"wi.kmp", "wd.kmp"})
        std::filesystem::copy_file(WithTrailingSlash(web) + name, program + name,
                                   std::filesystem::copy_options::overwrite_existing, ec);
    } else {
      ScrambledBundle files;
      auto page = ReadFileBytes(std::string(VELMORA_SOURCE_DIR) + "/data/web/examples/index.htm");
      files["examples/index.htm"] = page ? std::string(page->begin(), page->end()) : "<html></html>";
      WebFilePair pair = EncodeWebFiles(files);
      SaveScrambledFile(program + "wi.kmp", pair.names);
      SaveScrambledFile(program + "wd.kmp", pair.data);
    }
    UpdateAppOptions([&](CAppOptions& o) {
      o.program_dir = program;
      o.data_dir = dir + "data/";
    });
    if (!LayerManager().IsLoaded()) {
      std::fprintf(stderr, "the catalogue cannot be loaded\n");
      return false;
    }
    TileManagerOptions options;
    options.data_dir = dir + "tiles/";
    options.download_threads = 0;
    options.offline = true;
    options.use_download_list = false;
    tiles = std::make_unique<CTileManager>(options);
    tile = MakeTileBytes();
    TileKey key = MakeTileKey(kColumn, kRow, TileKeyValue(kSource, kZoom));
    CTileStore* store = tiles->OpenStore(kSource);
    if (!store || store->Write(key, tile.data(), tile.size(), false) != TileWriteResult::kWritten) return false;
    store->Flush();
    if (!web.empty()) {
      // A whole map at zoom 4 for the default service's layers: the base layers 35 and 0 in a
      // checkerboard of two colours, the overlay 7 as transparent tiles with a mark.
      for (int source : {kSource, 0, 7}) {
        CTileStore* layer = tiles->OpenStore(source);
        if (!layer) return false;
        for (int row = 0; row < 16; ++row)
          for (int column = 0; column < 16; ++column) {
            CBitmap image;
            std::vector<uint8_t> bytes;
            if (source == 7) {
              image.Create(256, 256, 0x00000000u);
              for (int i = 96; i < 160; ++i) {
                image.SetPixel(i, 128, 0xFFC00000u);
                image.SetPixel(128, i, 0xFFC00000u);
              }
              EncodeImage(image, ImageType::kPng, &bytes);
            } else {
              image.Create(256, 256, ((row + column) & 1) ? 0xFF3A6EA5u : 0xFF8FB8DEu);
              EncodeImage(image, ImageType::kJpeg, &bytes);
            }
            layer->Write(MakeTileKey(column, row, TileKeyValue(source, 4)), bytes.data(), bytes.size(), false);
          }
        layer->Flush();
      }
    }
    if (!WriteFileAtomic(dir + "tile.jpg", tile)) return false;
    server = std::make_unique<CWmtsServer>();
    WmtsServerOptions& o = server->Options();
    o.default_port = port;
    o.services_path = dir + "wmts.dat";
    o.tiles = tiles.get();
    o.ip_echo_host = "";
    o.resolve_own_host_name = false;
    if (max_clients > 0) o.max_clients_per_service = max_clients;
    o.max_clients_per_address = 1024;  // wrk runs all its connections from one address
    return server->Start() && server->Services().at(0)->IsRunning();
  }
  ~Harness() {
    server.reset();
    tiles.reset();
  }
};

// One blocking keep-alive connection that reads whole answers.
class Connection {
 public:
  explicit Connection(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Connection() { ::close(fd_); }
  bool Ok() const { return ok_; }
  // Sends the request and reads the answer; its body size, or -1.
  long RoundTrip(const std::string& request) {
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return -1;
    size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!Fill()) return -1;
    size_t cl = buffer_.find("Content-Length: ");
    if (cl == std::string::npos || cl > end) return -1;
    size_t length = std::strtoul(buffer_.c_str() + cl + 16, nullptr, 10);
    while (buffer_.size() < end + 4 + length)
      if (!Fill()) return -1;
    buffer_.erase(0, end + 4 + length);
    return static_cast<long>(length);
  }

 private:
  bool Fill() {
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
  int fd_;
  bool ok_ = false;
  std::string buffer_;
};

Harness* g_harness = nullptr;
uint16_t g_port = 0;

void BM_StoredTileKeepAlive(benchmark::State& state) {
  Connection connection(g_port);
  if (!connection.Ok()) {
    state.SkipWithError("cannot connect");
    return;
  }
  const std::string request = "GET " + TilePath() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (auto _ : state) {
    long size = connection.RoundTrip(request);
    if (size != static_cast<long>(g_harness->tile.size())) {
      state.SkipWithError("wrong answer");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_harness->tile.size()));
}
BENCHMARK(BM_StoredTileKeepAlive)->UseRealTime();

void BM_ParseRequestStoredTile(benchmark::State& state) {
  CWmtsService& service = *g_harness->server->Services().at(0);
  const std::string request = "GET " + TilePath() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<uint8_t> out;
  for (auto _ : state) {
    bool keep_alive = false;
    g_harness->server->ParseRequest(service, 0x0100007F, request, out, keep_alive);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseRequestStoredTile)->ThreadRange(1, 8)->UseRealTime();

uint16_t PickPort() {
  UniqueFd fd = ListenTcp(0, true);
  return fd.Valid() ? LocalPort(fd.Get()) : 0;
}

int Serve(uint16_t port, const std::string& dir, const std::string& web, size_t max_clients) {
  Harness harness;
  harness.max_clients = max_clients;
  if (!harness.Build(dir, port, web)) {
    std::fprintf(stderr, "the server could not be started on port %u\n", port);
    return 1;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  int sfd = ::signalfd(-1, &signals, SFD_CLOEXEC);  // the signals are blocked in every thread
  std::printf("ready %s %zu\n", TilePath().c_str(), harness.tile.size());
  std::fflush(stdout);
  // Until stdin closes or one of the signals arrives.
  for (;;) {
    pollfd p[2] = {{0, POLLIN, 0}, {sfd, POLLIN, 0}};
    if (::poll(p, sfd >= 0 ? 2 : 1, -1) < 0) continue;
    if (p[1].revents) break;
    if (p[0].revents) {
      char c;
      if (::read(0, &c, 1) <= 0) break;
    }
  }
  if (sfd >= 0) ::close(sfd);
  return 0;
}

// Holds the abuse until stdin closes; then prints the prober's numbers.
int Abuse(const test::AbuseDriver::Config& config) {
  test::AbuseDriver driver(config);
  driver.Start();
  // A server that keeps fewer connections than the abuse makes never holds them all.
  bool held = driver.WaitHeld(config.silent, config.slow, config.idle, 5000);
  test::AbuseDriver::Numbers n = driver.Read();
  std::printf("%s silent %d slow %d idle %d\n", held ? "held" : "partly-held", n.held_silent, n.held_slow,
              n.held_idle);
  std::fflush(stdout);
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  n = driver.Read();
  driver.Stop();
  std::sort(n.probe_ms.begin(), n.probe_ms.end());
  auto at = [&](double q) {
    return n.probe_ms.empty() ? -1.0 : n.probe_ms[std::min(n.probe_ms.size() - 1, size_t(q * n.probe_ms.size()))];
  };
  std::printf("probes %ld answered %ld p50 %.1f p99 %.1f max %.1f closed %ld held %d %d %d probes-closed %ld\n",
              n.probes, n.probes_answered, at(0.5), at(0.99), n.probe_ms.empty() ? -1.0 : n.probe_ms.back(),
              n.closed_by_server, n.held_silent, n.held_slow, n.held_idle, n.probes_closed);
  return 0;
}

// Many connections need more descriptors than the usual soft limit of 1024.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  std::string serve, dir, web, abuse;
  size_t max_clients = 0;
  test::AbuseDriver::Config config;
  config.slow = 500;
  config.idle = 100;
  config.probe_interval_ms = 100;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    auto number = [&a](size_t skip) { return std::atoi(a.c_str() + skip); };
    if (a.rfind("--serve=", 0) == 0) serve = a.substr(8);
    else if (a.rfind("--abuse=", 0) == 0) abuse = a.substr(8);
    else if (a.rfind("--max-clients=", 0) == 0) max_clients = static_cast<size_t>(number(14));
    else if (a.rfind("--path=", 0) == 0) config.path = a.substr(7);
    else if (a.rfind("--slow=", 0) == 0) config.slow = number(7);
    else if (a.rfind("--idle=", 0) == 0) config.idle = number(7);
    else if (a.rfind("--silent=", 0) == 0) config.silent = number(9);
    else if (a.rfind("--probe-ms=", 0) == 0) config.probe_interval_ms = number(11);
    else if (a.rfind("--dir=", 0) == 0) dir = a.substr(6);
    else if (a.rfind("--web=", 0) == 0) web = a.substr(6);
    else rest.push_back(argv[i]);
  }
  // The signals are taken by the serving loop, never by one of the server's threads.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  RaiseDescriptorLimit();
  if (!abuse.empty()) {
    config.port = static_cast<uint16_t>(std::atoi(abuse.c_str()));
    return Abuse(config);
  }
  if (!serve.empty()) {
    if (dir.empty()) {
      std::fprintf(stderr, "--serve needs --dir\n");
      return 2;
    }
    return Serve(static_cast<uint16_t>(std::atoi(serve.c_str())), dir, web, max_clients);
  }
  std::string temp = (std::filesystem::temp_directory_path() / ("wmts-bench-" + std::to_string(getpid()))).string();
  int code = 0;
  {
    Harness harness;
    g_port = PickPort();
    if (!harness.Build(temp, g_port)) {
      std::fprintf(stderr, "the server could not be started\n");
      code = 1;
    } else {
      g_harness = &harness;
      int n = static_cast<int>(rest.size());
      benchmark::Initialize(&n, rest.data());
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
      g_harness = nullptr;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(temp, ec);
  return code;
}
