// The map publishing server: start-up and shut-down, the services file, request handling, the
// example page, the placeholder tile, the browser hand-off and the public address.
#include "server/wmts_server.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "core/archive.h"
#include "core/format.h"
#include "core/gdip_text_renderer.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "platform/text.h"
#include "platform/process.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora {

namespace {

constexpr const char kPagePath[] = "examples/index.htm";
constexpr const char kScriptPath[] = "examples/wmtsinfo.js";
constexpr const char kScriptAddressMark[] = "localhost:8888";
// The IP-echo answer is read up to this many bytes.
constexpr size_t kIpEchoReplyLimit = 260;

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

// The host named by the request's Host header (without a port), when it is a plain host name
// or address; "" otherwise.
std::string RequestHost(std::string_view request) {
  size_t pos = 0;
  while ((pos = request.find("\r\n", pos)) != std::string_view::npos) {
    pos += 2;
    std::string_view line = request.substr(pos, request.find("\r\n", pos) - pos);
    if (line.size() < 5 || LowerAscii(line.substr(0, 5)) != "host:") continue;
    std::string_view host = TrimAscii(line.substr(5));
    if (!host.empty() && host.front() != '[') host = host.substr(0, host.find(':'));
    bool plain = !host.empty() && host.size() <= 253 &&
                 std::all_of(host.begin(), host.end(), [](char c) {
                   return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '.' || c == '-';
                 });
    return plain ? std::string(host) : std::string();
  }
  return std::string();
}

// "host" or "host:port" -> host and port (80 when none is given). False for a bad port.
bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port) {
  *port = 80;
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    *host = text;
    return !host->empty();
  }
  *host = text.substr(0, colon);
  std::optional<long long> n = ParseInt(std::string_view(text).substr(colon + 1));
  if (!n || *n < 1 || *n > 65535 || host->empty()) return false;
  *port = static_cast<uint16_t>(*n);
  return true;
}

// Reads one short reply: until `limit` bytes, the peer's close, the end of a body whose length
// the header gives, the time-out or the stop.
std::string ReadShortReply(int fd, size_t limit, unsigned timeout_ms, const WakeEvent* quit) {
  std::string reply;
  uint64_t deadline = TickCount64() + timeout_ms;
  char buffer[512];
  while (reply.size() < limit) {
    uint64_t now = TickCount64();
    if (now >= deadline) break;
    if (WaitSocket(fd, true, false, quit, static_cast<int>(deadline - now)) != WaitResult::kReady) break;
    size_t got = 0;
    IoStatus status = ReceiveSome(fd, buffer, std::min(sizeof buffer, limit - reply.size()), &got);
    if (status == IoStatus::kWouldBlock) continue;
    if (status != IoStatus::kOk) break;
    reply.append(buffer, got);
    size_t header_end = FindHeaderEnd(reply);
    if (header_end != std::string::npos) {
      std::string lower = LowerAscii(std::string_view(reply).substr(0, header_end));
      size_t cl = lower.find("\r\ncontent-length:");
      if (cl != std::string::npos) {
        size_t value = cl + 17;
        std::optional<long long> n =
            ParseInt(std::string_view(lower).substr(value, lower.find("\r\n", value) - value));
        if (n && *n >= 0 && reply.size() >= header_end + static_cast<size_t>(*n)) break;
      }
    }
  }
  return reply;
}

}  // namespace

std::string ListenFailureMessage(const std::string& service_name, uint16_t port, ListenFailure reason,
                                 const std::string& detail) {
  std::string text = FormatC("地图发布服务\"%s\"无法在端口%u上启动:", service_name.c_str(), static_cast<unsigned>(port));
  switch (reason) {
    case ListenFailure::kPortInUse: return text + "端口已被其他程序占用,请换一个端口。";
    case ListenFailure::kNoPermission: return text + "没有使用该端口的权限(1024以下的端口需要管理员权限),请换一个端口。";
    case ListenFailure::kOther: break;
  }
  return text + detail;
}

CWmtsServer::CWmtsServer() = default;

CWmtsServer::~CWmtsServer() {
  StopServices(0);
  services_.clear();  // each service stops its accept thread and connections before it goes
  loops_.Stop();
  request_log_.Close();
  ReapPrograms();
}

// ---- start-up and shut-down ----------------------------------------------------------------------

