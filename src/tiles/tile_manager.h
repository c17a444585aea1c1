// CTileManager: the in-memory tile cache with its load thread and download threads, the owner of
// the per-source tile stores, and the resumable download list.
//
// Road of a tile: GetTile finds the tile (moving it to the front of the least-recently-used list)
// or creates it in DS_UNLOAD and queues it for "LoadImageDataThread". That thread takes the most
// recently requested DS_UNLOAD tile (DS_LOADING) and reads it from its source's store: found and
// usable -> DS_LOADED; missing or unusable -> DS_UNDOWN and queued for the N "DownloadThread"s.
// A download thread takes the most recently requested DS_UNDOWN tile (DS_DOWNING); in offline
// mode it becomes DS_OFFLINE, else the catalogue builds its URL, HttpFetch gets the bytes, they are
// checked (HTML error pages, pictures that do not decode, geocoder status), appended to the store
// and the tile becomes DS_LOADED. Failures follow the rules of Finish (tile_manager.cpp).
//
// Locks: one lock guards the list, the queues and the stamp list; each tile has its own lock (taken
// inside the list lock, never the other way round); each store has its own. No lock is held across
// a fetch or a store access. Threads wait on condition variables; the only timed waits are the
// 200 ms pause after a time-out and the load thread's wake-up for the next stamped tile to free.
//
// Lifetime: tiles are handed out as shared pointers, so a tile that the cache drops (freed after
// leaving the view, evicted, discarded) stays valid for whoever still holds it.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/work_thread.h"
#include "tiles/tile.h"
#include "tiles/tile_key.h"
#include "tiles/tile_store.h"

namespace velmora {

struct MapSourceDef;

// Network indicator codes handed to the net-state sink (the status bar's codes).
inline constexpr int kTileNetOk = 1;
inline constexpr int kTileNetFailed = 2;
inline constexpr int kTileNetOverQuota = 3;

struct TileManagerOptions {
  std::string data_dir;          // folder of the stores and "kovra.udl"; "" -> AppOptions().data_dir
  int download_threads = -1;     // < 0 -> AppOptions().download_threads (1..32); 0 downloads nothing
  int retry_limit = -1;          // < 0 -> AppOptions().retry_limit
  std::optional<bool> offline;   // unset -> AppOptions().offline
  int http_timeout_ms = 0;       // 0 -> HttpFetch's default (AppOptions().http_timeout_ms)
  unsigned timeout_pause_ms = 200;   // pause of a download thread after a time-out
  unsigned give_up_ms = 3000;        // transient failures this long after the first attempt fail
  unsigned free_delay_ms = 3000;     // a loaded tile that left the view is freed this much later
  // Tiles kept in memory beyond those pending or shown: past this count the least recently used
  // finished tiles are dropped (a decoded 256 x 256 tile takes 256 KiB).
  size_t max_tiles = 2048;
  bool use_download_list = true;     // read "kovra.udl" at Start, write it at Stop
  // A host that could not be reached at all (its name not resolved, no route to it, connection
  // refused) is remembered this long: the other tiles of that host fail at once instead of each
  // waiting for its own failed look-up or connection. 0 remembers nothing.
  unsigned host_failure_ms = 5000;
};

class CTileManager {
 public:
  // Largest reply accepted as a tile.
  static constexpr size_t kMaxTileBytes = 16u << 20;

  explicit CTileManager(TileManagerOptions options = {});
  // Stops the threads (writing the download list) and closes the stores.
  ~CTileManager();
  CTileManager(const CTileManager&) = delete;
  CTileManager& operator=(const CTileManager&) = delete;

  // Reads the options, queues the tiles of the download list and starts the load thread and the
  // download threads. False when already running or a thread cannot be started.
  bool Start();
  // Stops the threads cooperatively (a fetch under way is finished first), writes the download
  // list and closes the stores (indexes saved, files released; the next use opens them again).
  // Safe to call when not running.
  void Stop();
  bool IsRunning() const;

