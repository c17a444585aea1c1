// WebViewModule: what the web view module (velmora_web_views, frontend/web_view) gives the
// program that loads it (frontend/web_view_loader), through its one entry point.
#pragma once
#include <memory>

#include "earth/ui/html_document_engine.h"

class QWidget;

namespace velmora {

class CHtmlViewEx;
class CModelBinding;

struct WebViewModule {
  // A document engine on the web engine.
  std::unique_ptr<IHtmlDocumentEngine> (*make_engine)();
  // The widget of a view whose engine came from make_engine; null for other engines.
  CModelBinding* (*make_binding)(CHtmlViewEx& view, QWidget* parent);
};

}  // namespace velmora

// The module's entry: registers the page scheme with the web engine on its first call (before
// any page, as the engine requires) and returns the module's functions.
extern "C" const velmora::WebViewModule* velmora_web_view_module();
#define VELMORA_WEB_VIEW_MODULE_ENTRY "velmora_web_view_module"