void CWmtsServer::InitMimeTypes() {
  std::lock_guard<std::mutex> lock(response_lock_);
  FillMimeTypes(mime_types_);
}

std::string CWmtsServer::MimeType(std::string_view extension) const {
  std::lock_guard<std::mutex> lock(response_lock_);
  auto it = mime_types_.find(std::string(extension));
  return it == mime_types_.end() ? std::string("text/html") : it->second;
}

size_t CWmtsServer::MimeTypeCount() const {
  std::lock_guard<std::mutex> lock(response_lock_);
  return mime_types_.size();
}

bool CWmtsServer::PrepareAnswers() {
  InitMimeTypes();
  if (!CWmtsWebFiles::Load()) {
    {
      std::lock_guard<std::mutex> lock(response_lock_);
      mime_types_.clear();
    }
    AppLog("map publishing: the web files (wi.kmp, wd.kmp) are missing; no service is started");
    return false;
  }
  if (!public_ip_thread_.IsRunning() && public_ip_quit_.Valid()) {
    public_ip_quit_.Reset();
    public_ip_thread_.Start("WmtsPublicIp", [this] { PublicIpThreadProc(); });
  }
  // Thousands of connections need more descriptors than the usual soft limit of 1024.
  RaiseOpenFileLimit(65536);
  return true;
}

bool CWmtsServer::Start() {
  {
    std::lock_guard<std::mutex> lock(prepare_lock_);
    prepared_ = true;
  }
  if (!PrepareAnswers()) {
    LoadServices(false);  // kept in the list so that a later save does not lose them
    return false;
  }
  if (GetProfileInt(kRequestLogSection, kRequestLogKey, 0) != 0 && !request_log_.IsOpen())
    request_log_.Open(AppOptions().data_dir + kRequestLogFileName);
  LoadServices(true);
  return true;
}

void CWmtsServer::PrepareForServices() {
  std::lock_guard<std::mutex> lock(prepare_lock_);
  if (prepared_) return;
  prepared_ = true;
  PrepareAnswers();
}

void CWmtsServer::StopServices(uint16_t port) {
  if (port == 0) {
    public_ip_quit_.Set();
    public_ip_thread_.Stop(3000);
    public_ip_thread_.OnExit();
  }
  for (const auto& service : services_) {
    if (port != 0 && service->Port() != port) continue;
    service->Stop();
    service->StopClients();
  }
  // With every service stopped no connection is left: the loops end too (the next start makes
  // them again).
  if (port == 0) loops_.Stop();
}

bool CWmtsServer::StartLoops() { return loops_.Start(options_.event_threads); }

void CWmtsServer::ReportListenFailure(const CWmtsService& service, int error_number, const std::string& detail) {
  ServiceListenFailure failure;
  failure.name = service.Name();
  failure.port = service.Port();
  failure.reason = error_number == EADDRINUSE                          ? ListenFailure::kPortInUse
                   : error_number == EACCES || error_number == EPERM ? ListenFailure::kNoPermission
                                                                     : ListenFailure::kOther;
  failure.message = ListenFailureMessage(failure.name, failure.port, failure.reason, detail);
  AppLog("map service \"%s\" cannot listen on port %u: %s", failure.name.c_str(), static_cast<unsigned>(failure.port),
         detail.c_str());
  if (options_.listen_failure_sink) options_.listen_failure_sink(failure);
}

void CWmtsServer::ReportNotice(const std::string& message) {
  AppLog("%s", message.c_str());
  if (options_.notice_sink) options_.notice_sink(message);
}

// ---- the services file and list -------------------------------------------------------------------

std::string CWmtsServer::ServicesPath() const {
  return options_.services_path.empty() ? AppOptions().data_dir + kServicesFileName : options_.services_path;
}

