// The extension point for windows that a standard control cannot show. A module's front-end code
// (in src/frontend) says "a window of this model class is shown by this widget" by registering a
// factory; the window mirror asks the factories, newest first, before its own choice. The web
// views (a QWebEngineView with a QWebChannel) and any other toolkit widget plug in here; a 3D
// view needs nothing: it draws its rendered frame in OnPaint like the 2D map.
//
//   class CWebViewBinding : public CModelBinding { ... };   // makes a QWebEngineView
//   RegisterWindowWidget<CHtmlViewEx>([](CHtmlViewEx& view, QWidget* parent) {
//     return new CWebViewBinding(view, parent);
//   });
//
// The binding's constructor makes its widget with `parent` and passes it to CModelBinding, which
// becomes a child of the widget; SyncFromModel shows the model's state, and the widget's signals
// call the model. Registration happens on the UI thread before the windows are shown.
#pragma once
#include <QWidget>
#include <functional>
#include <typeinfo>
#include <string>

#include "frontend/model_binding.h"

namespace velmora {

// Returns the binding for a window it takes, or null to pass.
using WidgetFactory = std::function<CModelBinding*(CWnd& window, QWidget* parent)>;

// Adds a factory under a name (a second registration under the same name replaces it).
void RegisterWidgetFactory(const std::string& name, WidgetFactory factory);
void UnregisterWidgetFactory(const std::string& name);
// The binding of the newest factory that takes the window, or null.
CModelBinding* MakeRegisteredBinding(CWnd& window, QWidget* parent);

// The factory for every window of model class T (and classes derived from it).
template <class T>
void RegisterWindowWidget(std::function<CModelBinding*(T& window, QWidget* parent)> make,
                          const std::string& name = typeid(T).name()) {
  RegisterWidgetFactory(name, [make = std::move(make)](CWnd& window, QWidget* parent) -> CModelBinding* {
    T* typed = dynamic_cast<T*>(&window);
    return typed ? make(*typed, parent) : nullptr;
  });
}

}  // namespace velmora
