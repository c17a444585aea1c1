// The 3D tile view's mesh pool and its loader thread.
#include "terrain/tile_mesh_pool.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "core/log.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

// How often the loader looks again for tile pictures that have not arrived yet.
constexpr auto kPicturePoll = std::chrono::milliseconds(15);

}  // namespace

CTileMeshPool::CTileMeshPool(size_t cap) : cap_(cap == 0 ? 1 : cap) {}

CTileMeshPool::~CTileMeshPool() { Release(); }

void CTileMeshPool::SetSources(CTileManager* tiles, CElevationStore* elevation) {
  std::lock_guard<std::mutex> lock(lock_);
  tiles_ = tiles;
  elevation_ = elevation;
  for (auto& e : pool_) e->mesh.SetSources(tiles_, elevation_);
}

void CTileMeshPool::Update(const std::vector<TileKey>& keys, int kind) {
  const size_t count = std::min(keys.size(), cap_);
  std::vector<TileKey> asked;  // keys whose pictures are not in their meshes yet
  {
    std::lock_guard<std::mutex> lock(lock_);
    kind_ = kind;
    std::unordered_map<TileKey, Entry*> by_key;
    for (auto& e : pool_) {
      e->in_use = false;
      by_key.emplace(e->mesh.Key(), e.get());
    }
    std::vector<Entry*> next(count, nullptr);
    for (size_t i = 0; i < count; ++i) {
      auto it = by_key.find(keys[i]);
      if (it == by_key.end() || it->second->in_use) continue;
      it->second->in_use = true;
      next[i] = it->second;
    }
    size_t free_at = 0;
    for (size_t i = 0; i < count; ++i) {
      if (next[i]) continue;
      while (free_at < pool_.size() && pool_[free_at]->in_use) ++free_at;
      Entry* e;
      if (free_at < pool_.size()) {
        e = pool_[free_at].get();
        e->mesh.SetTileKey(TileKeyLow(keys[i]), TileKeyHigh(keys[i]));
        ++e->generation;  // vertices the loader computes for the old key are dropped
        e->failed = false;
      } else if (pool_.size() < cap_) {
        pool_.push_back(std::make_unique<Entry>(keys[i]));
        e = pool_.back().get();
        e->mesh.SetSources(tiles_, elevation_);
      } else {
        continue;  // cannot happen: the keys are cut to the cap
      }
      e->in_use = true;
      next[i] = e;
    }
    visible_.clear();
    for (Entry* e : next) {
      if (!e) continue;
      visible_.push_back(e);
      if (!(e->mesh.BuildState() & kMeshTextureFilled)) asked.push_back(e->mesh.Key());
    }
  }
  // The manager loads the most recently asked first: ask from the farthest to the nearest.
  if (!asked.empty()) {
    CTileManager& tiles = tiles_ ? *tiles_ : TileManager();
    for (auto it = asked.rbegin(); it != asked.rend(); ++it) tiles.GetTile(*it);
  }
  Wake();
}

void CTileMeshPool::ClearVisible() {
  std::lock_guard<std::mutex> lock(lock_);
  visible_.clear();
  for (auto& e : pool_) e->in_use = false;
}

void CTileMeshPool::Release() {
  StopLoader(kInfinite);
  std::lock_guard<std::mutex> lock(lock_);
  visible_.clear();
  pool_.clear();
}

