// A published map service: its settings and file form, accept thread, clients, peers and
// counters.
#include "server/wmts_service.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "core/archive.h"
#include "core/format.h"
#include "core/log.h"
#include "platform/sync.h"
#include "server/wmts_client.h"
#include "server/wmts_event_loop.h"
#include "server/wmts_server.h"

namespace velmora {

namespace {

// How long the most connections seen count as the service's load.
constexpr uint64_t kPeakMs = 1000;
// How long the accept thread waits for a connection closed for a descriptor to be gone.
constexpr int kDescriptorWaitMs = 200;
// Addresses whose connections dawdled: how long one is remembered, and how many at most.
constexpr uint64_t kDawdlerMemoryMs = 60000;
constexpr size_t kMaxDawdlers = 4096;

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
  // A service started from the dialogs while publishing was off at start-up: the server's answers
  // (MIME types, web files) are made ready first.
  server_->PrepareForServices();
  std::lock_guard<std::mutex> lock(run_lock_);
  if (accept_thread_.IsRunning()) return false;
  const uint16_t port = Port();
  if (!quit_) quit_ = std::make_unique<WakeEvent>();
  if (!quit_->Valid()) {
    quit_.reset();
    server_->ReportListenFailure(*this, EMFILE, "no wake-up event can be made");
    return false;
  }
  std::string error;
  int error_number = 0;
  UniqueFd listener = ListenTcp(port, false, &error, &error_number);
  if (!listener.Valid()) {
    quit_.reset();
    server_->ReportListenFailure(*this, error_number, error);
    return false;
  }
  if (!server_->StartLoops()) {
    quit_.reset();
    server_->ReportListenFailure(*this, 0, "the event loops cannot be started");
    return false;
  }
  quit_->Reset();
  accepting_.store(true, std::memory_order_release);
  // The thread owns the listener from here; it closes it when it ends.
  const int fd = listener.Release();
  if (!accept_thread_.Start("WmtsAccept" + std::to_string(port), [this, fd] { AcceptThreadProc(fd); })) {
    ::close(fd);
    accepting_.store(false, std::memory_order_release);
    quit_.reset();
    server_->ReportListenFailure(*this, 0, "the accept thread cannot be started");
    return false;
  }
  return true;
}

void CWmtsService::Stop() {
  std::lock_guard<std::mutex> lock(run_lock_);
  if (quit_) quit_->Set();
  accept_thread_.Stop(3000);  // logs a thread that is late and waits on: it always ends
  accept_thread_.OnExit();
  quit_.reset();
}

void CWmtsService::StopClients() {
  std::vector<std::shared_ptr<CWmtsClient>> clients;
  {
    std::lock_guard<std::mutex> lock(client_lock_);
    clients = clients_;
  }
  // All are asked first so that they close in parallel.
  for (const auto& client : clients) {
    if (client->BeginClose() && client->Loop()) client->Loop()->PostClose(client);
  }
  {
    std::unique_lock<std::mutex> lock(finish_lock_);
    auto all_finished = [&] {
      return std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->IsFinished(); });
    };
    // A loop closes a connection as soon as it reads its queue; a late one is logged and waited for.
    if (!client_finished_.wait_for(lock, std::chrono::milliseconds(3000), all_finished)) {
      AppLog("map service %u: connections are slow to close", Port());
      client_finished_.wait(lock, all_finished);
    }
  }
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

void CWmtsService::AcceptThreadProc(int listener_fd) {
  UniqueFd listener(listener_fd);
  accept_thread_.SignalReady();
  Trace("wmts server accept start...");
  for (;;) {
    WaitResult waited = WaitSocket(listener.Get(), true, false, quit_.get(), -1);
    if (waited != WaitResult::kReady) break;
    // A batch at a time, then the quit event is looked at again.
    for (int i = 0; i < 256; ++i) {
      PeerAddress peer;
      IoStatus status = IoStatus::kOk;
      UniqueFd socket = AcceptTcp(listener.Get(), &peer, &status);
      if (!socket.Valid()) {
        if (status == IoStatus::kError) {
          // Out of descriptors (or memory): the connection stays queued and the listener keeps
          // polling readable. A connection that may go makes room; otherwise pause a little
          // (a stop cuts the pause short) instead of spinning.
          WaitSocket(quit_->Fd(), true, false, nullptr, EvictForDescriptor() ? 2 : 100);
        }
        break;
      }
      AddClient(std::make_shared<CWmtsClient>(std::move(socket), peer, this));
    }
  }
  accepting_.store(false, std::memory_order_release);
}

void CWmtsService::OnClientClosing(uint32_t address) {
  live_.fetch_sub(1, std::memory_order_acq_rel);
  std::lock_guard<std::mutex> lock(address_lock_);
  auto it = per_address_.find(address);
  if (it != per_address_.end() && --it->second == 0) per_address_.erase(it);
}

