// Shared helpers of the map publishing server's tests: a program folder with the catalogue and
// web files, a tile manager over a store in a temporary folder that downloads from a test web
// server, the options a test server starts with, and a small blocking HTTP client on raw sockets (so that tests can split, pipeline,
// stall and inspect every byte).
#pragma once
#include "velmora_build_paths.h"
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/scrambled_data.h"
#include "core/settings.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/net.h"
#include "server/wmts_server.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora::test {

// A port nobody listens on right now, released again for the service under test. It lies below
// the system's ephemeral range, so the outgoing connections of tests running beside this one
// cannot take it before the service binds it; the pick is random so that parallel test
// programs do not probe the same ports.
inline uint16_t FreePort() {
  static thread_local std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pick(20000, 32000);
  for (int attempt = 0; attempt < 200; ++attempt) {
    uint16_t port = static_cast<uint16_t>(pick(random));
    UniqueFd fd = ListenTcp(port, true);
    if (fd.Valid()) return port;
  }
  return 0;
}

// Bytes of a small JPEG tile whose colour tells tiles apart.
inline std::string JpegTile(Argb color) {
  CBitmap image;
  image.Create(256, 256, color);
  std::vector<uint8_t> bytes;
  EncodeImage(image, ImageType::kJpeg, &bytes);
  return std::string(bytes.begin(), bytes.end());
}

inline std::string ReadSourceFile(const std::string& relative) {
  return ReadTestFile(std::string(VELMORA_SOURCE_DIR) + "/" + relative);
}

// The web files of the tests: the shipped page template and script, and files for the other
// branches (a large one for slow readers).
inline ScrambledBundle TestWebFiles() {
  ScrambledBundle files;
  files["examples/index.htm"] = ReadSourceFile("data/web/examples/index.htm");
  files["examples/wmtsinfo.js"] = ReadSourceFile("data/web/examples/wmtsinfo.js");
  files["styles/site.css"] = "body { color: black; }";
  files["img/dot.png"] = "\x89PNG-not-really";
  std::string big(3u << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + (i / 97) % 26);
  files["big/blob.js"] = big;
  return files;
}

inline void WriteWebFiles(const std::string& program_dir, const ScrambledBundle& files) {
  WebFilePair pair = EncodeWebFiles(files);
  ASSERT_TRUE(SaveScrambledFile(program_dir + "wi.kmp", pair.names));
  ASSERT_TRUE(SaveScrambledFile(program_dir + "wd.kmp", pair.data));
}

// The test program's folders, catalogue, web files, tile web server and tile manager.
class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    root_ = std::make_unique<TempDir>();
    setenv("VELMORA_CONFIG_DIR", (root_->path() + "config/").c_str(), 1);
    setenv("VELMORA_DATA_DIR", (root_->path() + "data/").c_str(), 1);
    program_dir_ = root_->path() + "program/";
    WriteTestFile(program_dir_ + "map_sources.txt", ReadSourceFile("data/map_sources.txt"));
    WriteWebFiles(program_dir_, TestWebFiles());
    UpdateAppOptions([this](CAppOptions& o) {
      o.program_dir = program_dir_;
      o.data_dir = root_->path() + "data/";
    });
    ASSERT_TRUE(LayerManager().IsLoaded());

    web_ = std::make_unique<HttpTestServer>();
    // Every source's tiles come from the test web server.
    for (int id : {0, 7, 35}) {
      WriteProfileString("map_urls", std::to_string(id), web_->BaseUrl() + "/t/" + std::to_string(id) + "/{z}/{x}/{y}");
    }
    TileManagerOptions options;
    options.data_dir = root_->path() + "tiles/";
    options.download_threads = 2;
    options.offline = false;
    options.use_download_list = false;
    tiles_ = std::make_unique<CTileManager>(options);
    ASSERT_TRUE(tiles_->Start());
  }
  void TearDown() override {
    tiles_->Stop();
    tiles_.reset();
    web_.reset();
    root_.reset();
  }

  static ServerEnvironment* Get() { return instance_; }
  static ServerEnvironment* Install() {
    instance_ = static_cast<ServerEnvironment*>(::testing::AddGlobalTestEnvironment(new ServerEnvironment));
    return instance_;
  }

  const std::string& Root() const { return root_->path(); }
  const std::string& ProgramDir() const { return program_dir_; }
  HttpTestServer& Web() { return *web_; }
  CTileManager& Tiles() { return *tiles_; }

  // Stores a tile of source/zoom/row/column and returns its bytes.
  std::string StoreTile(int source, int zoom, int row, int column, Argb color) {
    std::string bytes = JpegTile(color);
    TileKey key = MakeTileKey(column, row, TileKeyValue(source, zoom));
    CTileStore* store = tiles_->OpenStore(source);
    EXPECT_NE(store, nullptr);
    if (store) store->Write(key, bytes.data(), bytes.size(), false);
    return bytes;
  }

 private:
  static inline ServerEnvironment* instance_ = nullptr;
  std::unique_ptr<TempDir> root_;
  std::string program_dir_;
  std::unique_ptr<HttpTestServer> web_;
  std::unique_ptr<CTileManager> tiles_;
};

