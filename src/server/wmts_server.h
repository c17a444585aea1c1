// CWmtsServer: the map publishing server. It lets other programs read the local tile store as a
// WMTS-style tile service over HTTP/1.0 and serves an example OpenLayers page with its script.
// One global object (WmtsServer()) lives for the whole run; it owns the published services
// ("wmts.dat"), the embedded web files, the MIME table, the machine's public address and the
// request log. Each service accepts on its own thread and runs one thread per connection; all
// of them answer through ParseRequest.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/work_thread.h"
#include "platform/net.h"
#include "server/wmts_request.h"
#include "server/wmts_request_log.h"
#include "server/wmts_service.h"
#include "server/wmts_web_files.h"

namespace velmora {

class CTileManager;

// The text of the placeholder picture for a tile that is not stored yet.
inline constexpr const char kMissingTileText[] = "不存在,请稍后刷新";
// The services file in the data folder.
inline constexpr const char kServicesFileName[] = "wmts.dat";
inline constexpr uint32_t kServicesFileTag = 1;
inline constexpr uint32_t kServicesFileSchema = 37;
// Profile settings: the request log switch (section "option") and the IP-echo host.
inline constexpr const char kRequestLogSection[] = "option";
inline constexpr const char kRequestLogKey[] = "wmtslog";
inline constexpr const char kRequestLogFileName[] = "wmts.log";
inline constexpr const char kIpEchoSection[] = "wmts";
inline constexpr const char kIpEchoKey[] = "ip_echo_host";

// Limits and hooks of the server, set before Start.
struct WmtsServerOptions {
  uint16_t default_port = 80;            // port of the default service "google"
  size_t header_limit = kMaxRequestHeader;
  unsigned header_timeout_ms = 15000;    // from a request's first byte to its blank line
  unsigned idle_timeout_ms = 60000;      // a kept-alive connection without a request
  unsigned send_timeout_ms = 30000;      // an answer that makes no progress
  size_t max_clients_per_service = 512;  // connections past this are closed at once
  // "host" or "host:port" of the IP-echo service (HTTP); unset: the profile's "wmts" /
  // "ip_echo_host". Empty (the default: web hosts are configuration): no echo is asked and the
  // public address stays the machine's own network address.
  std::optional<std::string> ip_echo_host;
  // The public-address thread first takes the address the machine's own host name resolves to
  // (loopback addresses skipped); false leaves that out.
  bool resolve_own_host_name = true;
  unsigned ip_echo_timeout_ms = 10000;
  std::string services_path;             // "" -> data folder + "wmts.dat"
  std::string browser_command = "xdg-open";
  CTileManager* tiles = nullptr;         // null -> the application's TileManager()
};

// What the server holds besides its web files: the published services, in the order of their
// creation and of "wmts.dat", and the request log.
class CWmtsServiceList {
 public:
  CWmtsServiceList() = default;
  virtual ~CWmtsServiceList() = default;

 protected:
  std::vector<std::unique_ptr<CWmtsService>> services_;  // order of creation and of the file
  CWmtsRequestLog request_log_;
};

class CWmtsServer : public CWmtsServiceList, public CWmtsWebFiles {
 public:
  CWmtsServer();
  // Stops and deletes every service and the public-address thread.
  ~CWmtsServer() override;

  WmtsServerOptions& Options() { return options_; }
  const WmtsServerOptions& Options() const { return options_; }

  // Start-up: fills the MIME table and loads the web files. Loaded: starts the public-address
  // thread, opens the request log when "wmtslog" is on, and loads and starts the services.
  // Missing: the MIME table is emptied again and the services are only loaded (not started), so
  // that a later save keeps them. True when the web files were loaded.
  bool Start();
  // Stops the accept threads and the connections of every service on that port (0: of all
  // services, and the public-address thread too). Services stay in the list.
  void StopServices(uint16_t port);

  // ---- the services file and the list (user-interface thread) ----
  // Reads "wmts.dat" (once per run; later calls do nothing) and starts each service read when
  // `start`. An empty list gets the default service "google" (default_port, base layers 35 and
  // 0, overlay 7), which is not written until the services change.
  void LoadServices(bool start = true);
  // Rewrites "wmts.dat" atomically with every service in list order. A file that could not be
  // read at the load is kept as "wmts.dat.damaged" first. False (logged) when it cannot be
  // written; the old file is then untouched.
  bool SaveServices();
  // A new stopped service, appended.
  CWmtsService* AddService(const std::string& name, uint16_t port);
  // Stops, deletes and removes the first service of that port (0: every service).
  void RemoveServices(uint16_t port);
  // False when a service of the list has the port or no socket can be bound on it now.
  bool IsPortFree(uint16_t port);
  // Services in list order (the list must not change while the result is used).
  std::vector<CWmtsService*> Services();

  // ---- requests (client threads) ----
  // Builds the whole answer (header and body) for one request into `out`; sets keep_alive.
  // False: nothing is to be sent and the connection is to be closed.
  bool ParseRequest(CWmtsService& service, uint32_t peer_address, std::string_view request,
                    std::vector<uint8_t>& out, bool& keep_alive);
  // The example page of a service; empty when the template is missing.
  void WriteOpenLayersPage(const CWmtsService& service, std::vector<uint8_t>& out);
  // A 256 x 256 opaque white PNG with the text drawn at (100, 100).
  static void MakeMissingTilePng(std::vector<uint8_t>& out, const char* text);
  // Opens http://localhost:<port> (local) or http://<public address>:<port> with the desktop's
  // browser (xdg-open, started directly, not through a shell). False when it cannot be started.
  bool OpenServiceInBrowser(const CWmtsService& service, bool local);
  // The URL OpenServiceInBrowser opens.
  std::string ServiceUrl(const CWmtsService& service, bool local) const;

  // ---- public address ----
  std::string PublicAddress() const;
  // The public-address thread's procedure (once per run): the own host name's first IPv4
  // address, then the IP-echo service's answer when it is a dotted IPv4 address.
  void PublicIpThreadProc();
  // Waits until the public-address thread has ended (tests).
  void WaitPublicIpThread();

  // The MIME type of an extension ("text/html" when the table has none).
  std::string MimeType(std::string_view extension) const;
  size_t MimeTypeCount() const;
  void InitMimeTypes();

  CWmtsRequestLog& RequestLog() { return request_log_; }
  std::string ServicesPath() const;

 private:
  CTileManager& Tiles() const;
  const std::vector<uint8_t>& MissingTilePng();
  void SetPublicAddress(const std::string& address);

  WmtsServerOptions options_;

  mutable std::mutex response_lock_;  // the response tables: the MIME table
  std::map<std::string, std::string> mime_types_;

  mutable std::mutex address_lock_;
  std::string public_address_;

  std::once_flag placeholder_once_;
  std::vector<uint8_t> placeholder_png_;

  bool services_loaded_ = false;
  bool services_file_damaged_ = false;

  WakeEvent public_ip_quit_;
  CWorkThread public_ip_thread_;
};

// The global server (constructed on first use).
CWmtsServer& WmtsServer();

}  // namespace velmora
