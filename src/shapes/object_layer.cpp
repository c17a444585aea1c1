// The object layer: owned shapes under one lock, stored in the drawn-item database on request.
#include "shapes/object_layer.h"

#include "shapes/draw_item_db.h"

namespace velmora {

void CObjectLayer::SetDatabase(CDrawItemDB* db) {
  std::lock_guard lock(mutex_);
  db_ = db;
}

size_t CObjectLayer::Add(std::vector<std::unique_ptr<CMapShape>> shapes, bool store, bool* stored) {
  if (stored) *stored = true;
  std::vector<CMapShape*> accepted;
  CDrawItemDB* db;
  {
    std::lock_guard lock(mutex_);
    db = db_;
    for (auto& shape : shapes) {
      if (!shape || shape->PointCount() == 0) continue;
      accepted.push_back(shape.get());
      shapes_.push_back(std::move(shape));
    }
  }
  // The database has its own lock; rows are written outside the layer's so that drawing does
  // not wait for the disk.
  if (store && db && !accepted.empty() && db->AddItems(accepted) != accepted.size() && stored) *stored = false;
  return accepted.size();
}

bool CObjectLayer::Add(std::unique_ptr<CMapShape> shape, bool store, bool* stored) {
  std::vector<std::unique_ptr<CMapShape>> one;
  one.push_back(std::move(shape));
  return Add(std::move(one), store, stored) == 1;
}

bool CObjectLayer::Remove(const CMapShape* shape, bool delete_stored, bool* deleted) {
  if (deleted) *deleted = true;
  CDrawItemDB* db;
  int64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    db = db_;
    if (!Contains(shape, lock)) return false;
    id = shape->db_id;
  }
  // The row goes first: a shape whose row stays would come back at the next start, so when the
  // row cannot be deleted the shape stays too.
  if (delete_stored && db && id > 0 && !db->DeleteItem(id)) {
    if (deleted) *deleted = false;
    return false;
  }
  std::unique_ptr<CMapShape> removed;
  {
    std::lock_guard lock(mutex_);
    for (auto it = shapes_.begin(); it != shapes_.end(); ++it) {
      if (it->get() == shape) {
        removed = std::move(*it);
        shapes_.erase(it);
        break;
      }
    }
  }
  return removed != nullptr;
}

void CObjectLayer::Clear(bool delete_stored) {
  std::vector<std::unique_ptr<CMapShape>> gone = TakeAll();
  CDrawItemDB* db;
  {
    std::lock_guard lock(mutex_);
    db = db_;
  }
  if (delete_stored && db)
    for (auto& shape : gone)
      if (shape->db_id > 0) db->DeleteItem(shape->db_id);
}

std::vector<std::unique_ptr<CMapShape>> CObjectLayer::TakeAll() {
  std::lock_guard lock(mutex_);
  std::vector<std::unique_ptr<CMapShape>> out = std::move(shapes_);
  shapes_.clear();
  return out;
}

size_t CObjectLayer::Count() const {
  std::lock_guard lock(mutex_);
  return shapes_.size();
}

bool CObjectLayer::Contains(const CMapShape* shape) const {
  std::lock_guard lock(mutex_);
  return Contains(shape, lock);
}

bool CObjectLayer::Contains(const CMapShape* shape, const std::lock_guard<std::mutex>&) const {
  for (const auto& s : shapes_)
    if (s.get() == shape) return true;
  return false;
}

void CObjectLayer::GetShapesByType(int type, std::vector<CMapShape*>& out) const {
  std::lock_guard lock(mutex_);
  for (const auto& s : shapes_)
    if (type == kAllShapeTypes || s->GetType() == type) out.push_back(s.get());
}

void CObjectLayer::ForEach(const std::function<void(const CMapShape&)>& visit) const {
  std::lock_guard lock(mutex_);
  for (const auto& s : shapes_) visit(*s);
}

GeoBox CObjectLayer::Bounds() const {
  std::lock_guard lock(mutex_);
  GeoBox box;
  for (const auto& s : shapes_) {
    GeoBox b = s->Bounds();
    if (b.Empty()) continue;
    box.Add(b.west, b.south);
    box.Add(b.east, b.north);
  }
  return box;
}

void CObjectLayer::Draw(CGraphics& g, const CMapProjector& p) const {
  if (!visible) return;
  std::lock_guard lock(mutex_);
  for (const auto& s : shapes_) s->Draw(g, p);
}

CMapShape* CObjectLayer::HitTest(const CMapProjector& p, double x, double y) const {
  if (!visible) return nullptr;
  std::lock_guard lock(mutex_);
  for (auto it = shapes_.rbegin(); it != shapes_.rend(); ++it)
    if ((*it)->HitTest(p, x, y)) return it->get();
  return nullptr;
}

}  // namespace velmora
