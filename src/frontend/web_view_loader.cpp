// The loader of the web view module: finds and loads it on the first view that people see.
#include "frontend/web_view_loader.h"

#include <QCoreApplication>
#include <QLibrary>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "core/log.h"
#include "earth/ui/html_view_ex.h"
#include "frontend/web_view_module.h"
#include "frontend/widget_registry.h"

namespace velmora {
namespace {

constexpr char kWidgetName[] = "web view";

std::mutex g_load_mutex;
const WebViewModule* g_module = nullptr;  // set once under g_load_mutex
bool g_tried = false;
std::atomic<bool> g_loaded{false};

// The module beside the program, else where the build put it (the test programs run elsewhere).
// A module that cannot be loaded is told to the log once; views then keep the script engine.
const WebViewModule* Module() {
  std::lock_guard lock(g_load_mutex);
  if (g_tried) return g_module;
  g_tried = true;
  QStringList places;
  if (QCoreApplication::instance())
    places << QCoreApplication::applicationDirPath() + QStringLiteral("/" VELMORA_WEB_VIEW_MODULE_NAME);
  places << QStringLiteral(VELMORA_WEB_VIEW_MODULE_PATH);
  QStringList reasons;
  for (const QString& place : places) {
    QLibrary library(place);
    library.setLoadHints(QLibrary::PreventUnloadHint);  // its threads and exit handlers outlive any view
    auto entry = reinterpret_cast<const WebViewModule* (*)()>(library.resolve(VELMORA_WEB_VIEW_MODULE_ENTRY));
    if (entry) {
      g_module = entry();
      g_loaded = g_module != nullptr;
      return g_module;
    }
    reasons << library.errorString();
  }
  AppLog("the web view module could not be loaded (%s): pages are shown without the web engine",
         reasons.join(QStringLiteral("; ")).toStdString().c_str());
  return nullptr;
}

}  // namespace

void PrepareWebViews() {
  if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The web engine's sandbox cannot run for root, and the engine then ends the whole process on
  // the first web view. Run as root, the program turns the sandbox off (and says so) instead.
  if (geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) {
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    AppLog("running as root: web views run without the web engine's sandbox");
  }
  // The earth page needs WebGL, which the engine refuses on drivers it does not know (Mesa's
  // software rasteriser among them) unless told to ignore its block list.
  const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  std::string chromium = flags ? flags : "";
  if (chromium.find("--ignore-gpu-blocklist") == std::string::npos) {
    chromium += chromium.empty() ? "--ignore-gpu-blocklist" : " --ignore-gpu-blocklist";
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", chromium.c_str(), 1);
  }
}

void InstallWebViews() {
  SetHtmlEngineFactory([]() -> std::unique_ptr<IHtmlDocumentEngine> {
    const WebViewModule* module = Module();
    return module ? module->make_engine() : nullptr;  // null: the script engine
  });
  RegisterWindowWidget<CHtmlViewEx>(
      [](CHtmlViewEx& view, QWidget* parent) -> CModelBinding* {
        // The view's engine is made on first use, here if not before: a view that people see
        // loads the module through the engine factory. Only a view whose engine came from the
        // module has a web widget; views nobody sees keep the script engine and never load it.
        view.Engine();
        const WebViewModule* module = WebViewsLoaded() ? Module() : nullptr;
        return module ? module->make_binding(view, parent) : nullptr;
      },
      kWidgetName);
}

void UninstallWebViews() {
  UnregisterWidgetFactory(kWidgetName);
  SetHtmlEngineFactory(nullptr);
}

bool WebViewsLoaded() { return g_loaded.load(); }

}  // namespace velmora
