// CScriptEngine: runs the scripts of a page that nobody sees (Duktape) and calls its functions
// synchronously. One engine holds one document at a time: loading a page builds a new script
// heap, runs the page's <script> blocks in it and only then replaces the old one, so a page that
// cannot be loaded leaves the old document in place.
//
// Every entry into the script is bounded: a call (or one script block at load) that runs longer
// than its time limit, or a heap that would grow past its memory limit, fails that call with an
// error and leaves the engine usable; a script cannot catch its way out of the time limit. An
// internal fatal error of the script engine throws the whole heap away (its memory is freed by
// us) and the engine is left without a document.
//
// Host functions (C++ functions offered to page scripts as `<object>.<name>`) are installed in
// every heap the engine builds, so that higher layers can offer services such as a fetch that
// this layer cannot reach. Every document also has the engine's own velmora.numtext(a, b, ...):
// its arguments as String() writes them, joined by "," (the same text, except that a tie in the
// last digit goes to the even digit as the language's rule says, where Duktape's own conversion
// rounds it up), several times faster than the script's own number conversion.
//
// Not thread-safe: one thread (the user-interface thread) uses an engine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/script/script_value.h"

namespace velmora {

struct ScriptLimits {
  unsigned call_ms = 1000;                  // one call of a page function
  unsigned load_ms = 5000;                  // one script block while a page loads
  size_t memory_bytes = size_t(64) << 20;   // the whole heap of a document
};

class CScriptEngine {
 public:
  // Arguments arrive converted; a function argument arrives as kFunction with a reference
  // (`ref`) that the engine releases when the host function returns, unless the host takes it
  // over by setting that argument's ref to 0 (it must then Release it itself).
  // The return value is the call's result. A host function must not call into the engine.
  using HostFunction = std::function<ScriptValue(std::span<ScriptValue> args)>;

  explicit CScriptEngine(ScriptLimits limits = {});
  ~CScriptEngine();
  CScriptEngine(const CScriptEngine&) = delete;
  CScriptEngine& operator=(const CScriptEngine&) = delete;

  const ScriptLimits& Limits() const { return limits_; }
  void SetLimits(const ScriptLimits& limits) { limits_ = limits; }

  // Offers `fn` to the scripts of every later document as `object.name` (a global function
  // when `object` is empty). Defining a name again replaces the function.
  void DefineHostFunction(const std::string& object, const std::string& name, HostFunction fn);

  // ---- documents ----
  // Replaces the document with an empty one (a fresh heap with the host functions). False when
  // no heap can be made; the old document then stays.
  bool LoadEmpty();
  struct LoadResult {
    bool loaded = false;              // false: the old document stays
    std::vector<std::string> errors;  // scripts left out or failed; the page still loaded
  };
  // Replaces the document with the page (HTML bytes in their declared character set): a new
  // heap runs the page's script blocks in order, each bounded by the load limit; a block that
  // fails is reported in `errors` and the next one still runs (as in a browser). src= files are
  // resolved against `base_folder`. Fails only when no heap can be made or the page alone would
  // not fit the memory limit.
  LoadResult LoadPage(std::string_view page, const std::string& base_folder);
  // Drops the document.
  void Clear();
  bool HasDocument() const { return heap_ != nullptr; }
  // Changes with every document, so that late answers meant for an old one can be told apart.
  uint64_t Generation() const { return generation_; }

  // Runs program code in the document's global scope, bounded by the load limit. False (reason
  // in *error) when there is no document or the code threw or ran over.
  bool RunScript(std::string_view source, std::string_view name, std::string* error = nullptr);

  // ---- functions ----
  // A reference to the global function of that name (>= 1), or 0 when the document has none.
  // Asking again for the same name gives the same reference.
  int FindFunction(std::string_view name);
  // Calls a referenced function with the arguments (kFunction/kObject arguments are passed as
  // undefined), bounded by the call limit. nullopt (reason in *error) when the reference is not
  // a function of this document, the function threw, ran over its time or memory, or there is
  // no document. A string reply comes back as UTF-8; an object reply as kObject with its text.
  std::optional<ScriptValue> Call(int ref, std::span<const ScriptValue> args, std::string* error = nullptr);
  // The same into *reply, whose memory is reused (for callers that call often).
  bool Call(int ref, std::span<const ScriptValue> args, ScriptValue* reply, std::string* error = nullptr);
  // Calls the function at a dotted path from the global object ("velmora.onmessage"), looked up
  // anew for this call; nullopt (reason in *error) as for Call, and when the path does not lead
  // to a function.
  std::optional<ScriptValue> CallPath(std::string_view path, std::span<const ScriptValue> args,
                                      std::string* error = nullptr);
  // Releases a reference that a host function took over (references die with their document).
  void Release(int ref);

  // Bytes the document's heap holds now.
  size_t MemoryUsed() const;

  struct Heap;  // the engine's side of one script heap (public for the engine's C callbacks)

 private:
  bool InstallHostFunctions(Heap& heap);
  std::unique_ptr<Heap> NewHeap();
  bool Invoke(void* fn, std::string_view path, std::span<const ScriptValue> args, ScriptValue* reply,
              std::string* error);
  void Adopt(std::unique_ptr<Heap> heap);

  ScriptLimits limits_;
  struct HostEntry {
    std::string object, name;
    HostFunction fn;
  };
  std::vector<HostEntry> host_functions_;
  std::unique_ptr<Heap> heap_;
  uint64_t generation_ = 0;
};

}  // namespace velmora