unsigned CWmtsService::HeaderTimeoutNow() const {
  const WmtsServerOptions& o = server_->Options();
  const unsigned full = o.header_timeout_ms, pressed = std::min(o.pressed_header_timeout_ms, full);
  const double cap = static_cast<double>(std::max<size_t>(o.max_clients_per_service, 1));
  int live = live_.load(std::memory_order_relaxed);
  if (TickCount64() - peak_tick_.load(std::memory_order_relaxed) < kPeakMs)
    live = std::max(live, peak_.load(std::memory_order_relaxed));
  const double load = live / cap;
  // Full time-out up to half the places taken, the pressed one from nine tenths, linear between.
  constexpr double kFrom = 0.5, kTo = 0.9;
  if (load <= kFrom) return full;
  if (load >= kTo) return pressed;
  return static_cast<unsigned>(full - (full - pressed) * (load - kFrom) / (kTo - kFrom));
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

void CWmtsService::RecordDawdlerLocked(uint32_t address, uint64_t now) {
  if (dawdlers_.size() >= kMaxDawdlers) {
    // Bounded: the stale records go, and all of them if that is not enough.
    for (auto it = dawdlers_.begin(); it != dawdlers_.end();)
      it = now - it->second.tick >= kDawdlerMemoryMs ? dawdlers_.erase(it) : std::next(it);
    if (dawdlers_.size() >= kMaxDawdlers) dawdlers_.clear();
  }
  Dawdler& d = dawdlers_[address];
  d.strikes = now - d.tick < kDawdlerMemoryMs ? d.strikes + 1 : 1;
  d.tick = now;
}

uint32_t CWmtsService::StrikesLocked(uint32_t address, uint64_t now) const {
  auto it = dawdlers_.find(address);
  if (it == dawdlers_.end() || now - it->second.tick >= kDawdlerMemoryMs) return 0;
  return it->second.strikes;
}

std::shared_ptr<CWmtsClient> CWmtsService::EvictLocked(uint64_t now, const uint32_t* address, bool incomplete_only,
                                                       bool by_strikes) {
  using Stage = CWmtsClient::Stage;
  const uint64_t grace = server_->Options().slow_request_grace_ms;
  // A few tries: a chosen connection may move on before it is marked.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::shared_ptr<CWmtsClient> best;
    int best_rank = 4;
    uint32_t best_strikes = 0;
    uint64_t best_since = 0;
    Stage best_stage = Stage::kClosing;
    for (const auto& c : clients_) {
      if (address && c->PeerIp() != *address) continue;
      Stage stage = c->CurrentStage();
      if (stage == Stage::kBusy || stage == Stage::kClosing || c->IsFinished()) continue;
      const uint64_t since = c->StageSince();
      const bool old = now >= since && now - since >= grace;
      const bool incomplete = stage == Stage::kNoRequestLine || stage == Stage::kPartialHeader;
      if (incomplete_only && !(incomplete && old)) continue;
      // 0: no whole request, or no progress of its answer, within the grace time; 1: idle for
      // longer; 2: young without a whole request; 3: idle briefly. An answer that moves is never
      // cut.
      int rank;
      if (stage == Stage::kSending) {
        if (!old) continue;
        rank = 0;
      } else {
        rank = incomplete ? (old ? 0 : 2) : (old ? 1 : 3);
      }
      // Without a whole request, the connections of clients whose connections ended without one
      // before go first when the service is full: a new client whose request was not read yet
      // (its loop is busy) is not cut for a returning abuser's. While the service has room (a
      // shortage of descriptors) a client's past does not count against it.
      const uint32_t strikes = incomplete && by_strikes ? c->strikes_ : 0;
      if (rank < best_rank ||
          (rank == best_rank && (strikes > best_strikes || (strikes == best_strikes && since < best_since)))) {
        best = c;
        best_rank = rank;
        best_strikes = strikes;
        best_since = since;
        best_stage = stage;
      }
    }
    if (!best) return nullptr;
    if (best->BeginCloseFrom(best_stage)) return best;
  }
  return nullptr;
}

