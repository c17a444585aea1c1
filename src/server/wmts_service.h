// CWmtsService: one published map service: a listening TCP port with a name and an ordered
// choice of base layers and overlays (which shape the example page only), its accept thread, its
// open connections (CWmtsClient), the record of every peer that connected, and byte counters.
// Stored in "wmts.dat" by Serialize.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "platform/net.h"

namespace velmora {

class ArchiveReader;
class ArchiveWriter;
class CWmtsClient;
class CWmtsServer;

// First connection and last disconnection of one peer address, as millisecond ticks
// (TickCount64); 0 = none recorded.
struct PeerRecord {
  uint64_t first_tick = 0;
  uint64_t last_tick = 0;
};

// Short byte-size text (at most 20 characters): "532 bytes", "1.30 KB", "12.3 MB", "123 GB"
// (three significant digits, truncated).
std::string FormatByteSize(uint64_t bytes);

class CWmtsService {
 public:
  // Named "google", stopped, no layers, counters 0.
  CWmtsService(CWmtsServer* server, uint16_t port);
  // Stops the accept thread and every client, then frees them.
  ~CWmtsService();
  CWmtsService(const CWmtsService&) = delete;
  CWmtsService& operator=(const CWmtsService&) = delete;

  CWmtsServer& Server() const { return *server_; }

  // ---- settings (changed on the user-interface thread, read by client threads) ----
  std::string Name() const;
  void SetName(const std::string& name);
  uint16_t Port() const { return port_.load(std::memory_order_acquire); }
  // Takes effect at the next StartAccept.
  void SetPort(uint16_t port) { port_.store(port, std::memory_order_release); }
  std::vector<int32_t> BaseLayers() const;
  std::vector<int32_t> Overlays() const;
  void SetLayers(std::vector<int32_t> base_layers, std::vector<int32_t> overlays);

  // "wmts.dat" form: u16 port, archive string name (GBK), u32 count and the base-layer ids, u32
  // count and the overlay ids. Loading appends to the id lists; ArchiveError when cut short.
  void Serialize(ArchiveWriter& ar) const;
  void Serialize(ArchiveReader& ar);

  // ---- running ----
  // Starts the accept thread and waits until it listens (or failed to). True when the service
  // now accepts connections; false when it already ran or the port cannot be had (the service
  // stays stopped).
  bool StartAccept();
  // Stops the accept thread; connections stay.
  void Stop();
  // Stops every connection (closing them) and waits for their threads.
  void StopClients();
  // Stopped: starts accepting. Running: stops accepting and closes every connection.
  void ToggleRunning();
  bool IsRunning() const { return accepting_.load(std::memory_order_acquire); }

  // ---- connections and peers ----
  // Deletes the finished clients, appends the new one and records its peer's first connection.
  void AddClient(std::shared_ptr<CWmtsClient> client);
  // Deletes the finished clients; returns how many remain (the active connections).
  int ReapClients();
  // Keeps the earlier first tick and the later last tick of a known address; adds a new one
  // with the values given (0 = not given).
  void RecordPeer(uint32_t address, uint64_t start_tick, uint64_t end_tick);
  std::map<uint32_t, PeerRecord> Peers() const;
  // Address and port of every client in the list, finished or not.
  std::vector<PeerAddress> Connections() const;

  // ---- counters (bytes since the service object was made) ----
  void AddReceived(uint64_t bytes);
  void AddSent(uint64_t bytes);
  uint64_t ReceivedBytes() const;
  uint64_t SentBytes() const;

  // ---- the services dialog ----
  // Column texts of the service list: 0 name, 1 port, 2 active connections (after reaping),
  // 3 received and 4 sent bytes.
  std::string DisplayText(int column);
  // 0 while accepting, 1 when stopped.
  int DisplayImage() const { return IsRunning() ? 0 : 1; }

 private:
  void AcceptThreadProc();
  // Moves the finished clients out of the list (caller holds client_lock_).
  std::vector<std::shared_ptr<CWmtsClient>> TakeFinishedLocked();

  CWmtsServer* server_;
  std::atomic<uint16_t> port_;

  mutable std::mutex settings_lock_;  // name and layer lists
  std::string name_ = "google";
  std::vector<int32_t> base_layers_;
  std::vector<int32_t> overlays_;

  mutable std::mutex client_lock_;  // client list and peer map
  std::vector<std::shared_ptr<CWmtsClient>> clients_;
  std::map<uint32_t, PeerRecord> peers_;

  mutable std::mutex counter_lock_;
  uint64_t received_ = 0;
  uint64_t sent_ = 0;

  std::mutex run_lock_;  // serialises StartAccept and Stop
  std::atomic<bool> accepting_{false};
  bool listen_failed_ = false;  // set by the accept thread before it signals its start
  WakeEvent quit_;
  CWorkThread accept_thread_;  // last: joined before the members it uses go
};

}  // namespace velmora
