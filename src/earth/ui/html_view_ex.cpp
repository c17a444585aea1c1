// The HTML view base: page preparation, engine events and the activation rule.
#include "earth/ui/html_view_ex.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "core/settings.h"
#include "earth/ui/script_page_engine.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {

namespace {

std::mutex g_factory_mutex;
HtmlEngineFactory g_factory;
std::map<std::string, PageResourceSource> g_resource_sources;  // guarded by g_factory_mutex
std::map<std::string, SlowPageResourceSource> g_slow_sources;   // guarded by g_factory_mutex

bool IsSelfOrDescendant(const CWnd* window, const CWnd* ancestor) {
  for (const CWnd* w = window; w != nullptr; w = w->GetParent())
    if (w == ancestor) return true;
  return false;
}

}  // namespace

void SetHtmlEngineFactory(HtmlEngineFactory factory) {
  std::lock_guard lock(g_factory_mutex);
  g_factory = std::move(factory);
}

void SetPageResourceSource(const std::string& host, PageResourceSource source) {
  std::lock_guard lock(g_factory_mutex);
  g_slow_sources.erase(host);
  if (source)
    g_resource_sources[host] = std::move(source);
  else
    g_resource_sources.erase(host);
}

void SetSlowPageResourceSource(const std::string& host, SlowPageResourceSource source) {
  std::lock_guard lock(g_factory_mutex);
  g_resource_sources.erase(host);
  if (source)
    g_slow_sources[host] = std::move(source);
  else
    g_slow_sources.erase(host);
}

SlowPageResourceSource FindSlowPageResourceSource(const std::string& host) {
  std::lock_guard lock(g_factory_mutex);
  auto it = g_slow_sources.find(host);
  return it == g_slow_sources.end() ? SlowPageResourceSource{} : it->second;
}

PageResourceSource FindPageResourceSource(const std::string& host) {
  std::lock_guard lock(g_factory_mutex);
  auto it = g_resource_sources.find(host);
  return it == g_resource_sources.end() ? PageResourceSource{} : it->second;
}

std::unique_ptr<IHtmlDocumentEngine> MakeHtmlEngine() {
  HtmlEngineFactory factory;
  {
    std::lock_guard lock(g_factory_mutex);
    factory = g_factory;
  }
  if (factory) {
    if (auto engine = factory()) return engine;
  }
  return std::make_unique<CScriptPageEngine>();
}

std::string PrepareHtmlPage(std::string_view text, std::string_view program_dir) {
  std::string page;
  if (text.find("charset=") == std::string_view::npos) page = kDefaultCharsetLine;
  page.append(text);
  std::string root(program_dir);
  std::replace(root.begin(), root.end(), '\\', '/');
  const std::string_view marker = kRootDataMarker;
  for (size_t at = page.find(marker); at != std::string::npos; at = page.find(marker, at + root.size()))
    page.replace(at, marker.size(), root);
  return page;
}

CHtmlViewEx::CHtmlViewEx() : self_(std::make_shared<CHtmlViewEx*>(this)) {
  MapMessage(WM_MOUSEACTIVATE, [this](WPARAM desktop, LPARAM lparam) {
    CWnd* top = UiDispatcher().FromHandle(static_cast<HWND>(desktop));
    return LRESULT{OnMouseActivate(top, static_cast<int>(LOWORD(static_cast<WPARAM>(lparam))),
                                   HIWORD(static_cast<WPARAM>(lparam)))};
  });
}

CHtmlViewEx::~CHtmlViewEx() {
  self_.reset();  // events still on their way find no view
  engine_.reset();
}

void CHtmlViewEx::SetEngine(std::unique_ptr<IHtmlDocumentEngine> engine) {
  engine_ = std::move(engine);
  if (engine_) Attach(*engine_);
}

IHtmlDocumentEngine& CHtmlViewEx::Engine() {
  if (!engine_) SetEngine(MakeHtmlEngine());
  return *engine_;
}

void CHtmlViewEx::Attach(IHtmlDocumentEngine& engine) {
  std::weak_ptr<CHtmlViewEx*> weak = self_;
  HtmlEngineEvents events;
  events.document_complete = [weak](const std::string& url) {
    if (auto view = weak.lock()) (*view)->OnDocumentComplete(url);
  };
  events.page_message = [weak](const std::string& message) {
    if (auto view = weak.lock()) (*view)->OnPageMessage(message);
  };
  engine.SetEvents(std::move(events));
}

bool CHtmlViewEx::LoadHtml(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return false;
  // The program folder as the options snapshot gives it, taken once for both uses.
  const CAppOptions& options = AppOptions();
  std::string root = options.program_dir;
  std::replace(root.begin(), root.end(), '\\', '/');
  return Engine().LoadPage(PrepareHtmlPage(text, root), root);
}

bool CHtmlViewEx::Navigate(const std::string& url) { return Engine().Navigate(url); }

void CHtmlViewEx::SetSilent(bool silent) { Engine().SetSilent(silent); }

void CHtmlViewEx::PostToPage(const std::string& message) { Engine().PostToPage(message); }

void CHtmlViewEx::OnDestroy() {
  if (engine_) engine_->Clear();
  CWnd::OnDestroy();
}

int CHtmlViewEx::DefaultMouseActivate(CWnd*, int, UINT) {
  return IsWindowEnabled() ? MA_ACTIVATE : MA_NOACTIVATE;
}

IActiveViewFrame* CHtmlViewEx::ParentFrame() const {
  for (CWnd* w = GetParent(); w != nullptr; w = w->GetParent())
    if (auto* frame = dynamic_cast<IActiveViewFrame*>(w)) return frame;
  return nullptr;
}

int CHtmlViewEx::OnMouseActivate(CWnd* desktop, int hit_test, UINT message) {
  const int answer = DefaultMouseActivate(desktop, hit_test, message);
  if (answer == MA_NOACTIVATE || answer == MA_NOACTIVATEANDEAT) return answer;
  IActiveViewFrame* frame = ParentFrame();
  if (frame == nullptr) return answer;
  auto* frame_wnd = dynamic_cast<CWnd*>(frame);
  if (frame_wnd == nullptr || desktop == nullptr || !IsSelfOrDescendant(frame_wnd, desktop)) return answer;
  if (frame->GetActiveView() == this) {
    // Already active: take the focus back when it went elsewhere; otherwise nothing changes.
    CWnd* focus = GetFocusWindow();
    if (focus == nullptr || !IsSelfOrDescendant(focus, this)) OnActivateView(true, this, this);
  } else {
    frame->SetActiveView(this, true);
  }
  return answer;
}

void CHtmlViewEx::OnActivateView(bool activate, CWnd*, CWnd*) {
  if (activate) SetFocus();
}

}  // namespace velmora
