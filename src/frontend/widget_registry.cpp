// Factories of widgets for model classes.
#include "frontend/widget_registry.h"

#include <utility>
#include <vector>

namespace velmora {
namespace {

std::vector<std::pair<std::string, WidgetFactory>>& Factories() {
  static std::vector<std::pair<std::string, WidgetFactory>> factories;  // UI thread only
  return factories;
}

}  // namespace

void RegisterWidgetFactory(const std::string& name, WidgetFactory factory) {
  UnregisterWidgetFactory(name);
  Factories().emplace_back(name, std::move(factory));
}

void UnregisterWidgetFactory(const std::string& name) {
  auto& f = Factories();
  for (auto it = f.begin(); it != f.end(); ++it) {
    if (it->first == name) {
      f.erase(it);
      return;
    }
  }
}

CModelBinding* MakeRegisteredBinding(CWnd& window, QWidget* parent) {
  const auto& f = Factories();
  for (auto it = f.rbegin(); it != f.rend(); ++it)
    if (CModelBinding* binding = it->second(window, parent)) return binding;
  return nullptr;
}

}  // namespace velmora