bool CWmtsService::AddClient(std::shared_ptr<CWmtsClient> client) {
  const WmtsServerOptions& o = server_->Options();
  const uint64_t now = NonZeroTick();
  const uint32_t address = client->PeerIp();
  std::vector<std::shared_ptr<CWmtsClient>> finished, evicted;
  CWmtsEventLoop* loop = nullptr;
  {
    std::lock_guard<std::mutex> lock(client_lock_);
    finished = TakeFinishedLocked();
    size_t from_address = 0;
    {
      std::lock_guard<std::mutex> address_lock(address_lock_);
      auto it = per_address_.find(address);
      if (it != per_address_.end()) from_address = it->second;
    }
    bool admit = from_address < o.max_clients_per_address;
    if (admit && from_address >= o.max_incomplete_per_address) {
      // This address may have many connections but only so many that have gone past the grace
      // time without a whole request: its oldest such connection makes room. (A client that
      // opens many connections at once is not cut before it could send its requests.)
      const uint64_t grace = o.slow_request_grace_ms;
      size_t incomplete = 0;
      for (const auto& c : clients_) {
        CWmtsClient::Stage stage = c->CurrentStage();
        uint64_t since = c->StageSince();
        if (c->PeerIp() == address && !c->IsFinished() &&
            (stage == CWmtsClient::Stage::kNoRequestLine || stage == CWmtsClient::Stage::kPartialHeader) &&
            now >= since && now - since >= grace)
          ++incomplete;
      }
      if (incomplete >= o.max_incomplete_per_address) {
        std::shared_ptr<CWmtsClient> victim = EvictLocked(now, &address, true, true);
        if (victim) evicted.push_back(std::move(victim));
        else admit = false;
      }
    }
    if (admit && evicted.empty() &&
        static_cast<size_t>(std::max(live_.load(std::memory_order_acquire), 0)) >= o.max_clients_per_service) {
      std::shared_ptr<CWmtsClient> victim = EvictLocked(now, nullptr, false, true);
      if (victim) evicted.push_back(std::move(victim));
      else admit = false;
    }
    if (admit) loop = server_->Loops().Pick();
    if (loop) {
      client->loop_ = loop;
      {
        std::lock_guard<std::mutex> peer_lock(peer_lock_);
        client->strikes_ = StrikesLocked(address, now);
      }
      clients_.push_back(client);
      {
        std::lock_guard<std::mutex> address_lock(address_lock_);
        ++per_address_[address];
      }
      const int live = live_.fetch_add(1, std::memory_order_acq_rel) + 1;
      if (live >= peak_.load(std::memory_order_relaxed) ||
          now - peak_tick_.load(std::memory_order_relaxed) >= kPeakMs) {
        peak_.store(live, std::memory_order_relaxed);
        peak_tick_.store(now, std::memory_order_relaxed);
      }
    }
  }
  for (auto& victim : evicted) {
    Trace("wmts client closed to make room");
    victim->Loop()->PostClose(victim);
  }
  if (!loop) {
    // Refused: closed at once, but the peer is on record like every other.
    Trace("connection refused: the service is full");
    RecordPeer(address, now, now);
    return false;
  }
  RecordPeer(address, now, 0);
  loop->PostAdd(std::move(client));
  finished.clear();  // freed outside the lock
  return true;
}

bool CWmtsService::EvictForDescriptor() {
  std::shared_ptr<CWmtsClient> victim;
  {
    std::lock_guard<std::mutex> lock(client_lock_);
    victim = EvictLocked(NonZeroTick(), nullptr, false, false);
  }
  if (!victim) return false;
  victim->Loop()->PostClose(victim);
  // Until its loop has closed it no descriptor is free: another try before that would close
  // one more connection for the same shortage (the newest ones last, but all the same).
  std::unique_lock<std::mutex> lock(finish_lock_);
  client_finished_.wait_for(lock, std::chrono::milliseconds(kDescriptorWaitMs),
                            [&] { return victim->IsFinished(); });
  return true;
}

void CWmtsService::OnClientFinished(CWmtsClient& client, bool dawdled) {
  const uint64_t now = NonZeroTick();
  {
    std::lock_guard<std::mutex> lock(peer_lock_);
    if (dawdled) RecordDawdlerLocked(client.PeerIp(), now);
    PeerRecord& r = peers_[client.PeerIp()];
    if (now > r.last_tick) r.last_tick = now;
  }
  // Last: the service may delete the client, and itself, once it sees it finished. The waiter is
  // woken under the lock, so that it cannot return (and the service go) while the condition
  // variable is still being signalled.
  std::lock_guard<std::mutex> lock(finish_lock_);
  client.finished_.store(true, std::memory_order_release);
  client_finished_.notify_all();
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
  std::lock_guard<std::mutex> lock(peer_lock_);
  auto [it, added] = peers_.try_emplace(address, PeerRecord{start_tick, end_tick});
  if (added) return;
  PeerRecord& r = it->second;
  if (start_tick != 0 && (r.first_tick == 0 || start_tick < r.first_tick)) r.first_tick = start_tick;
  if (end_tick != 0 && end_tick > r.last_tick) r.last_tick = end_tick;
}

std::map<uint32_t, PeerRecord> CWmtsService::Peers() const {
  std::lock_guard<std::mutex> lock(peer_lock_);
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

void CWmtsService::AddReceived(uint64_t bytes) { received_.fetch_add(bytes, std::memory_order_relaxed); }

void CWmtsService::AddSent(uint64_t bytes) { sent_.fetch_add(bytes, std::memory_order_relaxed); }

uint64_t CWmtsService::ReceivedBytes() const { return received_.load(std::memory_order_relaxed); }

uint64_t CWmtsService::SentBytes() const { return sent_.load(std::memory_order_relaxed); }

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