void CWmtsServer::LoadServices(bool start) {
  if (!services_loaded_) {
    services_loaded_ = true;
    const std::string path = ServicesPath();
    bool other_format = false;
    uint32_t refused = 0;  // records past the bound
    std::vector<std::unique_ptr<CWmtsService>> read;
    std::string error;
    ArchiveLoad result = LoadArchiveFile(
        path,
        [&](ArchiveReader& ar) {
          uint32_t tag = ar.U32();
          uint32_t schema = ar.U32();
          if (tag != kServicesFileTag || schema != kServicesFileSchema) {
            other_format = true;
            return;
          }
          // Not checked against the bytes left: a count larger than the file holds is a file
          // cut short, whose whole records stay. Every record takes at least 11 bytes (port,
          // empty name, two empty id lists) or throws, so the loop ends with the data.
          uint32_t count = ar.U32();
          for (uint32_t i = 0; i < count; ++i) {
            if (read.size() == kMaxServices) {
              refused = count - i;
              return;
            }
            auto service = std::make_unique<CWmtsService>(this, 0);
            service->Serialize(ar);  // a record cut short throws; those read so far stay
            if (service->Port() == 0) {
              AppLog("%s: service \"%s\" has no port and is skipped", path.c_str(), service->Name().c_str());
              continue;
            }
            read.push_back(std::move(service));
          }
        },
        &error);
    if (other_format) AppLog("%s is not a services file of this version; it is not read", path.c_str());
    if (refused > 0) {
      // Not lost: the whole file is kept aside before the list is written again.
      ReportNotice(FormatC("%s中的地图发布服务超过%zu个,其余%u个未加载。", kServicesFileName, kMaxServices,
                           static_cast<unsigned>(refused)));
    }
    services_file_damaged_ = result == ArchiveLoad::kDamaged || other_format || refused > 0;
    for (auto& service : read) services_.push_back(std::move(service));
    if (services_.empty()) {
      auto service = std::make_unique<CWmtsService>(this, options_.default_port);
      service->SetName("google");
      service->SetLayers({35, 0}, {7});
      services_.push_back(std::move(service));
    }
  }
  if (start) {
    // A service that cannot listen is reported by StartAccept and stays stopped.
    for (const auto& service : services_)
      if (!service->IsRunning()) service->StartAccept();
  }
}

bool CWmtsServer::SaveServices() {
  LoadServices(false);
  ArchiveWriter ar;
  ar.U32(kServicesFileTag);
  ar.U32(kServicesFileSchema);
  ar.U32(static_cast<uint32_t>(services_.size()));
  for (const auto& service : services_) service->Serialize(ar);
  const std::string path = ServicesPath();
  if (services_file_damaged_) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
      std::filesystem::copy_file(path, path + ".damaged", std::filesystem::copy_options::overwrite_existing, ec);
      if (ec) {
        // The only whole copy of what could not be read stays as it is.
        AppLog("%s cannot be copied to %s.damaged: %s", path.c_str(), path.c_str(), ec.message().c_str());
        ReportNotice(FormatC("%s无法完整读取,也无法另存为%s.damaged,地图发布服务未保存。", kServicesFileName,
                             kServicesFileName));
        return false;
      }
      AppLog("%s could not be read whole; it is kept as %s.damaged", path.c_str(), path.c_str());
    }
  }
  std::string error;
  if (!ar.SaveToFile(path, &error)) return false;  // logged by the writer
  services_file_damaged_ = false;
  return true;
}

CWmtsService* CWmtsServer::AddService(const std::string& name, uint16_t port) {
  LoadServices(false);
  if (services_.size() >= kMaxServices) {
    ReportNotice(FormatC("地图发布服务最多%zu个。", kMaxServices));
    return nullptr;
  }
  auto service = std::make_unique<CWmtsService>(this, port);
  service->SetName(name);
  services_.push_back(std::move(service));
  return services_.back().get();
}

void CWmtsServer::RemoveServices(uint16_t port) {
  LoadServices(false);
  if (port == 0) {
    services_.clear();  // each destructor stops the accept thread and the clients
    return;
  }
  auto it = std::find_if(services_.begin(), services_.end(), [port](const auto& s) { return s->Port() == port; });
  if (it != services_.end()) services_.erase(it);
}

bool CWmtsServer::IsPortFree(uint16_t port) {
  LoadServices(false);
  for (const auto& service : services_)
    if (service->Port() == port) return false;
  return port != 0 && CanBindTcp(port);
}

std::vector<CWmtsService*> CWmtsServer::Services() {
  LoadServices(false);
  std::vector<CWmtsService*> out;
  for (const auto& service : services_) out.push_back(service.get());
  return out;
}

// ---- requests ----------------------------------------------------------------------------------------

CTileManager& CWmtsServer::Tiles() const { return options_.tiles ? *options_.tiles : TileManager(); }

const CLayerManager& CWmtsServer::Layers() const { return options_.layers ? *options_.layers : LayerManager(); }

