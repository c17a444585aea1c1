// CViewRegistry: the child views of the main frame by kind. Modules register a factory per kind;
// a view is made on first use and lives until the registry destroys it (when the frame closes).
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "view/child_view.h"

namespace velmora {

class CWnd;

class CViewRegistry {
 public:
  using Factory = std::function<std::unique_ptr<IChildView>()>;

  CViewRegistry() = default;
  ~CViewRegistry();
  CViewRegistry(const CViewRegistry&) = delete;
  CViewRegistry& operator=(const CViewRegistry&) = delete;

  // Registers (or replaces) the factory of a view kind.
  void RegisterFactory(int kind, Factory factory);
  bool HasFactory(int kind) const { return factories_.count(kind) != 0; }
  std::vector<int> RegisteredKinds() const;

  // The view of that kind when it was made, else null.
  IChildView* Find(int kind) const;
  // The view of that kind, made and created as a child window of `parent` on first use; null
  // when no factory is registered, or the factory or the window creation fails.
  IChildView* GetOrCreate(int kind, CWnd* parent);
  std::vector<IChildView*> Views() const;
  // Destroys the windows and the views, in the reverse order of their making.
  void DestroyAll();

 private:
  std::map<int, Factory> factories_;
  std::vector<std::pair<int, std::unique_ptr<IChildView>>> views_;
};

}  // namespace velmora
