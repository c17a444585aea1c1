// CObjectLayer: one layer of map objects over the 2D map (the user's objects, boundaries,
// tracks): it owns its shapes, keeps them in drawing order and can keep them in the drawn-item
// database. Every operation takes the layer's lock, so workers may read the shapes (by type)
// while the user-interface thread draws them; a shape pointer handed out stays valid until the
// shape is removed on the user-interface thread.
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "shapes/map_shape.h"

namespace velmora {

class CDrawItemDB;

class CObjectLayer {
 public:
  explicit CObjectLayer(std::string name) : name_(std::move(name)) {}
  CObjectLayer(const CObjectLayer&) = delete;
  CObjectLayer& operator=(const CObjectLayer&) = delete;

  const std::string& Name() const { return name_; }
  // The database in which Add(..., store = true) keeps shapes and Remove deletes their rows.
  void SetDatabase(CDrawItemDB* db);

  // Takes the shapes. Null shapes and shapes without a point are refused (destroyed). With
  // `store`, the accepted shapes are written to the database as well (kept in the layer for this
  // run even when that fails: then *stored is false and the database has reported it). Returns
  // how many the layer took.
  size_t Add(std::vector<std::unique_ptr<CMapShape>> shapes, bool store, bool* stored = nullptr);
  bool Add(std::unique_ptr<CMapShape> shape, bool store, bool* stored = nullptr);
  // Removes one shape; `delete_stored` also deletes its database row first. False when it is
  // not here, or when its row cannot be deleted (the shape then stays, *deleted is false and
  // the database has reported it).
  bool Remove(const CMapShape* shape, bool delete_stored, bool* deleted = nullptr);
  // Removes every shape (rows stay unless `delete_stored`).
  void Clear(bool delete_stored = false);
  // Removes and returns the shapes (ownership passes to the caller).
  std::vector<std::unique_ptr<CMapShape>> TakeAll();

  size_t Count() const;
  bool Contains(const CMapShape* shape) const;
  // Appends the shapes of a type (kAllShapeTypes for all), in drawing order.
  void GetShapesByType(int type, std::vector<CMapShape*>& out) const;
  // Runs `visit` on every shape under the lock (no calls back into the layer).
  void ForEach(const std::function<void(const CMapShape&)>& visit) const;
  GeoBox Bounds() const;

  bool visible = true;
  // Draws the shapes shown at the projector's zoom, in order.
  void Draw(CGraphics& g, const CMapProjector& p) const;
  // The topmost shape under the pixel, or null.
  CMapShape* HitTest(const CMapProjector& p, double x, double y) const;

 private:
  bool Contains(const CMapShape* shape, const std::lock_guard<std::mutex>& held) const;

  std::string name_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<CMapShape>> shapes_;
  CDrawItemDB* db_ = nullptr;
};

}  // namespace velmora
