// The tile manager: the cache list and its queues, the load and download threads, the failure
// rules, the stores and the download list.
#include "tiles/tile_manager.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "core/http.h"
#include "core/log.h"
#include "core/proxy_list.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/sync.h"
#include "tiles/download_list.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"

namespace velmora {
namespace {

constexpr int kMaxDownloadThreads = 32;
// The largest source id a key can carry (18 bits of source id x 23 + zoom).
constexpr int kMaxSourceId = static_cast<int>(kKeyValueMask / kZoomsPerSource);
// Steps of the least-recently-used list looked at per request when the cache is over its size.
constexpr int kEvictScanSteps = 256;
// libcurl's "transferred a partial file": the body was cut short.
constexpr int kCurlPartialFile = 18;
// libcurl's codes of a host that cannot be reached at all: its name not resolved, or no
// connection (refused, no route, network unreachable).
constexpr int kCurlHostNotResolved = 6;
constexpr int kCurlCannotConnect = 7;

// "host:port" of an absolute URL, lower case ("" when it has none).
std::string UrlAuthority(std::string_view url) {
  size_t start = url.find("://");
  if (start == std::string_view::npos) return std::string();
  start += 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority(url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  for (char& c : authority)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return authority;
}

std::chrono::steady_clock::time_point TickToTime(uint64_t tick) {
  return std::chrono::steady_clock::time_point(std::chrono::milliseconds(tick));
}

uint64_t NowTick() { return std::max<uint64_t>(TickCount64(), 1); }

}  // namespace

struct CTileManager::StoreSlot {
  std::mutex mutex;                       // serialises the open
  std::unique_ptr<CTileStore> store;
  std::atomic<CTileStore*> ready{nullptr};  // set once the store is open
  bool failure_logged = false;
};

CTileManager::CTileManager(TileManagerOptions options) : options_(std::move(options)) {
  if (options_.retry_limit >= 0) retry_limit_ = std::max(1, options_.retry_limit);
  if (options_.offline) offline_.store(*options_.offline);
}

CTileManager::~CTileManager() { Stop(); }

std::string CTileManager::DataDir() const {
  std::lock_guard lock(config_mutex_);
  if (data_dir_.empty()) {
    data_dir_ = WithTrailingSlash(options_.data_dir.empty() ? AppOptions().data_dir : options_.data_dir);
  }
  return data_dir_;
}

std::string CTileManager::DownloadListPath() const { return DataDir() + kDownloadListFileName; }

// ---- start and stop ---------------------------------------------------------------------------

bool CTileManager::Start() {
  std::lock_guard threads_lock(threads_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (running_) return false;
    stopping_ = false;
  }
  int threads = options_.download_threads;
  if (threads < 0) threads = std::clamp(AppOptions().download_threads, 1, kMaxDownloadThreads);
  threads = std::min(threads, kMaxDownloadThreads);
  SetRetryLimit(options_.retry_limit >= 0 ? options_.retry_limit : AppOptions().retry_limit);
  offline_.store(options_.offline.value_or(AppOptions().offline));

  if (options_.use_download_list) LoadDownloadList();

  auto stop_started = [this] {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    load_cv_.notify_all();
    download_cv_.notify_all();
    for (auto& thread : download_threads_) thread->Stop(kInfinite);
    if (load_thread_) load_thread_->Stop(kInfinite);
    download_threads_.clear();
    load_thread_.reset();
    std::lock_guard lock(mutex_);
    stopping_ = false;
  };

  load_thread_ = std::make_unique<CWorkThread>();
  CWorkThread* loader = load_thread_.get();
  if (!loader->Start("LoadImageDataThread", [this, loader] {
        loader->SignalReady();
        LoadThreadProc();
      })) {
    stop_started();
    return false;
  }
  for (int i = 0; i < threads; ++i) {
    auto thread = std::make_unique<CWorkThread>();
    CWorkThread* worker = thread.get();
    download_threads_.push_back(std::move(thread));
    if (!worker->Start("DownloadThread", [this, worker] {
          worker->SignalReady();
          DownloadThreadProc(worker);
        })) {
      stop_started();
      return false;
    }
  }
  std::lock_guard lock(mutex_);
  running_ = true;
  return true;
}

void CTileManager::Stop() {
  std::lock_guard threads_lock(threads_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  cancel_fetches_.store(true);
  load_cv_.notify_all();
  download_cv_.notify_all();
  // A fetch under way is cancelled; its tile stays pending and goes into the download list.
  for (auto& thread : download_threads_) thread->Stop(kInfinite);
  load_thread_->Stop(kInfinite);
  download_threads_.clear();
  load_thread_.reset();
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    stopping_ = false;
    ++stops_;
    cancel_fetches_.store(false);
  }
  NotifyStateChanged();
  if (options_.use_download_list) SaveDownloadList();

  // The stores are closed (their indexes saved, their files released); the next use opens them
  // again through the same objects, so pointers handed out stay valid.
  std::vector<StoreSlot*> slots;
  {
    std::lock_guard lock(stores_mutex_);
    for (auto& [id, slot] : stores_) slots.push_back(slot.get());
  }
  for (StoreSlot* slot : slots) {
    std::lock_guard open_lock(slot->mutex);
    if (slot->ready.load(std::memory_order_acquire) == nullptr) continue;
    slot->ready.store(nullptr, std::memory_order_release);
    std::string error;
    if (!slot->store->Close(&error)) AppLog("tile store %s: %s", slot->store->BasePath().c_str(), error.c_str());
  }
}

bool CTileManager::IsRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

// ---- the list ---------------------------------------------------------------------------------

CTileManager::Slot* CTileManager::FindSlotLocked(TileKey key) const {
  auto it = slots_.find(key);
  return it == slots_.end() ? nullptr : const_cast<Slot*>(&it->second);
}

CTileManager::Slot* CTileManager::LiveSlotLocked(const CTile* tile) const {
  if (tile == nullptr) return nullptr;
  Slot* slot = FindSlotLocked(tile->Key());
  return slot != nullptr && slot->tile.get() == tile ? slot : nullptr;
}

void CTileManager::EnqueueLocked(Slot* slot, Queue queue, bool front) {
  DequeueLocked(slot);
  std::list<Slot*>& list = queue == Queue::kLoad ? load_queue_ : download_queue_;
  slot->queued = list.insert(front ? list.begin() : list.end(), slot);
  slot->queue = queue;
}

void CTileManager::DequeueLocked(Slot* slot) {
  if (slot->queue == Queue::kLoad) load_queue_.erase(slot->queued);
  if (slot->queue == Queue::kDownload) download_queue_.erase(slot->queued);
  slot->queue = Queue::kNone;
}

void CTileManager::EraseLocked(Slot* slot) {
  DequeueLocked(slot);
  lru_.erase(slot->lru);
  slots_.erase(slot->tile->Key());
  state_cv_.notify_all();  // for WaitForRelease
}

void CTileManager::EvictLocked() {
  if (slots_.size() <= options_.max_tiles) return;
  // Pending tiles are work still to do and shown tiles are drawn: only finished tiles out of view
  // go, oldest first.
  auto it = lru_.end();
  for (int steps = 0; steps < kEvictScanSteps && slots_.size() > options_.max_tiles && it != lru_.begin();
       ++steps) {
    --it;
    Slot* slot = *it;
    if (slot->in_view || slot->queue != Queue::kNone || IsPendingState(slot->tile->GetState())) continue;
    ++it;  // stays valid: only the element before it goes
    EraseLocked(slot);
  }
}

void CTileManager::SweepStampedLocked(uint64_t now) {
  while (!stamps_.empty() && stamps_.front().first <= now) {
    TileKey key = stamps_.front().second;
    stamps_.pop_front();
    Slot* slot = FindSlotLocked(key);
    if (slot == nullptr || slot->in_view) continue;
    int64_t state = slot->tile->GetState();
    // A tile asked for again, or stamped again later, is not due yet.
    if (IsStampedState(state) && static_cast<uint64_t>(state) + options_.free_delay_ms <= now) {
      EraseLocked(slot);
    }
  }
}

std::shared_ptr<CTile> CTileManager::GetTile(TileKey key) {
  std::shared_ptr<CTile> tile;
  bool wake_loader = false, wake_downloader = false, changed = false;
  {
    std::lock_guard lock(mutex_);
    Slot* slot = FindSlotLocked(key);
    if (slot != nullptr) {
      lru_.splice(lru_.begin(), lru_, slot->lru);
      tile = slot->tile;
      std::lock_guard tile_lock(tile->mutex_);
      int64_t state = tile->state_;
      if (state == DS_FAILED || (state == DS_LIMIT && retry_over_limit_.load())) {
        tile->state_ = DS_UNDOWN;
        tile->retries_ = 0;
        tile->first_attempt_ = 0;
        EnqueueLocked(slot, Queue::kDownload, true);
        wake_downloader = changed = true;
      } else if (IsStampedState(state)) {
        tile->state_ = DS_LOADED;
        changed = true;
      } else if (slot->queue != Queue::kNone) {
        EnqueueLocked(slot, slot->queue, true);  // asked again: served before older requests
      }
    } else {
      if (IsGeocoderId(TileKeySource(key))) {
        tile = std::make_shared<CGeocodeReply>(TileKeyLow(key), TileKeyHigh(key));
      } else {
        tile = std::make_shared<CImageTile>(TileKeyLow(key), TileKeyHigh(key));
      }
      Slot& created = slots_[key];
      created.tile = tile;
      created.lru = lru_.insert(lru_.begin(), &created);
      EnqueueLocked(&created, Queue::kLoad, true);
      wake_loader = true;
      EvictLocked();
    }
  }
  if (wake_loader) load_cv_.notify_one();
  if (wake_downloader) download_cv_.notify_one();
  if (changed) NotifyStateChanged();
  return tile;
}

std::shared_ptr<CTile> CTileManager::FindTile(TileKey key) const {
  std::lock_guard lock(mutex_);
  Slot* slot = FindSlotLocked(key);
  return slot ? slot->tile : nullptr;
}

void CTileManager::DiscardTile(const CTile* tile) {
  std::lock_guard lock(mutex_);
  Slot* slot = LiveSlotLocked(tile);
  if (slot != nullptr && !slot->in_view) EraseLocked(slot);
}

void CTileManager::MarkInView(const CTile* tile) {
  std::lock_guard lock(mutex_);
  Slot* slot = LiveSlotLocked(tile);
  if (slot == nullptr) return;
  slot->in_view = true;
  std::lock_guard tile_lock(slot->tile->mutex_);
  if (IsStampedState(slot->tile->state_)) slot->tile->state_ = DS_LOADED;
}

void CTileManager::MarkLeftView(const CTile* tile) {
  {
    std::lock_guard lock(mutex_);
    Slot* slot = LiveSlotLocked(tile);
    if (slot == nullptr) return;
    slot->in_view = false;
    std::lock_guard tile_lock(slot->tile->mutex_);
    if (slot->tile->state_ != DS_LOADED) return;  // only loaded tiles carry the stamp
    uint64_t stamp = std::max<uint64_t>(TickCount64(), kTileStampFloor + 1);
    slot->tile->state_ = static_cast<int64_t>(stamp);
    stamps_.emplace_back(stamp + options_.free_delay_ms, slot->tile->Key());
  }
  load_cv_.notify_one();  // the load thread frees it when due
}

void CTileManager::NotifyStateChanged() {
  state_cv_.notify_all();
  std::lock_guard lock(listeners_mutex_);
  for (auto& [id, listener] : listeners_) listener();
}

int CTileManager::AddStateListener(std::function<void()> listener) {
  std::lock_guard lock(listeners_mutex_);
  int id = next_listener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void CTileManager::RemoveStateListener(int id) {
  std::lock_guard lock(listeners_mutex_);
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

int64_t CTileManager::WaitForState(const CTile& tile, unsigned ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock lock(mutex_);
  const uint64_t stops = stops_;
  for (;;) {
    int64_t state = tile.GetState();
    if (IsFinalState(state) || stops_ != stops) return state;
    if (ms == kInfinite) {
      state_cv_.wait(lock);
    } else if (state_cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
      return tile.GetState();
    }
  }
}

int64_t CTileManager::WaitForState(TileKey key, unsigned ms) const {
  std::shared_ptr<CTile> tile = FindTile(key);
  return tile ? WaitForState(*tile, ms) : -1;
}

bool CTileManager::WaitForRelease(TileKey key, unsigned ms) const {
  std::unique_lock lock(mutex_);
  auto gone = [&] { return slots_.find(key) == slots_.end(); };
  if (ms == kInfinite) {
    state_cv_.wait(lock, gone);
    return true;
  }
  return state_cv_.wait_for(lock, std::chrono::milliseconds(ms), gone);
}

size_t CTileManager::TileCount() const {
  std::lock_guard lock(mutex_);
  return slots_.size();
}

size_t CTileManager::PendingCount() const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const auto& [key, slot] : slots_) count += IsPendingState(slot.tile->GetState()) ? 1 : 0;
  return count;
}

std::vector<TileKey> CTileManager::PendingKeys() const {
  std::lock_guard lock(mutex_);
  std::vector<TileKey> keys;
  for (const Slot* slot : lru_) {
    int64_t state = slot->tile->GetState();
    // A tile over a quota, or not fetched because the program is offline, is still wanted: the
    // quota may be back, and the network on, by the next run. Dropping the offline ones would
    // empty the whole list after one offline run.
    if (IsPendingState(state) || state == DS_LIMIT || state == DS_OFFLINE) keys.push_back(slot->tile->Key());
  }
  return keys;
}

// ---- modes and sinks --------------------------------------------------------------------------

void CTileManager::SetOffline(bool offline) {
  offline_.store(offline);
  if (offline) return;
  bool woke = false;
  {
    std::lock_guard lock(mutex_);
    for (Slot* slot : lru_) {
      std::lock_guard tile_lock(slot->tile->mutex_);
      if (slot->tile->state_ != DS_OFFLINE) continue;
      slot->tile->state_ = DS_UNDOWN;
      slot->tile->retries_ = 0;
      slot->tile->first_attempt_ = 0;
      EnqueueLocked(slot, Queue::kDownload, false);
      woke = true;
    }
  }
  if (woke) {
    download_cv_.notify_all();
    NotifyStateChanged();
  }
}

bool CTileManager::IsOffline() const { return offline_.load(); }
void CTileManager::SetRetryOverLimit(bool on) { retry_over_limit_.store(on); }
bool CTileManager::RetryOverLimit() const { return retry_over_limit_.load(); }

void CTileManager::SetRetryLimit(int limit) {
  std::lock_guard lock(mutex_);
  retry_limit_ = std::max(1, limit);
}

void CTileManager::SetNetStateSink(std::function<void(int)> sink) {
  std::lock_guard lock(sink_mutex_);
  net_sink_ = std::move(sink);
}

void CTileManager::SetDiskFullSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(sink_mutex_);
  disk_full_sink_ = std::move(sink);
}

void CTileManager::ReportNetState(int state) {
  std::lock_guard lock(sink_mutex_);
  if (net_sink_) net_sink_(state);
}

bool CTileManager::HostUnreachable(const std::string& host) {
  if (host.empty() || options_.host_failure_ms == 0) return false;
  std::lock_guard lock(hosts_mutex_);
  auto it = unreachable_hosts_.find(host);
  if (it == unreachable_hosts_.end()) return false;
  if (NowTick() < it->second) return true;
  unreachable_hosts_.erase(it);  // lapsed: the next fetch asks the host again
  return false;
}

void CTileManager::NoteHostReply(const std::string& host, bool unreachable) {
  if (host.empty() || options_.host_failure_ms == 0) return;
  std::lock_guard lock(hosts_mutex_);
  if (unreachable)
    unreachable_hosts_[host] = NowTick() + options_.host_failure_ms;
  else
    unreachable_hosts_.erase(host);
}

void CTileManager::ReportDiskFull(const std::string& message) {
  if (disk_full_reported_.exchange(true)) return;
  AppLog("tile store: the disk is full, tiles are not saved: %s", message.c_str());
  std::lock_guard lock(sink_mutex_);
  if (disk_full_sink_) disk_full_sink_(message);
}

void CTileManager::OnProxyFailure(int failed) { velmora::OnProxyFailure(failed); }
void CTileManager::UseNextProxy() { velmora::UseNextProxy(); }
void CTileManager::ResetProxyFailures() { velmora::ResetProxyFailures(); }

// ---- the load thread --------------------------------------------------------------------------

void CTileManager::LoadThreadProc() {
  std::unique_lock lock(mutex_);
  for (;;) {
    SweepStampedLocked(TickCount64());
    if (stopping_) break;
    if (!load_queue_.empty()) {
      Slot* slot = load_queue_.front();
      DequeueLocked(slot);
      std::shared_ptr<CTile> tile = slot->tile;
      tile->SetState(DS_LOADING);
      lock.unlock();
      LoadOne(tile);
      lock.lock();
      continue;
    }
    if (stamps_.empty()) {
      load_cv_.wait(lock);
    } else {
      load_cv_.wait_until(lock, TickToTime(stamps_.front().first));
    }
  }
}

void CTileManager::LoadOne(const std::shared_ptr<CTile>& tile) {
  TileKey key = tile->Key();
  std::vector<uint8_t> bytes;
  CTileStore* store = OpenStoreImpl(TileKeySource(key), false);
  // Stored bytes that do not decode (or a reply that fails its check) are fetched again; the new
  // record supersedes the bad one.
  bool loaded = store != nullptr && store->Read(key, bytes) && AcceptBytes(*tile, bytes.data(), bytes.size());
  {
    std::lock_guard lock(mutex_);
    if (loaded) {
      tile->SetState(DS_LOADED);
    } else {
      RequeueForDownloadLocked(tile.get());
    }
  }
  if (!loaded) download_cv_.notify_one();
  NotifyStateChanged();
}

bool CTileManager::AcceptBytes(CTile& tile, const uint8_t* data, size_t size) {
  // A geocoder reply is only checked here, without CGeocodeReply::ParseReply's state change: the
  // manager alone moves a tile it works on, in one step.
  if (dynamic_cast<CGeocodeReply*>(&tile) != nullptr) {
    return CGeocodeReply::CheckReply(TileKeySource(tile.Key()), data, size).ok;
  }
  return tile.SetData(data, size);
}

void CTileManager::RequeueForDownloadLocked(CTile* tile) {
  tile->SetState(DS_UNDOWN);
  if (Slot* slot = LiveSlotLocked(tile)) EnqueueLocked(slot, Queue::kDownload, true);
}

// ---- the download threads ---------------------------------------------------------------------

void CTileManager::DownloadThreadProc(CWorkThread* thread) {
  std::unique_lock lock(mutex_);
  for (;;) {
    download_cv_.wait(lock, [this] { return stopping_ || !download_queue_.empty(); });
    if (stopping_) break;
    Slot* slot = download_queue_.front();
    DequeueLocked(slot);
    std::shared_ptr<CTile> tile = slot->tile;
    {
      std::lock_guard tile_lock(tile->mutex_);
      if (tile->state_ != DS_UNDOWN) continue;
      tile->state_ = DS_DOWNING;
      if (tile->first_attempt_ == 0) tile->first_attempt_ = NowTick();
    }
    lock.unlock();
    bool pause = Finish(tile, Fetch(*tile));
    if (pause) thread->WaitQuit(options_.timeout_pause_ms);
    lock.lock();
  }
}

CTileManager::FetchResult CTileManager::Fetch(CTile& tile) {
  if (offline_.load()) return {DS_OFFLINE, true};
  TileKey key = tile.Key();
  int source_id = TileKeySource(key);
  // No fall-back to another source: its tiles would land in this source's store.
  const MapSourceDef* source = LayerManager().FindSourceStrict(source_id);
  if (source == nullptr) return {DS_NOT_EXIST, true};
  std::string url = BuildTileUrl(*source, key);
  if (url.empty()) return {DS_NOT_EXIST, true};
  // A host found unreachable a moment ago: this tile fails as its fetch would, without the wait.
  // It counts a retry like any failure; once the memory lapses the host is asked again.
  const std::string host = UrlAuthority(url);
  if (HostUnreachable(host)) return {DS_FAILED, false, true};

  HttpOptions options;
  options.max_bytes = kMaxTileBytes;
  options.timeout_ms = options_.http_timeout_ms;
  options.cancel = &cancel_fetches_;
  // Sources whose usage policy asks for it get the program's own agent, whatever the profile
  // sets for other requests.
  if (std::string agent = SourceUserAgentHeader(*source); !agent.empty()) options.headers.push_back(agent);
  HttpResult reply = HttpFetch(url, options);
  if (reply.Cancelled()) return {DS_UNDOWN};
  // Through a proxy the failure is the proxy's, which the proxy list rotates away from.
  if (reply.proxy.empty())
    NoteHostReply(host, reply.curl_code == kCurlHostNotResolved || reply.curl_code == kCurlCannotConnect);
  if (reply.NetworkError()) {
    if (reply.TooLarge()) return {DS_NOT_EXIST, true};  // no tile is that large
    OnProxyFailure(1);
    if (reply.TimedOut()) return {DS_TIMEOUT};
    if (reply.curl_code == kCurlPartialFile) return {DS_SCRAP};
    return {DS_FAILED};
  }
  OnProxyFailure(0);
  int status = reply.http_status;
  if (status == 404 || status == 410 || status == 204) return {DS_NOT_EXIST, true};
  if (status == 429 || status == 509) return {DS_LIMIT};
  if (status < 200 || status >= 300) return {DS_FAILED};
  if (reply.body.empty()) return {DS_NOT_EXIST, true};

  const uint8_t* begin = reply.body.data();
  const size_t size = reply.body.size();
  if (dynamic_cast<CGeocodeReply*>(&tile) != nullptr) {
    CGeocodeReply::Check check = CGeocodeReply::CheckReply(source_id, begin, size);
    if (!check.ok) return {check.state != 0 ? check.state : DS_FAILED};
  } else {
    if (int page = ErrorPageState(begin, begin + size)) return {page};
    if (reply.IsHtml()) return {DS_FAILED};
    // A tile fetched again (its earlier bytes could not be stored) keeps the picture it holds;
    // the new bytes are still checked before they are stored.
    bool usable = tile.GetImage() != nullptr ? CImageTile::Decodes(begin, size) : tile.SetData(begin, size);
    if (!usable) return {DS_SCRAP};
  }

  CTileStore* store = OpenStoreImpl(source_id, true);
  if (store == nullptr) return {DS_FAILED, true};
  std::string error;
  switch (store->Write(key, begin, size, true, &error)) {
    case TileWriteResult::kWritten:
    case TileWriteResult::kUnchanged:
      disk_full_reported_.store(false);
      return {DS_LOADED};
    case TileWriteResult::kDiskFull:
      ReportDiskFull(error);
      return {DS_FAILED, true};
    case TileWriteResult::kFailed:
      break;
  }
  AppLog("tile store %s: %s", store->BasePath().c_str(), error.c_str());
  return {DS_FAILED, true};
}

bool CTileManager::Finish(const std::shared_ptr<CTile>& tile, FetchResult result) {
  const uint64_t now = NowTick();
  bool pause = false, wake = false;
  int net = 0;
  {
    std::lock_guard lock(mutex_);
    std::lock_guard tile_lock(tile->mutex_);
    const int reported = result.state;
    if (reported == DS_LOADED) {
      tile->state_ = DS_LOADED;
      net = kTileNetOk;
    } else if (reported == DS_UNDOWN) {
      // Cancelled by a stop: still pending, nothing counted.
      tile->state_ = DS_UNDOWN;
      if (Slot* slot = LiveSlotLocked(tile.get())) EnqueueLocked(slot, Queue::kDownload, true);
    } else {
      CountTileFailure(reported);
      bool again = false, failed = false;
      switch (reported) {
        case DS_NOT_EXIST:
          tile->state_ = DS_NOT_EXIST;
          net = kTileNetOk;  // the service answered
          break;
        case DS_OFFLINE:
          tile->state_ = DS_OFFLINE;
          break;
        case DS_LIMIT:
          net = kTileNetOverQuota;
          if (!retry_over_limit_.load()) {
            tile->state_ = DS_LIMIT;
            break;
          }
          [[fallthrough]];  // the global switch: handled like a time-out
        case DS_TIMEOUT:
          pause = true;
          [[fallthrough]];
        case DS_SCRAP:
          if (net == 0) net = kTileNetFailed;
          // Transient failures go back to the queue until the first attempt lies too far back.
          if (now - tile->first_attempt_ > options_.give_up_ms) {
            failed = true;
          } else {
            again = true;
          }
          break;
        default:
          net = kTileNetFailed;
          failed = true;
          break;
      }
      if (failed) {
        // Every DS_FAILED counts a retry; below the limit the tile is queued again.
        tile->retries_ = result.final ? std::max(tile->retries_ + 1, retry_limit_) : tile->retries_ + 1;
        again = tile->retries_ < retry_limit_;
        if (!again) tile->state_ = DS_FAILED;
      }
      if (again) {
        tile->state_ = DS_UNDOWN;
        if (Slot* slot = LiveSlotLocked(tile.get())) {
          EnqueueLocked(slot, Queue::kDownload, false);
          wake = true;
        }
      }
    }
  }
  if (wake) download_cv_.notify_one();
  NotifyStateChanged();
  if (net != 0 && !result.quiet) ReportNetState(net);
  return pause;
}

// ---- stores -----------------------------------------------------------------------------------

CTileStore* CTileManager::OpenStore(int id) { return OpenStoreImpl(id, true); }

CTileStore* CTileManager::OpenStoreImpl(int id, bool create) {
  if (id < 0 || id > kMaxSourceId) return nullptr;
  StoreSlot* slot = nullptr;
  {
    std::lock_guard lock(stores_mutex_);
    auto it = stores_.find(id);
    if (it != stores_.end()) slot = it->second.get();
  }
  if (slot != nullptr) {
    if (CTileStore* store = slot->ready.load(std::memory_order_acquire)) return store;
  }
  const std::string folder = DataDir();
  const std::string base = folder + std::to_string(id) + ".";
  std::error_code ec;
  // Readers never create a store: a request for a source nobody downloaded leaves no files.
  if (!create && !std::filesystem::exists(base + "img", ec)) return nullptr;
  if (slot == nullptr) {
    std::lock_guard lock(stores_mutex_);
    auto& owned = stores_[id];
    if (!owned) owned = std::make_unique<StoreSlot>();
    slot = owned.get();
  }
  std::lock_guard open_lock(slot->mutex);
  if (CTileStore* store = slot->ready.load(std::memory_order_acquire)) return store;
  std::string error;
  if (!slot->store) slot->store = std::make_unique<CTileStore>(base);
  if (!EnsureFolder(folder)) {
    error = "cannot create the folder " + folder;
  } else if (slot->store->Open(false, &error)) {
    slot->failure_logged = false;
    slot->ready.store(slot->store.get(), std::memory_order_release);
    return slot->store.get();
  }
  if (!slot->failure_logged) {
    slot->failure_logged = true;
    AppLog("tile store %s: %s", base.c_str(), error.c_str());
  }
  return nullptr;
}

bool CTileManager::IsTileStored(TileKey key) {
  CTileStore* store = OpenStoreImpl(TileKeySource(key), false);
  return store != nullptr && store->IsStored(key);
}

bool CTileManager::ReadTileBytes(uint32_t key_low, uint32_t key_high, std::vector<uint8_t>& bytes) {
  TileKey key = TileKeyFromWords(key_low, key_high);
  CTileStore* store = OpenStoreImpl(TileKeySource(key), false);
  // A miss leaves the array empty whether or not the source has a store, so that a caller
  // reusing its buffer never takes the bytes of an earlier tile for this one.
  if (store == nullptr || !store->Read(key, bytes)) {
    bytes.clear();
    return false;
  }
  return true;
}

// ---- the download list ------------------------------------------------------------------------

void CTileManager::LoadDownloadList() {
  const std::string path = DownloadListPath();
  std::vector<TileKey> keys;
  std::string error;
  ArchiveLoad result = ReadDownloadList(path, &keys, &error);
  if (result == ArchiveLoad::kDamaged) {
    // Kept aside rather than overwritten at the next stop.
    std::error_code ec;
    std::filesystem::rename(path, path + ".damaged", ec);
    AppLog("download list %s is damaged (%s); kept as %s.damaged", path.c_str(), error.c_str(),
           path.c_str());
    return;
  }
  // Requested oldest first, so that the first key of the list ends up at the front.
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) GetTile(*it);
}

void CTileManager::SaveDownloadList() {
  std::string error;
  if (!WriteDownloadList(DownloadListPath(), PendingKeys(), &error)) {
    AppLog("download list %s: %s", DownloadListPath().c_str(), error.c_str());
  }
}

CTileManager& TileManager() {
  static CTileManager manager;
  return manager;
}

}  // namespace velmora
