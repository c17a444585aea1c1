// Child views made on first use.
#include "view/view_registry.h"

#include "platform/ui/window.h"

namespace velmora {

CViewRegistry::~CViewRegistry() { DestroyAll(); }

void CViewRegistry::RegisterFactory(int kind, Factory factory) { factories_[kind] = std::move(factory); }

std::vector<int> CViewRegistry::RegisteredKinds() const {
  std::vector<int> kinds;
  for (const auto& [kind, factory] : factories_) kinds.push_back(kind);
  return kinds;
}

IChildView* CViewRegistry::Find(int kind) const {
  for (const auto& [k, view] : views_)
    if (k == kind) return view.get();
  return nullptr;
}

IChildView* CViewRegistry::GetOrCreate(int kind, CWnd* parent) {
  if (IChildView* view = Find(kind)) return view;
  auto it = factories_.find(kind);
  if (it == factories_.end() || !it->second) return nullptr;
  std::unique_ptr<IChildView> view = it->second();
  if (!view || view->GetViewKind() != kind) return nullptr;
  if (!view->CreateView(0, parent)) return nullptr;
  views_.emplace_back(kind, std::move(view));
  return views_.back().second.get();
}

std::vector<IChildView*> CViewRegistry::Views() const {
  std::vector<IChildView*> out;
  for (const auto& [kind, view] : views_) out.push_back(view.get());
  return out;
}

void CViewRegistry::DestroyAll() {
  while (!views_.empty()) {
    std::unique_ptr<IChildView> view = std::move(views_.back().second);
    views_.pop_back();
    if (CWnd* window = view->GetWnd()) window->DestroyWindow();
  }
}

}  // namespace velmora
