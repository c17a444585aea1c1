// CWmtsService: one published map service: a listening TCP port with a name and an ordered
// choice of base layers and overlays (which shape the example page only), its accept thread, its
// open connections (CWmtsClient, carried by the server's event loops), the record of every peer
// that connected, and byte counters. Stored in "wmts.dat" by Serialize.
//
// No client can shut the others out: a client address may hold only so many connections (and
// fewer that dawdle over their request); when the service is full a new connection takes the
// place of one that has not sent its request (or read its answer) in time, else of the longest
// idle one, and is refused only when every other connection is being answered; then clients
// whose connections dawdled before lose theirs first. While the service has room (the process
// is short of descriptors) a client's past does not count: the oldest connection goes. The
// header time-out shortens as the service fills.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
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
  // Named "google", stopped, no layers, counters 0. Opens no descriptor: the wake-up of the
  // accept thread and the listening socket are made when the service starts.
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
  // Listens on the port and starts the accept thread. True when the service now accepts
  // connections; false when it already ran or cannot listen: the service stays stopped and the
  // failure (port in use, no permission, ...) is reported through the server's
  // listen_failure_sink.
  bool StartAccept();
  // Stops the accept thread; connections stay.
  void Stop();
  // Closes every connection and waits until they are closed.
  void StopClients();
  // Stopped: starts accepting. Running: stops accepting and closes every connection.
  void ToggleRunning();
  bool IsRunning() const { return accepting_.load(std::memory_order_acquire); }

  // ---- connections and peers ----
  // Admits a new connection: deletes the finished clients, makes room when the service is full
  // (see the top of this file), appends the client, hands it to an event loop and records its
  // peer's first connection. A refused connection is closed at once (its peer is recorded with
  // its start and end). False when refused.
  bool AddClient(std::shared_ptr<CWmtsClient> client);
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

  // ---- for the connections ----
  // The header time-out now: the full one while the service is at most half full, shortening to
  // the pressed one as it fills.
  unsigned HeaderTimeoutNow() const;
  // A connection was marked for closing: its place, also among its address's, is free.
  void OnClientClosing(uint32_t address);
  // A connection's socket was closed: its peer's end is recorded and it is finished. `dawdled`:
  // it ended without ever sending a whole request (its address is remembered for that).
  void OnClientFinished(CWmtsClient& client, bool dawdled);
  // Connections not marked for closing.
  int LiveClients() const { return live_.load(std::memory_order_acquire); }

 private:
  void AcceptThreadProc(int listener);
  // Moves the finished clients out of the list (caller holds client_lock_).
  std::vector<std::shared_ptr<CWmtsClient>> TakeFinishedLocked();
  // Chooses a connection to close for a new one and marks it (caller holds client_lock_): one
  // that has not finished its request (or whose answer has not moved) within the grace time,
  // else the longest idle one, else one younger than the grace without a whole request. Only
  // connections of `address` when given; only those past the grace without a whole request
  // when `incomplete_only`. With `by_strikes`, among connections without a whole request those
  // of clients whose connections ended without one before go first; without it (the service
  // still has room) the oldest goes first, whoever its client. Null when none may go.
  std::shared_ptr<CWmtsClient> EvictLocked(uint64_t now, const uint32_t* address, bool incomplete_only,
                                           bool by_strikes);
  // Makes room when no descriptor is left for the next connection: closes one connection and
  // waits (briefly) until its descriptor is free, so that one shortage never closes several.
  // True when one was closed.
  bool EvictForDescriptor();
  // Remembers that a connection of the address ended without a request (caller holds
  // peer_lock_).
  void RecordDawdlerLocked(uint32_t address, uint64_t now);
  // How many of the address's connections ended without a request lately (caller holds
  // peer_lock_).
  uint32_t StrikesLocked(uint32_t address, uint64_t now) const;

  CWmtsServer* server_;
  std::atomic<uint16_t> port_;

  mutable std::mutex settings_lock_;  // name and layer lists
  std::string name_ = "google";
  std::vector<int32_t> base_layers_;
  std::vector<int32_t> overlays_;

  // The loops never wait for client_lock_, which the accept thread holds while it looks for a
  // connection to close: a connection's end takes only peer_lock_, finish_lock_ and
  // address_lock_, each for a moment.
  mutable std::mutex client_lock_;  // the client list
  std::vector<std::shared_ptr<CWmtsClient>> clients_;
  mutable std::mutex peer_lock_;  // the peer map and the addresses that ended without a request
  std::map<uint32_t, PeerRecord> peers_;
  struct Dawdler {
    uint32_t strikes = 0;
    uint64_t tick = 0;
  };
  std::unordered_map<uint32_t, Dawdler> dawdlers_;  // bounded
  std::mutex finish_lock_;
  std::condition_variable client_finished_;  // with finish_lock_: a client has finished
  // Connections of each address not marked for closing. Its own lock, taken inside client_lock_
  // or alone: a connection is marked for closing with or without client_lock_ held.
  std::mutex address_lock_;
  std::map<uint32_t, size_t> per_address_;
  std::atomic<int> live_{0};                 // unfinished connections not marked for closing
  // The most connections of the last second: the pressure that the header time-out follows, so
  // that closing some slow clients does not at once lengthen the time-out of the others.
  std::atomic<int> peak_{0};
  std::atomic<uint64_t> peak_tick_{0};

  // Byte counters: added to by every connection of every loop, so atomic rather than locked.
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> sent_{0};

  std::mutex run_lock_;  // serialises StartAccept and Stop
  std::atomic<bool> accepting_{false};
  std::unique_ptr<WakeEvent> quit_;  // made when the service starts, freed when it stops
  CWorkThread accept_thread_;  // last: joined before the members it uses go
};

}  // namespace velmora
