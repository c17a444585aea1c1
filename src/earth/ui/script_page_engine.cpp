// The document engine of pages nobody sees: documents in the script engine, completions and
// messages posted to the UI thread, and the services offered to page scripts.
#include "earth/ui/script_page_engine.h"

#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/script_fetch.h"
#include "platform/fs.h"
#include "platform/script/page_scripts.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {

namespace {
constexpr size_t kMaxLoggedLoadErrors = 5;
}  // namespace

struct CScriptPageEngine::State {
  explicit State(ScriptLimits limits) : script(limits) {}

  void LogLoadErrors(const std::vector<std::string>& errors) const {
    for (size_t i = 0; i < errors.size() && i < kMaxLoggedLoadErrors; ++i)
      AppLog("page script: %s", errors[i].c_str());
  }
  void LogCallError(const std::string& what, const std::string& error) const {
    if (!silent) AppLog("page script: %s: %s", what.c_str(), error.c_str());
  }
  // The document is complete: reported once the caller has returned.
  void PostComplete(const std::weak_ptr<State>& self, const std::string& url) const {
    UiDispatcher().PostCall([self, url] {
      if (auto s = self.lock(); s && s->events.document_complete) s->events.document_complete(url);
    });
  }
  bool Load(const std::weak_ptr<State>& self, std::string_view page, const std::string& base, const std::string& url) {
    CScriptEngine::LoadResult result = script.LoadPage(page, base);
    LogLoadErrors(result.errors);
    if (!result.loaded) return false;
    PostComplete(self, url);
    return true;
  }

  CScriptEngine script;
  CScriptFetcher fetcher;  // declared after the script: stopped (and its worker joined) first
  HtmlEngineEvents events;
  bool silent = false;
};

namespace {

std::string ServiceBase(const std::string& name) {
  std::string host = GetProfileString(kHtmlPagesSection, name + "_host", "");
  if (host.empty()) host = name + ".example.invalid";
  if (host.rfind("http://", 0) != 0 && host.rfind("https://", 0) != 0) host = "https://" + host;
  while (!host.empty() && host.back() == '/') host.pop_back();
  return host;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace

CScriptPageEngine::CScriptPageEngine(ScriptLimits limits) : state_(std::make_shared<State>(limits)) {
  std::weak_ptr<State> weak = state_;
  CScriptEngine& script = state_->script;

  script.DefineHostFunction("velmora", "fetch", [weak](std::span<ScriptValue> args) {
    auto s = weak.lock();
    if (!s || args.size() < 2 || !args[0].IsString() || !args[1].IsFunction() || args[1].ref == 0)
      return ScriptValue::Boolean(false);
    const int ref = args[1].ref;
    const uint64_t generation = s->script.Generation();
    bool queued = s->fetcher.Fetch(args[0].text, [weak, ref, generation](const ScriptFetchAnswer& answer) {
      auto s = weak.lock();
      // An answer for a document that has been replaced meanwhile has nobody to go to.
      if (!s || s->script.Generation() != generation) return;
      ScriptValue reply[2] = {ScriptValue::Number(answer.status), ScriptValue::String(answer.text)};
      std::string error;
      if (!s->script.Call(ref, reply, &error)) s->LogCallError("fetch callback", error);
      s->script.Release(ref);
    });
    if (queued) args[1].ref = 0;  // the callback stays referenced until its answer came
    return ScriptValue::Boolean(queued);
  });

  script.DefineHostFunction("velmora", "host", [](std::span<ScriptValue> args) {
    if (args.empty() || !args[0].IsString() || args[0].text.empty()) return ScriptValue::String("");
    return ScriptValue::String(ServiceBase(args[0].text));
  });

  script.DefineHostFunction("velmora", "postMessage", [weak](std::span<ScriptValue> args) {
    std::string text = args.empty() ? std::string() : args[0].ToText();
    UiDispatcher().PostCall([weak, text = std::move(text)] {
      if (auto s = weak.lock(); s && s->events.page_message) s->events.page_message(text);
    });
    return ScriptValue::Undefined();
  });
}

CScriptPageEngine::~CScriptPageEngine() {
  if (state_) state_->fetcher.Stop();
}

void CScriptPageEngine::SetEvents(HtmlEngineEvents events) { state_->events = std::move(events); }

bool CScriptPageEngine::LoadPage(const std::string& page, const std::string& base_folder) {
  return state_->Load(state_, page, base_folder, "about:blank");
}

bool CScriptPageEngine::Navigate(const std::string& url) {
  State& s = *state_;
  if (url.rfind("about:", 0) == 0) {
    if (!s.script.LoadEmpty()) return false;
    s.PostComplete(state_, url);
    return true;
  }
  if (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) {
    // The page arrives later; its scripts may name only files by absolute path.
    std::weak_ptr<State> weak = state_;
    return s.fetcher.Fetch(url, [weak, url](const ScriptFetchAnswer& answer) {
      auto s = weak.lock();
      if (!s) return;
      if (answer.status < 200 || answer.status >= 300) {
        AppLog("page %s not loaded: %s", url.c_str(),
               answer.error.empty() ? ("HTTP " + std::to_string(answer.status)).c_str() : answer.error.c_str());
        return;
      }
      s->Load(weak, answer.text, AppOptions().program_dir, url);
    });
  }
  std::string path = ResolveScriptPath(url, "");
  if (path.empty() || path.front() != '/') return false;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  if (!bytes) {
    AppLog("page %s not loaded: %s", path.c_str(), error.c_str());
    return false;
  }
  return s.Load(state_, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                FolderOf(path), url);
}

void CScriptPageEngine::Clear() { state_->script.Clear(); }

bool CScriptPageEngine::HasDocument() const { return state_->script.HasDocument(); }

void CScriptPageEngine::SetSilent(bool silent) { state_->silent = silent; }

int CScriptPageEngine::FindFunction(const std::string& name) { return state_->script.FindFunction(name); }

bool CScriptPageEngine::CallFunction(int ref, std::span<const ScriptValue> args, ScriptValue* reply) {
  if (state_->silent) return state_->script.Call(ref, args, reply);
  std::string error;
  bool ok = state_->script.Call(ref, args, reply, &error);
  if (!ok) state_->LogCallError("call", error);
  return ok;
}

void CScriptPageEngine::CallFunctionAsync(const std::string& name, std::vector<ScriptValue> args,
                                          std::function<void(std::optional<ScriptValue>)> done) {
  std::string error;
  auto reply = state_->script.CallPath(name, args, &error);
  if (!reply) state_->LogCallError(name, error);
  if (done) UiDispatcher().PostCall([done = std::move(done), reply = std::move(reply)] { done(reply); });
}

void CScriptPageEngine::PostToPage(const std::string& message) {
  ScriptValue arg = ScriptValue::String(message);
  // A page without a message handler simply does not listen.
  (void)state_->script.CallPath("velmora.onmessage", std::span<const ScriptValue>(&arg, 1));
}

CScriptEngine& CScriptPageEngine::Script() { return state_->script; }

}  // namespace velmora