  // The cached tile of the key, created in DS_UNLOAD (a CGeocodeReply for a geocoder source, else
  // a CImageTile) and queued when missing. A DS_FAILED tile goes back to DS_UNDOWN with fresh
  // retries (as does a DS_LIMIT tile while RetryOverLimit is on); a stamped tile is DS_LOADED
  // again. Never null. Thread-safe.
  std::shared_ptr<CTile> GetTile(TileKey key);
  std::shared_ptr<CTile> GetTile(uint32_t key_low, uint32_t key_high) {
    return GetTile(TileKeyFromWords(key_low, key_high));
  }
  // The cached tile of the key, or null; nothing is created or queued.
  std::shared_ptr<CTile> FindTile(TileKey key) const;
  // Removes the tile from the cache unless the view shows it (MarkInView).
  void DiscardTile(const CTile* tile);

  // The 2D view reports which tiles it shows: a tile in view is never dropped from the cache; one
  // that left the view is stamped with the tick (when loaded) and freed free_delay_ms later unless
  // it is asked for again.
  void MarkInView(const CTile* tile);
  void MarkLeftView(const CTile* tile);

  // Waits until the tile reaches a final state (loaded, stamped, DS_FAILED, DS_NOT_EXIST,
  // DS_OFFLINE or DS_LIMIT) and returns it; after `ms` milliseconds, or when the manager stops
  // meanwhile, returns the state it has.
  // The key form waits for the cached tile of the key and returns -1 when there is none.
  int64_t WaitForState(const CTile& tile, unsigned ms) const;
  int64_t WaitForState(TileKey key, unsigned ms) const;
  static bool IsFinalState(int64_t state) { return !IsPendingState(state); }
  // Waits until the cache no longer holds a tile of the key; false when `ms` passed first.
  bool WaitForRelease(TileKey key, unsigned ms) const;

  // The source's store holds the key. Any thread.
  bool IsTileStored(TileKey key);
  // The stored bytes of the key; false when the source has no store or the key is not stored.
  // Read-only (creates no store); any thread.
  bool ReadTileBytes(uint32_t key_low, uint32_t key_high, std::vector<uint8_t>& bytes);
  bool ReadTileBytes(TileKey key, std::vector<uint8_t>& bytes) {
    return ReadTileBytes(TileKeyLow(key), TileKeyHigh(key), bytes);
  }
  // The store of a source, opened (and created) on first use: "<data folder><id>.img" / ".idx".
  // Null when the id cannot be a source or the store cannot be opened (logged). The store lives
  // as long as the manager.
  CTileStore* OpenStore(int id);
  // The same for a reader: null when the source has no store yet (none is created).
  CTileStore* FindStore(int id) { return OpenStoreImpl(id, false); }

  // Offline mode. Switching it off sends the DS_OFFLINE tiles back to DS_UNDOWN.
  void SetOffline(bool offline);
  bool IsOffline() const;
  // The global switch that treats DS_LIMIT like DS_TIMEOUT (retry after a pause).
  void SetRetryOverLimit(bool on);
  bool RetryOverLimit() const;
  void SetRetryLimit(int limit);

  // Sinks set by the application (called from the download threads, one call at a time):
  // the network indicator (kTileNet*) and a full disk (message text), reported once until a
  // write succeeds again.
  void SetNetStateSink(std::function<void(int net_state)> sink);
  void SetDiskFullSink(std::function<void(const std::string& message)> sink);

  // Listeners told that tiles changed state (loaded, failed, queued again, released), so that
  // a view can redraw without polling. Called from the manager's threads and from GetTile's
  // caller, never with a lock of the manager held; a listener must be quick and must not add or
  // remove listeners. RemoveStateListener returns once no call of that listener is running.
  int AddStateListener(std::function<void()> listener);
  void RemoveStateListener(int id);

  // The proxy rotation rule of the global proxy list (core/proxy_list.h).
  static void OnProxyFailure(int failed);
  static void UseNextProxy();
  static void ResetProxyFailures();

  // Tiles in memory, and tiles waiting for the load or a download.
  size_t TileCount() const;
  size_t PendingCount() const;
  // Keys of the tiles the download list would hold now, most recently requested first.
  std::vector<TileKey> PendingKeys() const;
  std::string DataDir() const;
  std::string DownloadListPath() const;

