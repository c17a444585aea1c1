// CHtmlViewEx: the base of every view that shows an HTML page (the hidden script window, the web
// map page view, the earth plug-in view). It loads pages held in memory (the program's pages
// come from its scrambled data files), keeps script errors away from the user when silenced,
// activates itself correctly inside frames that are not document frames, and hands document
// completions and page messages to derived views. The document itself lives in a pluggable
// engine (IHtmlDocumentEngine): the web view of the front end for pages people see, the script
// engine for pages nobody sees.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "earth/ui/html_document_engine.h"
#include "platform/ui/window.h"

namespace velmora {

// WM_MOUSEACTIVATE answers.
constexpr int MA_ACTIVATE = 1;
constexpr int MA_ACTIVATEANDEAT = 2;
constexpr int MA_NOACTIVATE = 3;
constexpr int MA_NOACTIVATEANDEAT = 4;

// The line put before a page that names no character set.
inline constexpr const char* kDefaultCharsetLine =
    "<meta http-equiv=Content-Type content='text/html; charset=gb2312'>\n";
// Replaced in every page by the program folder written with '/'.
inline constexpr const char* kRootDataMarker = "$$ROOT_DATA$$";

// A frame window that keeps an active view (the main frame, a dialog-like frame that hosts
// views). Implemented by window classes beside CWnd.
class IActiveViewFrame {
 public:
  virtual ~IActiveViewFrame() = default;
  virtual CWnd* GetActiveView() const = 0;
  // Makes `view` the active view; `notify` tells the views (OnActivateView).
  virtual void SetActiveView(CWnd* view, bool notify) = 0;
};

// The page text that LoadHtml hands to the engine: the charset line first when the text does
// not contain "charset=" (byte search, case counts), then the text, with every "$$ROOT_DATA$$"
// replaced by `program_dir` written with '/' (it ends with '/', so "$$ROOT_DATA$$images/a.png"
// names the program folder's images/a.png).
std::string PrepareHtmlPage(std::string_view text, std::string_view program_dir);

class CHtmlViewEx : public CWnd {
 public:
  CHtmlViewEx();
  ~CHtmlViewEx() override;

  // The engine that holds the document; made by MakeHtmlEngine() on first use unless one was
  // given. Setting an engine drops the old one with its document.
  void SetEngine(std::unique_ptr<IHtmlDocumentEngine> engine);
  IHtmlDocumentEngine& Engine();

  // Replaces the current document with the HTML text (up to its first NUL; GBK unless it
  // names its character set). Empty text loads nothing. A page that cannot be loaded leaves the
  // old document, without a message. False in both cases. The load completes later
  // (OnDocumentComplete).
  bool LoadHtml(std::string_view text);
  bool Navigate(const std::string& url);
  // Silent views never show script errors (they go to the log).
  void SetSilent(bool silent);
  // Hands a message to the page's velmora.onmessage.
  void PostToPage(const std::string& message);

  // WM_MOUSEACTIVATE: `desktop` is the top-level window the click belongs to.
  int OnMouseActivate(CWnd* desktop, int hit_test, UINT message);
  // The window that takes the page's mouse (move to wheel) in place of the page, which then never
  // sees it; null: the page gets it (the default).
  virtual CWnd* MouseTaker() const { return nullptr; }
  // The frame's activation notification: an activated view takes the focus.
  virtual void OnActivateView(bool activate, CWnd* activated, CWnd* deactivated);

 protected:
  // A document finished loading (after the base's own handling). Derived views do their
  // script set-up here.
  virtual void OnDocumentComplete(const std::string& url) { (void)url; }
  // The page called velmora.postMessage(text).
  virtual void OnPageMessage(const std::string& message) { (void)message; }
  // The default answer to WM_MOUSEACTIVATE: activate, unless the window is disabled.
  virtual int DefaultMouseActivate(CWnd* desktop, int hit_test, UINT message);
  // The document goes away with the window.
  void OnDestroy() override;

 private:
  void Attach(IHtmlDocumentEngine& engine);
  IActiveViewFrame* ParentFrame() const;

  std::unique_ptr<IHtmlDocumentEngine> engine_;
  // Held by the engine's events: they reach this view only while it lives.
  std::shared_ptr<CHtmlViewEx*> self_;
};

}  // namespace velmora
