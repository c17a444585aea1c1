// A published map service: its settings and file form, accept thread, clients, peers and
// counters.
#include "server/wmts_service.h"

#include <algorithm>

#include "core/archive.h"
#include "core/format.h"
#include "core/log.h"
#include "platform/sync.h"
#include "server/wmts_client.h"
#include "server/wmts_server.h"

namespace velmora {

namespace {

// A tick that is never 0, which stands for "none recorded".
uint64_t NonZeroTick() { return std::max<uint64_t>(TickCount64(), 1); }

}  // namespace

std::string FormatByteSize(uint64_t bytes) {
  if (bytes < 1024) return FormatC("%llu bytes", static_cast<unsigned long long>(bytes));
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  int unit = 0;
  // Value in the unit, in hundredths, truncated (as the system's formatting does).
  uint64_t scale = 1024;
  while (unit + 1 < 6 && bytes / scale >= 1024) {
    scale *= 1024;
    ++unit;
  }
  uint64_t whole = bytes / scale;
  uint64_t hundredths = (bytes % scale) * 100 / scale;
  if (whole >= 100) return FormatC("%llu %s", static_cast<unsigned long long>(whole), kUnits[unit]);
  if (whole >= 10)
    return FormatC("%llu.%llu %s", static_cast<unsigned long long>(whole),
                   static_cast<unsigned long long>(hundredths / 10), kUnits[unit]);
  return FormatC("%llu.%02llu %s", static_cast<unsigned long long>(whole),
                 static_cast<unsigned long long>(hundredths), kUnits[unit]);
}

CWmtsService::CWmtsService(CWmtsServer* server, uint16_t port) : server_(server), port_(port) {}

CWmtsService::~CWmtsService() {
  Stop();
  StopClients();
  std::lock_guard<std::mutex> lock(client_lock_);
  clients_.clear();
}

// ---- settings ----------------------------------------------------------------------------------

std::string CWmtsService::Name() const {
  std::lock_guard<std::mutex> lock(settings_lock_);
  return name_;
}

void CWmtsService::SetName(const std::string& name) {
  std::lock_guard<std::mutex> lock(settings_lock_);
  name_ = name;
}

std::vector<int32_t> CWmtsService::BaseLayers() const {
  std::lock_guard<std::mutex> lock(settings_lock_);
  return base_layers_;
}

std::vector<int32_t> CWmtsService::Overlays() const {
  std::lock_guard<std::mutex> lock(settings_lock_);
  return overlays_;
}

void CWmtsService::SetLayers(std::vector<int32_t> base_layers, std::vector<int32_t> overlays) {
  std::lock_guard<std::mutex> lock(settings_lock_);
  base_layers_ = std::move(base_layers);
  overlays_ = std::move(overlays);
}

void CWmtsService::Serialize(ArchiveWriter& ar) const {
  std::lock_guard<std::mutex> lock(settings_lock_);
  ar.U16(Port());
  ar.String(name_);
  for (const std::vector<int32_t>* ids : {&base_layers_, &overlays_}) {
    ar.U32(static_cast<uint32_t>(ids->size()));
    for (int32_t id : *ids) ar.U32(static_cast<uint32_t>(id));
  }
}

void CWmtsService::Serialize(ArchiveReader& ar) {
  uint16_t port = ar.U16();
  std::string name = ar.String();
  std::vector<int32_t> lists[2];
  for (std::vector<int32_t>& ids : lists) {
    uint32_t count = ar.Count(4);
    ids.reserve(count);
    for (uint32_t i = 0; i < count; ++i) ids.push_back(static_cast<int32_t>(ar.U32()));
  }
  SetPort(port);
  std::lock_guard<std::mutex> lock(settings_lock_);
  name_ = std::move(name);
  base_layers_.insert(base_layers_.end(), lists[0].begin(), lists[0].end());
  overlays_.insert(overlays_.end(), lists[1].begin(), lists[1].end());
}

// ---- running -----------------------------------------------------------------------------------

bool CWmtsService::StartAccept() {
  std::lock_guard<std::mutex> lock(run_lock_);
  if (accept_thread_.IsRunning()) return false;
  if (!quit_.Valid()) {
    AppLog("map service %u: no wake-up event can be made", Port());
    return false;
  }
  quit_.Reset();
  listen_failed_ = false;
  if (!accept_thread_.Start("WmtsAccept" + std::to_string(Port()), [this] { AcceptThreadProc(); }))
    return false;
  // The thread signals its start once it listens, or after it gave up.
  return !listen_failed_;
}

void CWmtsService::Stop() {
  std::lock_guard<std::mutex> lock(run_lock_);
  quit_.Set();
  accept_thread_.Stop(3000);  // logs a thread that is late and waits on: it always ends
  accept_thread_.OnExit();
}

void CWmtsService::StopClients() {
  std::vector<std::shared_ptr<CWmtsClient>> clients;
  {
    std::lock_guard<std::mutex> lock(client_lock_);
    clients = clients_;
  }
  // All are asked first so that they close in parallel; the waits then end quickly.
  for (const auto& client : clients) client->RequestStop();
  for (const auto& client : clients) client->Stop(3000);
  ReapClients();
}

void CWmtsService::ToggleRunning() {
  if (!IsRunning()) {
    StartAccept();
    return;
  }
  // Accepting stops first so that no connection arrives after the clients were stopped.
  Stop();
  StopClients();
}

void CWmtsService::AcceptThreadProc() {
  const uint16_t port = Port();
  std::string error;
  UniqueFd listener = ListenTcp(port, false, &error);
  if (!listener.Valid()) {
    AppLog("map service %u cannot listen: %s", port, error.c_str());
    listen_failed_ = true;
    accept_thread_.SignalReady();
    return;
  }
  accepting_.store(true, std::memory_order_release);
  accept_thread_.SignalReady();
  Trace("wmts server accept start...");

  const WmtsServerOptions& options = server_->Options();
  for (;;) {
    WaitResult waited = WaitSocket(listener.Get(), true, false, &quit_, -1);
    if (waited != WaitResult::kReady) break;
    for (;;) {
      PeerAddress peer;
      IoStatus status = IoStatus::kOk;
      UniqueFd socket = AcceptTcp(listener.Get(), &peer, &status);
      if (!socket.Valid()) {
        // Out of descriptors or memory: the connection stays queued and the listener keeps
        // polling readable, so pause a little (a stop cuts the pause short) instead of spinning.
        if (status == IoStatus::kError) WaitSocket(quit_.Fd(), true, false, nullptr, 100);
        break;
      }
      if (static_cast<size_t>(ReapClients()) >= options.max_clients_per_service) {
        Trace("connection refused: %u clients", static_cast<unsigned>(options.max_clients_per_service));
        continue;  // closed at once
      }
      auto client = std::make_shared<CWmtsClient>(std::move(socket), peer, this);
      AddClient(client);
      client->StartThread();
    }
  }
  accepting_.store(false, std::memory_order_release);
}

// ---- connections and peers -----------------------------------------------------------------------

std::vector<std::shared_ptr<CWmtsClient>> CWmtsService::TakeFinishedLocked() {
  std::vector<std::shared_ptr<CWmtsClient>> finished;
  auto keep = std::stable_partition(clients_.begin(), clients_.end(),
                                    [](const auto& c) { return !c->IsFinished(); });
  finished.assign(std::make_move_iterator(keep), std::make_move_iterator(clients_.end()));
  clients_.erase(keep, clients_.end());
  return finished;
}

void CWmtsService::AddClient(std::shared_ptr<CWmtsClient> client) {
  uint32_t address = client->PeerIp();
  std::vector<std::shared_ptr<CWmtsClient>> finished;
  {
    std::lock_guard<std::mutex> lock(client_lock_);
    finished = TakeFinishedLocked();
    clients_.push_back(std::move(client));
  }
  finished.clear();  // joined and freed outside the lock
  RecordPeer(address, NonZeroTick(), 0);
}

int CWmtsService::ReapClients() {
  std::vector<std::shared_ptr<CWmtsClient>> finished;
  int remaining;
  {
    std::lock_guard<std::mutex> lock(client_lock_);
    finished = TakeFinishedLocked();
    remaining = static_cast<int>(clients_.size());
  }
  return remaining;
}

void CWmtsService::RecordPeer(uint32_t address, uint64_t start_tick, uint64_t end_tick) {
  std::lock_guard<std::mutex> lock(client_lock_);
  auto [it, added] = peers_.try_emplace(address, PeerRecord{start_tick, end_tick});
  if (added) return;
  PeerRecord& r = it->second;
  if (start_tick != 0 && (r.first_tick == 0 || start_tick < r.first_tick)) r.first_tick = start_tick;
  if (end_tick != 0 && end_tick > r.last_tick) r.last_tick = end_tick;
}

std::map<uint32_t, PeerRecord> CWmtsService::Peers() const {
  std::lock_guard<std::mutex> lock(client_lock_);
  return peers_;
}

std::vector<PeerAddress> CWmtsService::Connections() const {
  std::lock_guard<std::mutex> lock(client_lock_);
  std::vector<PeerAddress> out;
  out.reserve(clients_.size());
  for (const auto& c : clients_) out.push_back({c->PeerIp(), c->PeerPort()});
  return out;
}

// ---- counters ------------------------------------------------------------------------------------

void CWmtsService::AddReceived(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(counter_lock_);
  received_ += bytes;
}

void CWmtsService::AddSent(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(counter_lock_);
  sent_ += bytes;
}

uint64_t CWmtsService::ReceivedBytes() const {
  std::lock_guard<std::mutex> lock(counter_lock_);
  return received_;
}

uint64_t CWmtsService::SentBytes() const {
  std::lock_guard<std::mutex> lock(counter_lock_);
  return sent_;
}

// ---- the services dialog -------------------------------------------------------------------------

std::string CWmtsService::DisplayText(int column) {
  switch (column) {
    case 0: return Name();
    case 1: return std::to_string(Port());
    case 2: return std::to_string(ReapClients());
    case 3: return FormatByteSize(ReceivedBytes());
    case 4: return FormatByteSize(SentBytes());
    default: return std::string();
  }
}

}  // namespace velmora