bool CWmtsServer::ParseRequest(CWmtsService& service, uint32_t peer_address, std::string_view request,
                               std::vector<uint8_t>& out, bool& keep_alive) {
  WmtsResponse response;
  if (!BuildResponse(service, peer_address, request, response, keep_alive)) return false;
  out.clear();
  out.reserve(response.Size());
  out.insert(out.end(), response.head.begin(), response.head.end());
  out.insert(out.end(), response.BodyData(), response.BodyData() + response.BodySize());
  return true;
}

bool CWmtsServer::BuildResponse(CWmtsService& service, uint32_t peer_address, std::string_view request,
                                WmtsResponse& out, bool& keep_alive) {
  std::optional<RequestLine> line = SplitRequestLine(request);
  if (!line) return false;
  std::string status = "200 OK";
  std::string content_type = "text/html";
  const bool is_get = line->method == "GET";
  std::string path = is_get ? line->path : std::string();
  if (!is_get) status = "501 Not Implemented";
  if (path == "/") path = kPagePath;
  else if (path == "/wmtsInfo.js") path = "examples/wmtsInfo.js";
  keep_alive = true;
  size_t dot = path.rfind('.');
  if (dot != std::string::npos) content_type = MimeType(std::string_view(path).substr(dot + 1));
  const std::string date = FormatHttpDate(std::time(nullptr));

  out.Clear();
  std::vector<uint8_t>& body = out.body;
  if (is_get) {
    if (path.find("VMRAWMTS") != std::string::npos) {
      std::optional<TileAddress> tile = ParseTileAddress(path);
      if (!tile || !IsServableTile(*tile, Layers())) {
        status = "400 Bad Request";
      } else {
        TileKey key = MakeTileKey(tile->column, tile->row, TileKeyValue(tile->source, tile->zoom));
        CTileManager& tiles = Tiles();
        if (!tiles.ReadTileBytes(TileKeyLow(key), TileKeyHigh(key), body)) {
          tiles.GetTile(TileKeyLow(key), TileKeyHigh(key));  // queued for the load and a download
          body = MissingTilePng();
        }
        content_type = MimeType("jpg");
      }
    } else {
      // Only the rewritten paths ("/" and "/wmtsInfo.js", which carry no leading '/') are the
      // built page and the addressed script; "/examples/..." reaches the stored files as they are.
      path = LowerAscii(path);
      if (path == kPagePath) {
        WriteOpenLayersPage(service, body);
      } else if (path != kScriptPath) {
        // Sent from the data block as it is.
        out.file = GetFileView(path);
        if (!out.file) return false;  // no such file: no answer, the caller closes
      } else {
        if (!GetFile(path, body)) return false;
        std::string host;
        if (peer_address == LoopbackIPv4()) {
          host = "localhost";
        } else {
          host = PublicAddress();
          if (host.empty()) host = RequestHost(request);  // before the address is known
          if (host.empty()) host = "localhost";
        }
        std::string address = host + ":" + std::to_string(service.Port());
        size_t count = 0;
        std::string text = ReplaceAll(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()),
                                      kScriptAddressMark, address, &count);
        if (count > 0) body.assign(text.begin(), text.end());
      }
    }
  }

  out.head = BuildResponseHeader(status, date, out.BodySize(), content_type);
  request_log_.WriteResponse(out.head);
  return true;
}

void CWmtsServer::WriteOpenLayersPage(const CWmtsService& service, std::vector<uint8_t>& out) {
  out.clear();
  std::string page_template;
  if (!GetFile(kPagePath, page_template)) return;
  const CLayerManager& layers = Layers();
  std::vector<PageLayer> page_layers;
  auto add = [&](int32_t id, bool base) {
    const MapSourceDef* source = layers.FindSource(id);
    page_layers.push_back({source ? GetSourceTitle(*source) : std::to_string(id), id, base});
  };
  for (int32_t id : service.BaseLayers()) add(id, true);
  for (int32_t id : service.Overlays()) add(id, false);
  std::string page = BuildOpenLayersPage(page_template, page_layers);
  out.assign(page.begin(), page.end());
}