// The options a test server starts with: its default port, its list of services in
// `services_path`, the environment's tiles, and no look-up of its own addresses on the network.
inline void ConfigureTestServer(WmtsServerOptions& o, uint16_t port, const std::string& services_path) {
  o.default_port = port;
  o.services_path = services_path;
  o.tiles = &ServerEnvironment::Get()->Tiles();
  o.ip_echo_host = "";
  o.resolve_own_host_name = false;
}

// One answer as the raw client read it.
struct HttpAnswer {
  std::string status_line;
  std::map<std::string, std::string> headers;  // names as sent
  std::string body;
  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// A blocking client connection with a time limit on every wait.
class RawClient {
 public:
  // Connects to 127.0.0.1:port, from `from` (e.g. "127.0.0.2") when given.
  explicit RawClient(uint16_t port, const char* from = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (from) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &local.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected_; }
  int Fd() const { return fd_; }
  // Bytes that arrived and were not read yet.
  int Unread() const {
    int n = 0;
    ::ioctl(fd_, FIONREAD, &n);
    return n;
  }

  bool Send(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }
  bool Get(const std::string& path) { return Send("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n"); }

  // Reads one whole answer (header, then Content-Length bytes). False when the connection
  // closed or nothing came within the time.
  bool Read(HttpAnswer* answer, int timeout_ms = 10000) {
    size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill(timeout_ms)) return false;
    }
    std::string head = buffer_.substr(0, end + 2);
    buffer_.erase(0, end + 4);
    *answer = HttpAnswer();
    size_t line_end = head.find("\r\n");
    answer->status_line = head.substr(0, line_end);
    size_t pos = line_end + 2;
    while (pos < head.size()) {
      size_t e = head.find("\r\n", pos);
      std::string line = head.substr(pos, e - pos);
      size_t colon = line.find(':');
      if (colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        answer->headers[line.substr(0, colon)] = value;
      }
      pos = e + 2;
    }
    size_t length = std::stoul(answer->Header("Content-Length").empty() ? "0" : answer->Header("Content-Length"));
    while (buffer_.size() < length) {
      if (!Fill(timeout_ms)) return false;
    }
    answer->body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    return true;
  }

  // True when the server closes the connection within the time (any bytes that came first
  // are kept in Pending()).
  bool WaitClosed(int timeout_ms = 10000) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeout_ms) <= 0) return false;
      char chunk[4096];
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return true;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  const std::string& Pending() const { return buffer_; }

 private:
  bool Fill(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

// Waits until `done()` holds, looking every few milliseconds, at most `timeout_ms`; the last
// answer of `done()`.
template <typename Done>
bool WaitUntil(Done done, int timeout_ms = 10000) {
  for (int waited = 0;; waited += 5) {
    if (done()) return true;
    if (waited >= timeout_ms) return false;
    ::poll(nullptr, 0, 5);
  }
}

// Open descriptors of this process.
inline int OpenDescriptorCount() {
  int n = 0;
  for (int fd = 0; fd < 65536; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0) ++n;
  }
  return n;
}

inline std::string TileUrl(int source, int zoom, int row, int column) {
  return "/VMRAWMTS?SERVICE=WMTS&REQUEST=GetTile&LAYER=" + std::to_string(source) +
         "&STYLE=1&TILEMATRIXSET=g&TILEMATRIX=" + std::to_string(zoom) + "&TILEROW=" + std::to_string(row) +
         "&TILECOL=" + std::to_string(column) + "&FORMAT=jpg";
}

}  // namespace velmora::test
