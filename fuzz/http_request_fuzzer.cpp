// The map publishing server's requests: a client's byte stream, arriving in pieces of any size,
// is cut into requests, and each whole request is answered by the server (tile addresses checked
// against the catalogue, stored tiles, the example page and script, web files, errors).
#include "velmora_build_paths.h"
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "core/scrambled_data.h"
#include "server/wmts_request.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

using namespace velmora;

namespace {

// A server with a tile manager over a scratch store (offline, no threads) holding one tile of
// the default service's base layer 35 at zoom 4, the example page and script as its web files,
// and one stopped service.
struct Server {
  std::unique_ptr<CTileManager> tiles;
  std::unique_ptr<CWmtsServer> server;
  CWmtsService* service = nullptr;

  Server() {
    const std::string dir = fuzz::Setup();
    TileManagerOptions options;
    options.data_dir = dir + "tiles/";
    options.download_threads = 0;
    options.offline = true;
    options.use_download_list = false;
    tiles = std::make_unique<CTileManager>(options);
    if (CTileStore* store = tiles->OpenStore(35)) {
      const std::string tile = "\xFF\xD8\xFF\xE0 stored tile bytes";
      store->Write(MakeTileKey(3, 5, TileKeyValue(35, 4)), tile.data(), tile.size(), false);
    }
    server = std::make_unique<CWmtsServer>();
    WmtsServerOptions& o = server->Options();
    o.services_path = dir + "wmts-http.dat";
    o.tiles = tiles.get();
    o.ip_echo_host = "";
    o.resolve_own_host_name = false;
    ScrambledBundle files;
    for (const char* name : {"examples/index.htm", "examples/wmtsinfo.js"})
      files[name] = fuzz::ReadFile(std::string(VELMORA_SOURCE_DIR "/data/web/") + name);
    files["styles/site.css"] = "body { color: black; }";
    const WebFilePair pair = EncodeWebFiles(files);
    server->LoadFromBytes(pair.names, pair.data);
    service = server->AddService("fuzz", 18080);
    service->SetLayers({35, 0}, {7});
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Server* s = new Server;  // kept for the whole run, like the program's own server
  fuzz::Parts parts(data, size);
  const size_t piece = 1 + parts.Byte() % 97;
  const uint32_t peer = parts.Byte() % 2 ? 0x0100007F : 0x0A000001;  // 127.0.0.1 or 10.0.0.1 (as read)
  const std::string_view stream = parts.Rest();

  CRequestFramer framer;
  std::string header;
  bool close_after = false;
  for (size_t at = 0; at < stream.size(); at += piece) {
    framer.Append(stream.substr(at, piece));
    for (;;) {
      const CRequestFramer::State state = framer.Next(&header, &close_after);
      if (state == CRequestFramer::State::kNeedMore) break;
      if (state == CRequestFramer::State::kTooLarge) return 0;  // the connection ends here
      FUZZ_CHECK(header.size() >= 4 && header.size() <= kMaxRequestHeader);
      FUZZ_CHECK(header.compare(header.size() - 4, 4, "\r\n\r\n") == 0);
      FUZZ_CHECK(FindHeaderEnd(header) <= header.size());
      if (std::optional<RequestLine> line = SplitRequestLine(header)) {
        if (std::optional<TileAddress> tile = ParseTileAddress(line->path)) {
          if (IsServableTile(*tile, LayerManager())) FUZZ_CHECK(tile->row >= 0 && tile->column >= 0);
        }
      }
      std::vector<uint8_t> out;
      bool keep_alive = true;
      if (s->server->ParseRequest(*s->service, peer, header, out, keep_alive)) {
        const std::string_view answer(reinterpret_cast<const char*>(out.data()), out.size());
        FUZZ_CHECK(answer.rfind("HTTP/1.", 0) == 0 && FindHeaderEnd(answer) != std::string_view::npos);
      }
      if (close_after) return 0;
    }
  }
  return 0;
}
