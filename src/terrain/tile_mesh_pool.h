// CTileMeshPool: the tile meshes of the 3D tile view: the pool of meshes reused by key, the list
// of those in sight, and the loader thread "LoadTiles" that builds them one mesh or one texture
// at a time from the elevation store and the tile manager while the user-interface thread draws.
//
// Threads and the tile lock. The user-interface thread changes the visible list (Update) and
// draws it (Draw); the loader fills its meshes. One lock guards the list, the pool and every
// mesh's state, vertices and texture: the loader takes it to pick a mesh and to store what it
// built, but computes the vertices (elevation look-ups, which may wait for the network) without
// it, on a copy of the key. A mesh re-keyed meanwhile is noticed by its generation and the
// vertices computed for its old key are dropped, so the loader never touches a mesh that is
// drawn, and never writes another tile's vertices into it. Meshes are deleted only when the
// loader has stopped, and the loader is stopped cooperatively (it checks the stop request
// between units of work and in its waits).
//
// The pool holds at most Cap() meshes: the list in sight is cut to the cap (nearest first), and
// meshes out of sight are reused for new keys, so flying far never grows the pool beyond it.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/work_thread.h"
#include "terrain/3d_mesh.h"

namespace velmora {

class CTileManager;
class CElevationStore;

// Meshes in the pool at most: about 128 MiB of tile pictures (twice that with their copies on the
// device) and far more tiles than a window shows from above.
inline constexpr size_t kTilePoolCap = 512;

class CTileMeshPool {
 public:
  explicit CTileMeshPool(size_t cap = kTilePoolCap);
  // Stops the loader and deletes the meshes.
  ~CTileMeshPool();
  CTileMeshPool(const CTileMeshPool&) = delete;
  CTileMeshPool& operator=(const CTileMeshPool&) = delete;

  // The tile manager and elevation store the meshes read (null: the application's). Before the
  // first Update.
  void SetSources(CTileManager* tiles, CElevationStore* elevation);
  size_t Cap() const { return cap_; }

  // User-interface thread: the list in sight becomes the meshes of `keys` (the first Cap() of
  // them, in order), built with the transforms of projection kind `kind`. A mesh that holds a
  // key keeps it and what it built; the other keys take meshes out of sight (which start again)
  // or new ones while the pool is below its cap. Asks the tile manager for the new keys' pictures
  // and wakes the loader.
  void Update(const std::vector<TileKey>& keys, int kind);
  // Nothing in sight (the meshes stay in the pool).
  void ClearVisible();
  // Stops the loader and deletes every mesh.
  void Release();

  // One unit of the loader's work: the vertices of the first mesh in sight without them, else
  // the texture of the first mesh whose tile picture has arrived. True when it did work.
  bool LoadStep();
  // Inside a frame on the rendering thread: draws the meshes in sight whose vertices are built,
  // each with its texture once filled, else with `pending` (a stand-in picture; null draws them
  // untextured). Returns the number drawn.
  size_t Draw(IDirect3DTexture9* pending);

  struct Stats {
    size_t visible = 0;   // meshes in sight
    size_t pool = 0;      // meshes in the pool
    size_t built = 0;     // in sight with their vertices
    size_t textured = 0;  // in sight with vertices and their tile's picture (or the grey of a tile
                          // that cannot be had)
  };
  Stats GetStats() const;
  // The keys in sight, in drawing order.
  std::vector<TileKey> VisibleKeys() const;
  // Calls `fn` under the tile lock for each mesh in sight whose vertices are built (exports).
  void ForEachBuilt(const std::function<void(C3DMesh&)>& fn);

  // Starts "LoadTiles"; `progress` runs on the loader after each unit of work (the view asks
  // for a repaint there). False when it runs already or cannot start.
  bool StartLoader(std::function<void()> progress);
  // Asks the loader to stop and waits up to `ms` milliseconds (kInfinite: without limit); the
  // loader stops between two units of work. True once it has stopped.
  bool StopLoader(unsigned ms);
  bool LoaderRunning() const { return thread_.IsRunning(); }

 private:
  struct Entry {
    explicit Entry(TileKey key) : mesh(TileKeyLow(key), TileKeyHigh(key)) {}
    C3DMesh mesh;
    uint64_t generation = 0;  // counts the keys the mesh has held
    bool in_use = false;
    bool building = false;    // the loader computes its vertices
    bool failed = false;      // its mesh cannot be made; not tried again for this key
  };
  void Wake();
  void LoaderLoop();

  const size_t cap_;
  CTileManager* tiles_ = nullptr;
  CElevationStore* elevation_ = nullptr;

  mutable std::mutex lock_;  // the tile lock
  std::vector<std::unique_ptr<Entry>> pool_;
  std::vector<Entry*> visible_;
  int kind_ = 1;

  CWorkThread thread_;
  std::function<void()> progress_;
  std::mutex wake_mutex_;
  std::condition_variable wake_cv_;
  bool wake_ = false;
  bool stop_ = false;
  std::atomic<bool> waiting_for_pictures_{false};
};

}  // namespace velmora
