// The object layer: owned shapes under one lock, stored in the drawn-item database on request.
#include "shapes/object_layer.h"

#include "shapes/draw_item_db.h"

namespace velmora {

void CObjectLayer::SetDatabase(CDrawItemDB* db) {
  std::lock_guard lock(mutex_);
  db_ = db;
}

size_t CObjectLayer::Add(std::vector<std::unique_ptr<CMapShape>> shapes, bool store) {
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
  if (store && db && !accepted.empty()) db->AddItems(accepted);
  return accepted.size();
}

bool CObjectLayer::Add(std::unique_ptr<CMapShape> shape, bool store) {
  std::vector<std::unique_ptr<CMapShape>> one;
  one.push_back(std::move(shape));
  return Add(std::move(one), store) == 1;
}

bool CObjectLayer::Remove(const CMapShape* shape, bool delete_stored) {
  std::unique_ptr<CMapShape> removed;
  CDrawItemDB* db;
  {
    std::lock_guard lock(mutex_);
    db = db_;
    for (auto it = shapes_.begin(); it != shapes_.end(); ++it) {
      if (it->get() == shape) {
        removed = std::move(*it);
        shapes_.erase(it);
        break;
      }
    }
  }
  if (!removed) return false;
  if (delete_stored && db && removed->db_id > 0) db->DeleteItem(removed->db_id);
  return true;
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
