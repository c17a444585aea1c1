// The web views of pages people see, bound on first use: the web engine (Qt WebEngine and
// Chromium, the largest libraries the program uses) lives in the module velmora_web_views, which
// is loaded when the first view that people see asks for a document engine, not at the start.
#pragma once

namespace velmora {

// Before the QApplication is made: lets the web engine share OpenGL contexts, which it needs
// from the start even when it is loaded later.
void PrepareWebViews();
// With the QApplication: views that people see get the web engine (SetHtmlEngineFactory) and
// their windows the web widget (RegisterWindowWidget), both loading the module on first use.
// Uninstall takes both back; a loaded module stays loaded.
void InstallWebViews();
void UninstallWebViews();
// Whether the module has been loaded (by a view that people see).
bool WebViewsLoaded();

}  // namespace velmora
