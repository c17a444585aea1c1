// CScriptPageEngine: the document engine of pages nobody sees, on the script engine (Duktape).
// A page is complete when its scripts have run; the completion is reported through the UI
// dispatcher after LoadPage or Navigate returned. Calls are synchronous and cost microseconds.
//
// What page scripts find besides the language (all under the global object `velmora`):
//   velmora.fetch(url, callback)  GET of an http/https address on a worker thread; later, on the
//                                 user-interface thread, callback(status, text): status is the
//                                 HTTP status (0 when no answer arrived), text the body as UTF-8.
//                                 Returns false when the request was refused.
//   velmora.host(name)            the base address of a service the pages use ("busline",
//                                 "boundary", ...): registry profile section "html_pages", key
//                                 "<name>_host" ("host[:port]", a bare host means https, or a
//                                 whole "http://..." / "https://..." base); a stand-in under
//                                 example.invalid when not set.
//   velmora.numtext(a, b, ...)    the numbers as the language writes them, joined by "," (the
//                                 script engine's own; see CScriptEngine).
//   velmora.postMessage(text)     a message to the view (its OnPageMessage), delivered later.
//   velmora.onmessage             set by the page: receives the view's PostToPage(text).
#pragma once
#include <memory>

#include "earth/ui/html_document_engine.h"
#include "platform/script/script_engine.h"

namespace velmora {

// Registry profile section of the service hosts that the pages use.
inline constexpr const char* kHtmlPagesSection = "html_pages";

class CScriptPageEngine : public IHtmlDocumentEngine {
 public:
  explicit CScriptPageEngine(ScriptLimits limits = {});
  ~CScriptPageEngine() override;

  void SetEvents(HtmlEngineEvents events) override;
  bool LoadPage(const std::string& page, const std::string& base_folder) override;
  bool Navigate(const std::string& url) override;
  void Clear() override;
  bool HasDocument() const override;
  void SetSilent(bool silent) override;
  int FindFunction(const std::string& name) override;
  using IHtmlDocumentEngine::CallFunction;
  bool CallFunction(int ref, std::span<const ScriptValue> args, ScriptValue* reply) override;
  void CallFunctionAsync(const std::string& name, std::vector<ScriptValue> args,
                         std::function<void(std::optional<ScriptValue>)> done) override;
  void PostToPage(const std::string& message) override;

  // The script engine itself (limits, direct calls).
  CScriptEngine& Script();

  struct State;  // shared with answers still on their way to the UI thread

 private:
  std::shared_ptr<State> state_;
};

}  // namespace velmora