void CWmtsServer::MakeMissingTilePng(std::vector<uint8_t>& out, const char* text) {
  out.clear();
  CBitmap image;
  if (!image.Create(256, 256, 0xFFFFFFFFu)) return;
  {
    CGraphics graphics(image);
    SharedTextRenderer().DrawTextF(graphics, 100, 100, "%s", text);
  }
  std::string error;
  if (!EncodeImage(image, ImageType::kPng, &out, {}, &error)) {
    AppLog("the placeholder tile cannot be encoded: %s", error.c_str());
    out.clear();
  }
}

const std::vector<uint8_t>& CWmtsServer::MissingTilePng() {
  // The picture never changes: drawn and encoded once, then shared by every answer.
  std::call_once(placeholder_once_, [this] { MakeMissingTilePng(placeholder_png_, kMissingTileText); });
  return placeholder_png_;
}

// ---- browser ---------------------------------------------------------------------------------------

std::string CWmtsServer::ServiceUrl(const CWmtsService& service, bool local) const {
  if (local) return "http://localhost:" + std::to_string(service.Port());
  std::string address = PublicAddress();
  if (address.empty()) address = "localhost";
  return "http://" + address + ":" + std::to_string(service.Port());
}

bool CWmtsServer::OpenServiceInBrowser(const CWmtsService& service, bool local) {
  std::string url = ServiceUrl(service, local);
  if (options_.browser_command.empty()) return false;
  std::string error;
  if (SpawnProgram({options_.browser_command, url}, {}, &error) < 0) {
    AppLog("the browser could not be started for %s: %s", url.c_str(), error.c_str());
    return false;
  }
  return true;
}

// ---- public address ----------------------------------------------------------------------------------

std::string CWmtsServer::PublicAddress() const {
  std::lock_guard<std::mutex> lock(address_lock_);
  return public_address_;
}

void CWmtsServer::SetPublicAddress(const std::string& address) {
  std::lock_guard<std::mutex> lock(address_lock_);
  public_address_ = address;
}

void CWmtsServer::WaitPublicIpThread() { public_ip_thread_.Stop(kInfinite); }

void CWmtsServer::PublicIpThreadProc() {
  public_ip_thread_.SignalReady();
  // The own host name gives at least the local network address (a loopback address would send
  // other machines to themselves, so it is not taken).
  if (options_.resolve_own_host_name) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) {
      if (std::optional<uint32_t> own = ResolveIPv4(name, true, &public_ip_quit_, options_.ip_echo_timeout_ms))
        SetPublicAddress(FormatIPv4(*own));
    }
  }
  std::string echo = options_.ip_echo_host ? *options_.ip_echo_host
                                           : GetProfileString(kIpEchoSection, kIpEchoKey, "");
  std::string host;
  uint16_t port = 80;
  if (echo.empty() || !SplitHostPort(echo, &host, &port)) return;
  if (public_ip_quit_.IsSet()) return;
  std::string error;
  UniqueFd fd = ConnectTcp(host, port, options_.ip_echo_timeout_ms, &public_ip_quit_, &error);
  if (!fd.Valid()) {
    Trace("ip echo: %s", error.c_str());
    return;
  }
  std::string request = "GET / HTTP/1.1\r\nHost: " + echo + "\r\n\r\n";
  size_t offset = 0;
  while (offset < request.size()) {
    size_t sent = 0;
    IoStatus status = SendSome(fd.Get(), request.data() + offset, request.size() - offset, &sent);
    if (status == IoStatus::kOk) {
      offset += sent;
    } else if (status != IoStatus::kWouldBlock ||
               WaitSocket(fd.Get(), false, true, &public_ip_quit_,
                          static_cast<int>(options_.ip_echo_timeout_ms)) != WaitResult::kReady) {
      return;
    }
  }
  std::string reply = ReadShortReply(fd.Get(), kIpEchoReplyLimit, options_.ip_echo_timeout_ms, &public_ip_quit_);
  fd.Reset();
  std::string_view text = TrimAscii(reply);
  size_t blank = text.find("\r\n\r\n");
  if (blank != std::string_view::npos) text = TrimAscii(text.substr(blank + 4));
  // Only a plain dotted address is taken: the text goes into pages and URLs.
  if (!text.empty() && ParseIPv4(text)) {
    AppLog("The Internet IP : %s", std::string(text).c_str());
    SetPublicAddress(std::string(text));
  }
}

CWmtsServer& WmtsServer() {
  static CWmtsServer server;
  return server;
}

}  // namespace velmora
