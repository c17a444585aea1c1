// CWmtsServer: the map publishing server. It lets other programs read the local tile store as a
// WMTS-style tile service over HTTP/1.0 and serves an example OpenLayers page with its script.
// One global object (WmtsServer()) lives for the whole run; it owns the published services
// ("wmts.dat"), the embedded web files, the MIME table, the machine's public address and the
// request log. Each service accepts on its own thread and hands its connections to a small pool
// of event loops (CWmtsEventLoops) that read, answer through the request handler and send.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/work_thread.h"
#include "platform/net.h"
#include "server/wmts_event_loop.h"
#include "server/wmts_request.h"
#include "server/wmts_request_log.h"
#include "server/wmts_service.h"
#include "server/wmts_web_files.h"

namespace velmora {

class CLayerManager;
class CTileManager;

// The text of the placeholder picture for a tile that is not stored yet.
inline constexpr const char kMissingTileText[] = "不存在,请稍后刷新";
// The services file in the data folder.
inline constexpr const char kServicesFileName[] = "wmts.dat";
inline constexpr uint32_t kServicesFileTag = 1;
inline constexpr uint32_t kServicesFileSchema = 37;
// Most services the list holds; records of "wmts.dat" past it are not loaded (and the file is
// kept aside before it is rewritten).
inline constexpr size_t kMaxServices = 256;
// Port of the default service: one that a normal user may listen on (the example script's own).
inline constexpr uint16_t kDefaultServicePort = 8888;
// Profile settings: the request log switch (section "option") and the IP-echo host.
inline constexpr const char kRequestLogSection[] = "option";
inline constexpr const char kRequestLogKey[] = "wmtslog";
inline constexpr const char kRequestLogFileName[] = "wmts.log";
inline constexpr const char kIpEchoSection[] = "wmts";
inline constexpr const char kIpEchoKey[] = "ip_echo_host";

// Why a service could not listen on its port.
enum class ListenFailure {
  kPortInUse,     // another program (or service) has the port
  kNoPermission,  // a privileged port (below 1024) without the right to it
  kOther,         // no descriptors left, no thread, or another socket error
};
struct ServiceListenFailure {
  std::string name;
  uint16_t port = 0;
  ListenFailure reason = ListenFailure::kOther;
  std::string message;  // the text for the user, with the service, the port and the reason
};

// Limits and hooks of the server, set before Start.
struct WmtsServerOptions {
  uint16_t default_port = kDefaultServicePort;  // port of the default service "google"
  size_t header_limit = kMaxRequestHeader;
  unsigned header_timeout_ms = 15000;    // from a connection's start or a request's first byte
                                         // to its blank line
  unsigned pressed_header_timeout_ms = 2000;  // the same when the service is (nearly) full
  unsigned idle_timeout_ms = 60000;      // a kept-alive connection without a request
  unsigned send_timeout_ms = 30000;      // an answer that makes no progress
  // When the service is full a new connection takes the place of one that has not finished its
  // request within this time, else of the longest idle one; it is refused only when all others
  // are being answered.
  unsigned slow_request_grace_ms = 1000;
  size_t max_clients_per_service = 512;
  size_t max_clients_per_address = 128;   // connections of one client address
  size_t max_incomplete_per_address = 16; // of them without a whole request header
  unsigned event_threads = 0;             // event loops; 0: one per processor, at most 8
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
  const CLayerManager* layers = nullptr;  // null -> the application's LayerManager()
  // Where failures that the user must hear of go (src/app shows them in a message box). Called
  // on the thread that met the failure.
  std::function<void(const ServiceListenFailure&)> listen_failure_sink;
  std::function<void(const std::string& message)> notice_sink;  // services file problems
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
  // A service is about to listen (the services dialog starts one) while Start never ran: the
  // publishing option was off at start-up. Once per run, does what Start does before it turns to
  // the services: fills the MIME table, loads the web files and starts the public-address thread;
  // the saved services are neither loaded nor started here. With the web files missing the MIME
  // table stays empty (answers typed "text/html", no example page), as after Start.
  void PrepareForServices();
  // Stops the accept threads and the connections of every service on that port (0: of all
  // services, and the public-address thread too). Services stay in the list.
  void StopServices(uint16_t port);

  // ---- the services file and the list (user-interface thread) ----
  // Reads "wmts.dat" (once per run; later calls do nothing) and starts each service read when
  // `start` (a service that cannot listen is reported through listen_failure_sink and stays
  // stopped). An empty list gets the default service "google" (default_port, base layers 35 and
  // 0, overlay 7), which is not written until the services change. Records past kMaxServices
  // are not loaded (reported through notice_sink). Loading opens no descriptor.
  void LoadServices(bool start = true);
  // Rewrites "wmts.dat" atomically with every service in list order. A file that could not be
  // read (or not read whole) at the load is copied to "wmts.dat.damaged" first; when that copy
  // fails nothing is written (reported through notice_sink). False (logged) when nothing was
  // written; the old file is then untouched.
  bool SaveServices();
  // A new stopped service, appended; null (reported) when the list holds kMaxServices.
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
  // The same answer as the connections send it (a web file's bytes are not copied).
  bool BuildResponse(CWmtsService& service, uint32_t peer_address, std::string_view request, WmtsResponse& out,
                     bool& keep_alive);
  // The example page of a service; empty when the template is missing.
  void WriteOpenLayersPage(const CWmtsService& service, std::vector<uint8_t>& out);
  // A 256 x 256 opaque white PNG with the text drawn at (100, 100).
  static void MakeMissingTilePng(std::vector<uint8_t>& out, const char* text);
  // Opens http://localhost:<port> (local) or http://<public address>:<port> with the desktop's
  // browser (xdg-open, started with posix_spawn in a session of its own, not through a shell).
  // False when it cannot be started.
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

  // ---- for the services ----
  // The event loops that carry every service's connections; started on first use. False when
  // they cannot be started (no descriptors or threads left).
  bool StartLoops();
  CWmtsEventLoops& Loops() { return loops_; }
  // Tells the user (through listen_failure_sink, and the log) that a service cannot listen;
  // `error_number` is the socket error (0 for another cause, told by `detail`).
  void ReportListenFailure(const CWmtsService& service, int error_number, const std::string& detail);
  void ReportNotice(const std::string& message);

 private:
  CTileManager& Tiles() const;
  const CLayerManager& Layers() const;
  const std::vector<uint8_t>& MissingTilePng();
  void SetPublicAddress(const std::string& address);
  // The MIME table, the web files and the public-address thread; false when the web files are
  // missing (the MIME table is then empty).
  bool PrepareAnswers();

  WmtsServerOptions options_;

  mutable std::mutex response_lock_;  // the response tables: the MIME table
  std::map<std::string, std::string> mime_types_;

  mutable std::mutex address_lock_;
  std::string public_address_;

  std::once_flag placeholder_once_;
  std::vector<uint8_t> placeholder_png_;

  std::mutex prepare_lock_;
  bool prepared_ = false;  // Start or PrepareForServices ran (prepare_lock_)

  bool services_loaded_ = false;
  bool services_file_damaged_ = false;  // or not read whole: kept aside before a rewrite

  WakeEvent public_ip_quit_;
  CWorkThread public_ip_thread_;

  CWmtsEventLoops loops_;  // stopped (with no connection left) before the services go
};

// The user's text for a service that cannot listen.
std::string ListenFailureMessage(const std::string& service_name, uint16_t port, ListenFailure reason,
                                 const std::string& detail);

// The global server (constructed on first use).
CWmtsServer& WmtsServer();

}  // namespace velmora
