// IHtmlDocumentEngine: what holds and runs the document of an HTML view. Two engines exist: the
// script engine of pages nobody sees (Duktape; synchronous calls, no display) and the web view of
// the desktop front end (Qt WebEngine; pages people see). The view (CHtmlViewEx) does the page
// preparation and hands the engine the finished bytes; the engine reports what happens to the
// document through its events.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/script/script_value.h"

namespace velmora {

class CBitmap;

struct HtmlEngineEvents {
  // A document finished loading (its scripts have run); `url` is what was navigated to, or
  // "about:blank" for a page loaded from memory. Reported on the user-interface thread, never
  // from inside LoadPage or Navigate.
  std::function<void(const std::string& url)> document_complete;
  // The page called velmora.postMessage(text). Reported on the user-interface thread.
  std::function<void(const std::string& message)> page_message;
};

class IHtmlDocumentEngine {
 public:
  virtual ~IHtmlDocumentEngine() = default;

  virtual void SetEvents(HtmlEngineEvents events) = 0;

  // Replaces the document with the page (HTML bytes in the character set their meta line
  // declares); files the page names by absolute path or relative to `base_folder` (the program
  // folder) are reachable. False when the page could not be loaded: the old document stays.
  virtual bool LoadPage(const std::string& page, const std::string& base_folder) = 0;
  // Navigates to an address ("about:...", a file, http or https). False when the address cannot
  // be loaded by this engine; the old document stays.
  virtual bool Navigate(const std::string& url) = 0;
  // Drops the document (the view's window is going away).
  virtual void Clear() = 0;
  virtual bool HasDocument() const = 0;
  // Silent: script errors of the page are never shown to the user (they go to the log).
  virtual void SetSilent(bool silent) = 0;

  // ---- calls into the page ----
  // Synchronous calls, for engines that can make them (the script engine); others answer 0 and
  // nullopt. A reference stays valid until the document changes.
  virtual int FindFunction(const std::string& name) = 0;
  // The reply goes to *reply (its memory is reused); false when the call failed.
  virtual bool CallFunction(int ref, std::span<const ScriptValue> args, ScriptValue* reply) = 0;
  std::optional<ScriptValue> CallFunction(int ref, std::span<const ScriptValue> args) {
    ScriptValue reply;
    if (!CallFunction(ref, args, &reply)) return std::nullopt;
    return reply;
  }
  // Calls the page's global function `name` (a dotted path such as "map.setCenter" is followed)
  // and hands its reply (nullopt when it failed) to `done` on the user-interface thread, later.
  virtual void CallFunctionAsync(const std::string& name, std::vector<ScriptValue> args,
                                 std::function<void(std::optional<ScriptValue>)> done) = 0;
  // Hands `message` to the page's velmora.onmessage(text), when the page set one.
  virtual void PostToPage(const std::string& message) = 0;

  // Local only: the page may load nothing but the program's own addresses (velmora://, data:,
  // blob:); any other request is blocked and logged. Engines without a network ignore it.
  virtual void SetLocalOnly(bool local_only) { (void)local_only; }

  // ---- the picture (engines that draw pages on screen) ----
  // Whether GrabPicture can work: the engine draws its page into a widget.
  virtual bool CanGrab() const { return false; }
  // Whether pages can have WebGL at all here (false on a display platform that has no OpenGL,
  // such as the offscreen one): known before any page loads.
  virtual bool CanDrawWebGl() const { return CanGrab(); }
  // The picture the page's widget shows now, in its pixels (user-interface thread). False when
  // the page has no widget or the engine draws nothing.
  virtual bool GrabPicture(CBitmap* out) {
    (void)out;
    return false;
  }
};

// Files other than pages that pages people see load from "velmora://<host>/<path>" (host "page"
// is the engine's own): a module registers the source of its host. The source is called on the
// user-interface thread with the address's path (starting with '/') and answers the bytes and
// their type, or nothing (the page gets "not found").
struct PageResource {
  std::string mime;
  std::string bytes;
};
using PageResourceSource = std::function<std::optional<PageResource>(const std::string& path)>;
void SetPageResourceSource(const std::string& host, PageResourceSource source);
PageResourceSource FindPageResourceSource(const std::string& host);

// A source whose answers take time (computed from files): the web view calls it on a worker of its
// own, never on the user-interface thread, and several requests may run at once. `cancelled`
// turns true when the page dropped the request; the answer is then thrown away, so a source may
// give up early. A host has either kind of source; setting one removes the other.
using SlowPageResourceSource =
    std::function<std::optional<PageResource>(const std::string& path, const std::atomic<bool>& cancelled)>;
void SetSlowPageResourceSource(const std::string& host, SlowPageResourceSource source);
SlowPageResourceSource FindSlowPageResourceSource(const std::string& host);

// Makes the engine of a view that people see. The desktop front end installs its web view here;
// without one (a run without a display, tests) views get the script engine.
using HtmlEngineFactory = std::function<std::unique_ptr<IHtmlDocumentEngine>()>;
void SetHtmlEngineFactory(HtmlEngineFactory factory);
std::unique_ptr<IHtmlDocumentEngine> MakeHtmlEngine();

}  // namespace velmora
