// The event loops of the map publishing server.
#include "server/wmts_event_loop.h"

#include <algorithm>
#include <string>
#include <thread>

#include "core/log.h"
#include "platform/sync.h"
#include "server/wmts_client.h"
#include "server/wmts_service.h"

namespace velmora {

namespace {

// Time-outs are looked at least this often (they also shorten while a service fills up).
constexpr uint64_t kMaxSweepMs = 250;
constexpr int kEventsPerWait = 128;

}  // namespace

CWmtsEventLoop::~CWmtsEventLoop() { Stop(); }

bool CWmtsEventLoop::Start(int index) {
  if (thread_.IsRunning()) return true;
  if (!poll_.Valid() || !wake_.Valid()) {
    AppLog("map publishing: an event loop cannot be made (no descriptors left)");
    return false;
  }
  if (!poll_.Add(wake_.Fd(), EventPoll::kReadable, &wake_, false)) return false;
  quit_.store(false);
  chunk_.resize(CWmtsClient::kReadChunk);
  return thread_.Start("WmtsLoop" + std::to_string(index), [this] { Run(); });
}

void CWmtsEventLoop::Stop() {
  quit_.store(true, std::memory_order_release);
  wake_.Set();
  thread_.Stop(kInfinite);
  thread_.OnExit();
  // Whatever was handed over after the loop ended is closed here.
  TakePosted();
  closed_.clear();
}

void CWmtsEventLoop::PostAdd(std::shared_ptr<CWmtsClient> client) {
  load_.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(posted_lock_);
    posted_.push_back({Command::kAdd, std::move(client)});
  }
  wake_.Set();
}

void CWmtsEventLoop::PostClose(std::shared_ptr<CWmtsClient> client) {
  {
    std::lock_guard<std::mutex> lock(posted_lock_);
    posted_.push_back({Command::kClose, std::move(client)});
  }
  wake_.Set();
}

void CWmtsEventLoop::TakePosted() {
  std::vector<Posted> posted;
  {
    std::lock_guard<std::mutex> lock(posted_lock_);
    posted.swap(posted_);
  }
  const bool running = !quit_.load(std::memory_order_acquire);
  for (Posted& p : posted) {
    if (p.command == Command::kAdd) {
      if (running) {
        Register(std::move(p.client));
      } else {
        // The loop is gone: the connection is closed unserved.
        p.client->BeginClose();
        clients_.push_back(p.client);
        p.client->loop_index_ = clients_.size() - 1;
        Close(*p.client);
      }
    } else if (p.client->registered_ && !p.client->closed_) {
      Close(*p.client);
    }
  }
}

void CWmtsEventLoop::Register(std::shared_ptr<CWmtsClient> client) {
  CWmtsClient& c = *client;
  c.loop_index_ = clients_.size();
  clients_.push_back(std::move(client));
  if (c.CurrentStage() == CWmtsClient::Stage::kClosing) {
    Close(c);
    return;
  }
  // Edge-triggered; a socket that has bytes already reports them at once.
  if (!poll_.Add(c.socket_.Get(), EventPoll::kReadable | EventPoll::kWritable | EventPoll::kPeerClosed, &c, true)) {
    Close(c);
    return;
  }
  c.registered_ = true;
  // Its header time-out may come before the next look.
  const uint64_t now = TickCount64();
  uint64_t deadline = c.Deadline(now, c.Service()->HeaderTimeoutNow());
  if (deadline != 0 && deadline < next_sweep_) next_sweep_ = deadline;
  // Served at once: its request is often here already, and a busy loop's next round may be
  // late (a new connection without a request is the first to give its place when the service
  // is full).
  Serve(c, now);
}

void CWmtsEventLoop::Serve(CWmtsClient& client, uint64_t now) {
  if (client.closed_) return;
  bool more = false;
  if (!client.Serve(now, chunk_, &more)) {
    Close(client);
    return;
  }
  if (more && !client.queued_) {
    client.queued_ = true;
    ready_.push_back(&client);
  }
}

void CWmtsEventLoop::Close(CWmtsClient& client) {
  if (client.closed_) return;
  client.closed_ = true;
  client.BeginClose();
  if (client.queued_) {
    ready_.erase(std::remove(ready_.begin(), ready_.end(), &client), ready_.end());
    client.queued_ = false;
  }
  if (client.registered_) poll_.Remove(client.socket_.Get());
  client.registered_ = false;
  // An answer cut short (time-out, room for another client, stop) is not left for the system
  // to deliver to a peer that does not read it.
  if (client.sending_ && client.socket_.Valid()) SetResetOnClose(client.socket_.Get());
  client.socket_.Reset();
  // Out of the list (the last one takes its place); kept alive until the round's events are done.
  size_t index = client.loop_index_;
  std::shared_ptr<CWmtsClient> self = std::move(clients_[index]);
  if (index + 1 != clients_.size()) {
    clients_[index] = std::move(clients_.back());
    clients_[index]->loop_index_ = index;
  }
  clients_.pop_back();
  load_.fetch_sub(1, std::memory_order_relaxed);
  client.Service()->OnClientFinished(client, !client.had_request_);
  closed_.push_back(std::move(self));
}