bool CTileMeshPool::LoadStep() {
  Entry* picked = nullptr;
  TileKey key = 0;
  uint64_t generation = 0;
  int kind = 1;
  CElevationStore* elevation = nullptr;
  {
    std::lock_guard<std::mutex> lock(lock_);
    bool waiting = false;
    for (Entry* e : visible_) {
      const uint32_t state = e->mesh.BuildState();
      if (!(state & kMeshVerticesBuilt)) {
        if (e->building || e->failed) continue;
        e->building = true;
        picked = e;
        key = e->mesh.Key();
        generation = e->generation;
        kind = kind_;
        elevation = elevation_;
        break;
      }
      if (!(state & kMeshTextureFilled)) {
        // Copying a picture that has arrived is short: it is done under the lock.
        if (e->mesh.UploadTileTexture()) return true;
        waiting = true;
      }
    }
    waiting_for_pictures_.store(waiting, std::memory_order_relaxed);
    if (!picked) return false;
  }
  std::vector<MeshVertex> vertices;
  const int cells = C3DMesh::ComputeTileVertices(key, kind, elevation ? *elevation : ElevationStore(), &vertices);
  std::lock_guard<std::mutex> lock(lock_);
  picked->building = false;
  if (picked->generation == generation && !picked->mesh.CommitTileVertices(vertices, cells)) {
    picked->failed = true;
    AppLog("3D tile view: the mesh of a tile cannot be made");
  }
  return true;
}

size_t CTileMeshPool::Draw(IDirect3DTexture9* pending) {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device) return 0;
  std::lock_guard<std::mutex> lock(lock_);
  size_t drawn = 0;
  for (Entry* e : visible_) {
    const uint32_t state = e->mesh.BuildState();
    if (!(state & kMeshVerticesBuilt) || !e->mesh.Mesh()) continue;
    if (state & (kMeshTextureFilled | kMeshTexturePlaceholder)) {
      e->mesh.Draw();
    } else {
      // A reused mesh still holds the picture of its previous tile: the stand-in instead.
      device->SetTexture(0, pending);
      e->mesh.Mesh()->DrawSubset(0);
    }
    ++drawn;
  }
  return drawn;
}

CTileMeshPool::Stats CTileMeshPool::GetStats() const {
  std::lock_guard<std::mutex> lock(lock_);
  Stats s;
  s.visible = visible_.size();
  s.pool = pool_.size();
  for (const Entry* e : visible_) {
    const uint32_t state = e->mesh.BuildState();
    if (!(state & kMeshVerticesBuilt)) continue;
    ++s.built;
    if (state & (kMeshTextureFilled | kMeshTexturePlaceholder)) ++s.textured;
  }
  return s;
}

std::vector<TileKey> CTileMeshPool::VisibleKeys() const {
  std::lock_guard<std::mutex> lock(lock_);
  std::vector<TileKey> keys;
  for (const Entry* e : visible_) keys.push_back(e->mesh.Key());
  return keys;
}

void CTileMeshPool::ForEachBuilt(const std::function<void(C3DMesh&)>& fn) {
  std::lock_guard<std::mutex> lock(lock_);
  for (Entry* e : visible_)
    if ((e->mesh.BuildState() & kMeshVerticesBuilt) && e->mesh.Mesh()) fn(e->mesh);
}

bool CTileMeshPool::StartLoader(std::function<void()> progress) {
  if (thread_.IsRunning()) return false;
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_ = false;
    wake_ = true;
  }
  progress_ = std::move(progress);
  return thread_.Start("LoadTiles", [this] { LoaderLoop(); });
}

bool CTileMeshPool::StopLoader(unsigned ms) {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_ = true;
  }
  wake_cv_.notify_all();
  return thread_.Stop(ms);
}

void CTileMeshPool::Wake() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    wake_ = true;
  }
  wake_cv_.notify_all();
}

void CTileMeshPool::LoaderLoop() {
  thread_.SignalReady();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(wake_mutex_);
      if (stop_ || thread_.QuitRequested()) return;
      wake_ = false;
    }
    if (LoadStep()) {
      if (progress_) progress_();
      continue;
    }
    // Nothing to do: wait for a new list, or look again shortly for pictures on their way.
    std::unique_lock<std::mutex> lock(wake_mutex_);
    auto ready = [&] { return wake_ || stop_; };
    if (waiting_for_pictures_.load(std::memory_order_relaxed))
      wake_cv_.wait_for(lock, kPicturePoll, ready);
    else
      wake_cv_.wait(lock, ready);
  }
}

}  // namespace velmora