 private:
  enum class Queue { kNone, kLoad, kDownload };
  struct Slot {
    std::shared_ptr<CTile> tile;
    std::list<Slot*>::iterator lru;     // position in lru_
    Queue queue = Queue::kNone;
    std::list<Slot*>::iterator queued;  // position in load_queue_ or download_queue_
    bool in_view = false;
  };
  struct StoreSlot;
  // What a fetch ended in: DS_LOADED or a failure state; `final` failures skip the retries.
  struct FetchResult {
    int state = DS_FAILED;
    bool final = false;
    bool quiet = false;  // no news of the network: the net state is not reported again
  };

  // All *Locked members require mutex_.
  Slot* FindSlotLocked(TileKey key) const;
  Slot* LiveSlotLocked(const CTile* tile) const;
  void EnqueueLocked(Slot* slot, Queue queue, bool front);
  void DequeueLocked(Slot* slot);
  void EraseLocked(Slot* slot);
  void EvictLocked();
  void SweepStampedLocked(uint64_t now);
  void RequeueForDownloadLocked(CTile* tile);
  void NotifyStateChanged();

  void LoadThreadProc();
  void DownloadThreadProc(CWorkThread* thread);
  void LoadOne(const std::shared_ptr<CTile>& tile);
  static bool AcceptBytes(CTile& tile, const uint8_t* data, size_t size);
  FetchResult Fetch(CTile& tile);
  // Applies the outcome of a fetch to the tile; true when the thread should pause.
  bool Finish(const std::shared_ptr<CTile>& tile, FetchResult result);
  void ReportNetState(int state);
  // Hosts ("host:port" of the URL) that could not be reached lately.
  bool HostUnreachable(const std::string& host);
  void NoteHostReply(const std::string& host, bool unreachable);
  void ReportDiskFull(const std::string& message);

  CTileStore* OpenStoreImpl(int id, bool create);
  void LoadDownloadList();
  void SaveDownloadList();

  TileManagerOptions options_;
  mutable std::mutex config_mutex_;
  mutable std::string data_dir_;  // resolved once (config_mutex_)

  // ---- guarded by mutex_ ----
  mutable std::mutex mutex_;
  std::condition_variable load_cv_;
  std::condition_variable download_cv_;
  mutable std::condition_variable state_cv_;
  std::unordered_map<TileKey, Slot> slots_;
  std::list<Slot*> lru_;             // front: most recently requested
  std::list<Slot*> load_queue_;      // DS_UNLOAD tiles, front first
  std::list<Slot*> download_queue_;  // DS_UNDOWN tiles, front first
  std::deque<std::pair<uint64_t, TileKey>> stamps_;  // (free time, key) in time order
  bool stopping_ = false;
  bool running_ = false;
  uint64_t stops_ = 0;  // Stop calls that stopped threads: ends the waits under way
  int retry_limit_ = 3;

  std::atomic<bool> offline_{false};
  std::atomic<bool> retry_over_limit_{false};
  std::atomic<bool> disk_full_reported_{false};
  // Set by Stop so that fetches under way end at once instead of at their time-out.
  std::atomic<bool> cancel_fetches_{false};

  std::mutex listeners_mutex_;  // held while listeners run, so that removal waits for them
  std::vector<std::pair<int, std::function<void()>>> listeners_;
  int next_listener_ = 1;

  std::mutex hosts_mutex_;
  std::unordered_map<std::string, uint64_t> unreachable_hosts_;  // host -> tick it is tried again

  std::mutex sink_mutex_;
  std::function<void(int)> net_sink_;
  std::function<void(const std::string&)> disk_full_sink_;

  std::mutex stores_mutex_;
  std::map<int, std::unique_ptr<StoreSlot>> stores_;

  std::mutex threads_mutex_;  // serialises Start and Stop
  std::unique_ptr<CWorkThread> load_thread_;
  std::vector<std::unique_ptr<CWorkThread>> download_threads_;
};

// The application's tile manager (built on first use, with the options of the program).
CTileManager& TileManager();

}  // namespace velmora