void CWmtsEventLoop::Sweep(uint64_t now) {
  uint64_t next = now + kMaxSweepMs;
  // Each service's header time-out as it stands before this look: closing some slow clients
  // eases the pressure, but not for the others of the same look.
  std::vector<std::pair<CWmtsService*, unsigned>> header_timeouts;
  auto header_timeout = [&header_timeouts](CWmtsService* service) {
    for (const auto& [s, ms] : header_timeouts)
      if (s == service) return ms;
    header_timeouts.emplace_back(service, service->HeaderTimeoutNow());
    return header_timeouts.back().second;
  };
  for (size_t i = clients_.size(); i-- > 0;) {
    CWmtsClient& c = *clients_[i];
    uint64_t deadline = c.Deadline(now, header_timeout(c.Service()));
    if (deadline == 0) continue;
    if (deadline <= now) {
      Trace("wmts client time-out");
      Close(c);  // the list's last entry moves to i, which was looked at already
      continue;
    }
    next = std::min(next, deadline);
  }
  next_sweep_ = next;
}

void CWmtsEventLoop::Run() {
  thread_.SignalReady();
  EventPoll::PollEvent events[kEventsPerWait];
  next_sweep_ = TickCount64() + kMaxSweepMs;
  while (!quit_.load(std::memory_order_acquire)) {
    uint64_t now = TickCount64();
    // No wait while connections have work left from their last turn.
    int timeout = 0;
    if (ready_.empty() && next_sweep_ > now)
      timeout = static_cast<int>(std::min<uint64_t>(next_sweep_ - now, kMaxSweepMs));
    int n = poll_.Wait(events, kEventsPerWait, timeout);
    now = TickCount64();
    for (int i = 0; i < n; ++i) {
      if (events[i].data == &wake_) {
        wake_.Reset();
        TakePosted();
        continue;
      }
      auto* client = static_cast<CWmtsClient*>(events[i].data);
      if (client->closed_) continue;
      const uint32_t e = events[i].events;
      if (e & (EventPoll::kReadable | EventPoll::kPeerClosed | EventPoll::kHangUp | EventPoll::kError))
        client->readable_ = true;
      if (e & (EventPoll::kPeerClosed | EventPoll::kHangUp | EventPoll::kError)) client->peer_closed_ = true;
      if (e & (EventPoll::kWritable | EventPoll::kHangUp | EventPoll::kError)) client->writable_ = true;
      Serve(*client, now);
    }
    // Connections that had more to do than one turn allows, in the order they stopped.
    if (!ready_.empty()) {
      std::vector<CWmtsClient*> ready;
      ready.swap(ready_);
      for (CWmtsClient* client : ready) {
        client->queued_ = false;
        Serve(*client, now);
      }
    }
    if (now >= next_sweep_) Sweep(now);
    closed_.clear();
  }
  // Stopped: every connection still here is closed.
  while (!clients_.empty()) Close(*clients_.back());
  ready_.clear();
  closed_.clear();
}

// ---- the pool ---------------------------------------------------------------------------------------

bool CWmtsEventLoops::Start(unsigned count) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!loops_.empty()) return true;
  if (count == 0) count = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  for (unsigned i = 0; i < count; ++i) {
    auto loop = std::make_unique<CWmtsEventLoop>();
    if (!loop->Start(static_cast<int>(i))) break;
    loops_.push_back(std::move(loop));
  }
  return !loops_.empty();
}

void CWmtsEventLoops::Stop() {
  std::vector<std::unique_ptr<CWmtsEventLoop>> loops;
  {
    std::lock_guard<std::mutex> lock(lock_);
    loops.swap(loops_);
  }
  for (auto& loop : loops) loop->Stop();
}

bool CWmtsEventLoops::IsRunning() const {
  std::lock_guard<std::mutex> lock(lock_);
  return !loops_.empty();
}

size_t CWmtsEventLoops::Count() const {
  std::lock_guard<std::mutex> lock(lock_);
  return loops_.size();
}

CWmtsEventLoop* CWmtsEventLoops::Pick() {
  std::lock_guard<std::mutex> lock(lock_);
  if (loops_.empty()) return nullptr;
  CWmtsEventLoop* best = nullptr;
  size_t n = loops_.size();
  for (size_t k = 0; k < n; ++k) {
    CWmtsEventLoop* loop = loops_[(next_ + k) % n].get();
    if (!best || loop->Load() < best->Load()) best = loop;
  }
  next_ = (next_ + 1) % n;
  return best;
}

}  // namespace velmora
