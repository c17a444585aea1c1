// The script engine on Duktape: heaps with a memory limit (our allocator counts every block),
// calls with a time limit (Duktape's execution-time check), host functions, references to
// script functions, and the recovery from an internal fatal error (the heap's blocks are freed
// by us, since Duktape cannot be trusted with that heap any more).
//
// Duktape reports errors with longjmp. Every function here that Duktape can leave that way (the
// safe-call bodies, the host-function trampoline) keeps no C++ object alive across a Duktape
// call that may throw.
#include "platform/script/script_engine.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <unordered_map>

#include "duktape.h"
#include "platform/script/page_scripts.h"

namespace velmora {
namespace {

// The coarse clock (a few milliseconds of resolution) costs a fraction of the precise one and is
// read on every call; limits are hundreds of milliseconds.
int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Every block of a heap carries this header: the heap's list of its blocks and the block's size.
struct alignas(std::max_align_t) Block {
  Block* prev;
  Block* next;
  size_t size;
};

constexpr int kFatal = -100;  // Run's result when the heap was thrown away
constexpr unsigned kErrorTextMs = 100;

}  // namespace

struct CScriptEngine::Heap {
  CScriptEngine* engine = nullptr;
  duk_context* ctx = nullptr;
  Block blocks{&blocks, &blocks, 0};  // sentinel of the circular list
  size_t used = 0;
  size_t limit = 0;
  int64_t deadline_ns = 0;  // 0: no call is running
  bool exhausted = false;    // the running call was refused memory: it ends at the next check
  std::jmp_buf* fatal_jump = nullptr;
  bool broken = false;
  char fatal_message[160] = {};
  std::vector<void*> refs;  // reference - 1 -> the function's heap pointer (null: free)
  std::vector<int> free_refs;
  std::unordered_map<std::string, int> by_name;
  // Scratch of the host-function trampoline (host functions do not nest).
  std::vector<ScriptValue> host_args;
  ScriptValue host_result;

  ~Heap() { Destroy(); }

  // ---- memory ----
  void Link(Block* b) {
    b->prev = blocks.prev;
    b->next = &blocks;
    blocks.prev->next = b;
    blocks.prev = b;
  }
  static void Unlink(Block* b) {
    b->prev->next = b->next;
    b->next->prev = b->prev;
  }
  void FreeAllBlocks() {
    Block* b = blocks.next;
    while (b != &blocks) {
      Block* next = b->next;
      std::free(b);
      b = next;
    }
    blocks.prev = blocks.next = &blocks;
    used = 0;
  }

  // ---- running ----
  // duk_safe_call with the time limit and the fatal-error exit. Returns DUK_EXEC_SUCCESS (the
  // body's one result on the stack), DUK_EXEC_ERROR (the error value on the stack instead) or
  // kFatal (the heap is gone, nothing to pop).
  int Run(duk_safe_call_function fn, void* udata, duk_idx_t nargs, unsigned budget_ms) {
    if (broken || ctx == nullptr) return kFatal;
    std::jmp_buf env;
    fatal_jump = &env;
    if (setjmp(env) != 0) {
      fatal_jump = nullptr;
      deadline_ns = 0;
      AbandonHeap();
      return kFatal;
    }
    exhausted = false;
    deadline_ns = NowNs() + int64_t{budget_ms} * 1000000;
    int rc = duk_safe_call(ctx, fn, udata, nargs, 1);
    deadline_ns = 0;
    fatal_jump = nullptr;
    return rc;
  }

  // The common call (a referenced function, arguments that push without allocating) as one
  // protected call, without the safe-call frame around it. Results as Run's.
  int CallFast(void* fn, const ScriptValue* args, size_t count, unsigned budget_ms, ScriptType* reply_type);

  // After a fatal error Duktape's state is undefined: forget the context and free its memory.
  void AbandonHeap() {
    broken = true;
    ctx = nullptr;
    FreeAllBlocks();
    refs.clear();
    free_refs.clear();
    by_name.clear();
  }

  void Destroy() {
    if (ctx != nullptr) {
      // Finalizers may run while the heap goes away: they get the call limit.
      std::jmp_buf env;
      fatal_jump = &env;
      if (setjmp(env) == 0) {
        deadline_ns = NowNs() + int64_t{engine ? engine->limits_.call_ms : 1000} * 1000000;
        duk_destroy_heap(ctx);
      }
      fatal_jump = nullptr;
      deadline_ns = 0;
      ctx = nullptr;
    }
    FreeAllBlocks();  // nothing is left after a clean destruction; everything after a fatal one
  }

  // The error value on top of the stack as text (popped); bounded, since an error object's
  // toString is script code too.
  std::string PopErrorText();

  // Host functions.
  bool CallHost(int index, std::span<ScriptValue> args, ScriptValue* result, char* message, size_t message_size);
};

namespace {

using Heap = CScriptEngine::Heap;

// ---- allocator ----

// A refusal during a call also ends that call at the next time check: a script that catches its
// allocation failures and tries again would otherwise spend its whole time limit in garbage
// collections (each refused allocation costs several).
void* Refuse(Heap* h) {
  if (h->deadline_ns != 0) h->exhausted = true;
  return nullptr;
}

void* HeapAlloc(void* udata, duk_size_t size) {
  auto* h = static_cast<Heap*>(udata);
  if (size > h->limit || h->used > h->limit - size) return Refuse(h);
  auto* b = static_cast<Block*>(std::malloc(sizeof(Block) + size));
  if (b == nullptr) return nullptr;
  b->size = size;
  h->Link(b);
  h->used += size;
  return b + 1;
}

void HeapFree(void* udata, void* ptr) {
  if (ptr == nullptr) return;
  auto* h = static_cast<Heap*>(udata);
  Block* b = static_cast<Block*>(ptr) - 1;
  Heap::Unlink(b);
  h->used -= b->size;
  std::free(b);
}

void* HeapRealloc(void* udata, void* ptr, duk_size_t size) {
  if (ptr == nullptr) return HeapAlloc(udata, size);
  auto* h = static_cast<Heap*>(udata);
  Block* b = static_cast<Block*>(ptr) - 1;
  const size_t old = b->size;
  if (size > old && (size - old > h->limit || h->used > h->limit - (size - old))) return Refuse(h);
  auto* nb = static_cast<Block*>(std::realloc(b, sizeof(Block) + size));
  if (nb == nullptr) return nullptr;  // the old block stays, still linked
  // The block may have moved: its neighbours point at the new place.
  nb->prev->next = nb;
  nb->next->prev = nb;
  nb->size = size;
  h->used = h->used - old + size;
  return nb + 1;
}

void HeapFatal(void* udata, const char* msg) {
  auto* h = static_cast<Heap*>(udata);
  if (h != nullptr && h->fatal_jump != nullptr) {
    std::strncpy(h->fatal_message, msg ? msg : "fatal error", sizeof h->fatal_message - 1);
    std::longjmp(*h->fatal_jump, 1);
  }
  // Every entry into Duktape runs under a fatal exit; reaching this is a bug of ours.
  std::abort();
}

Heap* HeapOf(duk_context* ctx) {
  duk_memory_functions funcs;
  duk_get_memory_functions(ctx, &funcs);
  return static_cast<Heap*>(funcs.udata);
}

// ---- values ----

void PushValue(duk_context* ctx, Heap* h, const ScriptValue& v) {
  switch (v.type) {
    case ScriptType::kUndefined: duk_push_undefined(ctx); break;
    case ScriptType::kNull: duk_push_null(ctx); break;
    case ScriptType::kBoolean: duk_push_boolean(ctx, v.number != 0); break;
    case ScriptType::kNumber: duk_push_number(ctx, v.number); break;
    case ScriptType::kString: duk_push_lstring(ctx, v.text.data(), v.text.size()); break;
    case ScriptType::kFunction:
    case ScriptType::kObject:
      if (v.ref > 0 && static_cast<size_t>(v.ref) <= h->refs.size() && h->refs[v.ref - 1] != nullptr)
        duk_push_heapptr(ctx, h->refs[v.ref - 1]);
      else
        duk_push_undefined(ctx);
      break;
  }
}

// The kind of a value, without running any script.
ScriptType TypeAt(duk_context* ctx, duk_idx_t idx) {
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_NULL: return ScriptType::kNull;
    case DUK_TYPE_BOOLEAN: return ScriptType::kBoolean;
    case DUK_TYPE_NUMBER: return ScriptType::kNumber;
    case DUK_TYPE_STRING: return ScriptType::kString;
    case DUK_TYPE_LIGHTFUNC: return ScriptType::kFunction;
    case DUK_TYPE_OBJECT: return duk_is_function(ctx, idx) ? ScriptType::kFunction : ScriptType::kObject;
    case DUK_TYPE_BUFFER:
    case DUK_TYPE_POINTER: return ScriptType::kObject;
    default: return ScriptType::kUndefined;
  }
}

// Reads a value into `out` without any Duktape call that can throw: primitives, and the text of
// an object or function only when it was already turned into a string on the stack.
void ReadValue(duk_context* ctx, duk_idx_t idx, ScriptType type, ScriptValue* out) {
  out->type = type;
  out->ref = 0;
  out->number = 0;
  out->text.clear();  // keeps its memory for the next reply
  switch (type) {
    case ScriptType::kBoolean: out->number = duk_get_boolean(ctx, idx) ? 1 : 0; break;
    case ScriptType::kNumber: out->number = duk_get_number(ctx, idx); break;
    case ScriptType::kString:
    case ScriptType::kObject:
    case ScriptType::kFunction: {
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, idx, &len);
      if (s != nullptr) AssignScriptText(out->text, std::string_view(s, len));
      break;
    }
    default: break;
  }
}

// ---- safe-call bodies ----

struct CallData {
  Heap* heap;
  void* fn;          // the function, or null to follow `path`
  const char* path;  // dotted path from the global object
  size_t path_length;
  const ScriptValue* args;
  size_t count;
  ScriptType reply_type;
};

// Pushes the value at a dotted path from the global object.
void PushPath(duk_context* ctx, const char* path, size_t length) {
  duk_push_global_object(ctx);
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && path[i] != '.') continue;
    if (!duk_is_object_coercible(ctx, -1)) duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a function");
    duk_get_prop_lstring(ctx, -1, path + start, i - start);
    duk_remove(ctx, -2);
    start = i + 1;
  }
  if (!duk_is_function(ctx, -1)) duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a function");
}

duk_ret_t CallInside(duk_context* ctx, void* udata) {
  auto* d = static_cast<CallData*>(udata);
  duk_require_stack(ctx, static_cast<duk_idx_t>(d->count) + 2);
  if (d->fn != nullptr)
    duk_push_heapptr(ctx, d->fn);
  else
    PushPath(ctx, d->path, d->path_length);
  for (size_t i = 0; i < d->count; ++i) PushValue(ctx, d->heap, d->args[i]);
  duk_call(ctx, static_cast<duk_idx_t>(d->count));
  d->reply_type = TypeAt(ctx, -1);
  // An object reply is read as its text: String(reply), inside the call's limits.
  if (d->reply_type == ScriptType::kObject || d->reply_type == ScriptType::kFunction) duk_to_string(ctx, -1);
  return 1;
}

struct ProgramData {
  const char* source;
  size_t length;
  const char* name;
  size_t name_length;
};

duk_ret_t ProgramInside(duk_context* ctx, void* udata) {
  auto* d = static_cast<ProgramData*>(udata);
  duk_push_lstring(ctx, d->name, d->name_length);
  duk_compile_lstring_filename(ctx, 0, d->source, d->length);
  duk_call(ctx, 0);
  return 0;
}

duk_ret_t ErrorTextInside(duk_context* ctx, void*) {
  // Error objects: their stack-less "Name: message" text; anything else: String(value).
  duk_to_string(ctx, -1);
  return 1;
}

struct FindData {
  const char* name;
  size_t length;
  int ref;  // the reference to store the function under; set to 0 when it is not a function
  void* ptr;
};

duk_ret_t FindInside(duk_context* ctx, void* udata) {
  auto* d = static_cast<FindData*>(udata);
  duk_push_global_object(ctx);
  duk_get_prop_lstring(ctx, -1, d->name, d->length);
  if (!duk_is_function(ctx, -1) || duk_is_lightfunc(ctx, -1)) {
    d->ref = 0;
    return 0;
  }
  d->ptr = duk_get_heapptr(ctx, -1);
  duk_push_heap_stash(ctx);
  duk_dup(ctx, -2);
  duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(d->ref));
  return 0;
}

struct ReleaseData {
  int ref;
};

duk_ret_t ReleaseInside(duk_context* ctx, void* udata) {
  auto* d = static_cast<ReleaseData*>(udata);
  duk_push_heap_stash(ctx);
  duk_del_prop_index(ctx, -1, static_cast<duk_uarridx_t>(d->ref));
  return 0;
}

// A new reference number (>= 1) of the heap.
int NewRef(Heap* h) {
  if (!h->free_refs.empty()) {
    int ref = h->free_refs.back();
    h->free_refs.pop_back();
    return ref;
  }
  h->refs.push_back(nullptr);
  return static_cast<int>(h->refs.size());
}

// ---- host functions ----

duk_ret_t HostTrampoline(duk_context* ctx) {
  Heap* h = HeapOf(ctx);
  const int index = duk_get_current_magic(ctx);
  const duk_idx_t n = duk_get_top(ctx);
  // 1. Duktape work that may throw, before any C++ object lives in this frame: function
  //    arguments are put in the heap stash under new references.
  bool reserve_failed = false;
  try {
    h->host_args.resize(static_cast<size_t>(n));
    h->refs.reserve(h->refs.size() + static_cast<size_t>(n));
    h->free_refs.reserve(h->free_refs.size() + static_cast<size_t>(n));
  } catch (...) {
    reserve_failed = true;
  }
  if (reserve_failed) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  for (duk_idx_t i = 0; i < n; ++i) {
    ScriptValue& arg = h->host_args[static_cast<size_t>(i)];
    arg.ref = 0;
    if (TypeAt(ctx, i) != ScriptType::kFunction || duk_is_lightfunc(ctx, i)) continue;
    int ref = NewRef(h);
    duk_push_heap_stash(ctx);
    duk_dup(ctx, i);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(ref));
    duk_pop(ctx);
    h->refs[ref - 1] = duk_get_heapptr(ctx, i);
    arg.ref = ref;
  }
  // 2. The host function (C++; no Duktape call).
  char message[160] = {};
  bool ok = false;
  try {
    for (duk_idx_t i = 0; i < n; ++i) {
      ScriptValue& arg = h->host_args[static_cast<size_t>(i)];
      const int ref = arg.ref;
      ReadValue(ctx, i, TypeAt(ctx, i), &arg);  // objects and functions come without text
      arg.ref = ref;
    }
    ok = h->CallHost(index, std::span<ScriptValue>(h->host_args.data(), static_cast<size_t>(n)), &h->host_result,
                     message, sizeof message);
  } catch (const std::exception& e) {
    std::strncpy(message, e.what(), sizeof message - 1);
  } catch (...) {
    std::strncpy(message, "host function failed", sizeof message - 1);
  }
  // 3. References the host did not take are released; then the result goes back.
  for (duk_idx_t i = 0; i < n; ++i) {
    int ref = h->host_args[static_cast<size_t>(i)].ref;
    if (ref <= 0) continue;
    duk_push_heap_stash(ctx);
    duk_del_prop_index(ctx, -1, static_cast<duk_uarridx_t>(ref));
    duk_pop(ctx);
    h->refs[ref - 1] = nullptr;
    h->free_refs.push_back(ref);  // capacity reserved in step 1: no allocation here
  }
  if (!ok) return duk_error(ctx, DUK_ERR_ERROR, "%s", message);
  PushValue(ctx, h, h->host_result);
  return 1;
}

// velmora.numtext(a, b, ...): the arguments' String() text joined by ",". Numbers are written
// here into one buffer; anything else goes the script's own way.
duk_ret_t NumberText(duk_context* ctx) {
  const duk_idx_t n = duk_get_top(ctx);
  constexpr duk_idx_t kBufferedArgs = 16;
  bool numbers = n <= kBufferedArgs;
  for (duk_idx_t i = 0; numbers && i < n; ++i) numbers = duk_is_number(ctx, i) != 0;
  if (numbers) {
    char buf[kBufferedArgs * (kScriptNumberTextMax + 1)];
    size_t length = 0;
    for (duk_idx_t i = 0; i < n; ++i) {
      if (i != 0) buf[length++] = ',';
      length += WriteScriptNumberText(buf + length, duk_get_number(ctx, i));
    }
    duk_push_lstring(ctx, buf, length);
    return 1;
  }
  if (n == 0) {
    duk_push_string(ctx, "");
    return 1;
  }
  for (duk_idx_t i = 0; i < n; ++i) {
    if (duk_is_number(ctx, i)) {
      char buf[kScriptNumberTextMax];
      duk_push_lstring(ctx, buf, WriteScriptNumberText(buf, duk_get_number(ctx, i)));
      duk_replace(ctx, i);
    } else {
      duk_to_string(ctx, i);
    }
  }
  duk_push_string(ctx, ",");
  duk_insert(ctx, 0);
  duk_join(ctx, n);
  return 1;
}

struct InstallData {
  Heap* heap;
  const std::vector<std::pair<std::string, std::string>>* names;  // (object, name) by index
};

duk_ret_t InstallInside(duk_context* ctx, void* udata) {
  auto* d = static_cast<InstallData*>(udata);
  // No engine object of Duktape's own for pages (finalizers, garbage collection control).
  duk_push_global_object(ctx);
  duk_del_prop_string(ctx, -1, "Duktape");
  // Pages written for browsers reach their globals through window and self.
  duk_dup(ctx, -1);
  duk_put_prop_string(ctx, -2, "window");
  duk_dup(ctx, -1);
  duk_put_prop_string(ctx, -2, "self");
  duk_push_object(ctx);
  duk_push_c_function(ctx, NumberText, DUK_VARARGS);
  duk_put_prop_string(ctx, -2, "numtext");
  duk_put_prop_string(ctx, -2, "velmora");
  for (size_t i = 0; i < d->names->size(); ++i) {
    const auto& [object, name] = (*d->names)[i];
    if (object.empty()) {
      duk_dup(ctx, -1);  // the global object
    } else {
      duk_get_prop_lstring(ctx, -1, object.data(), object.size());
      if (!duk_is_object(ctx, -1)) {
        duk_pop(ctx);
        duk_push_object(ctx);
        duk_dup(ctx, -1);
        duk_put_prop_lstring(ctx, -3, object.data(), object.size());
      }
    }
    duk_push_c_function(ctx, HostTrampoline, DUK_VARARGS);
    duk_set_magic(ctx, -1, static_cast<duk_int_t>(i));
    duk_put_prop_lstring(ctx, -2, name.data(), name.size());
    duk_pop(ctx);
  }
  return 0;
}

}  // namespace

int Heap::CallFast(void* fn, const ScriptValue* args, size_t count, unsigned budget_ms, ScriptType* reply_type) {
  if (broken || ctx == nullptr) return kFatal;
  std::jmp_buf env;
  fatal_jump = &env;
  if (setjmp(env) != 0) {
    fatal_jump = nullptr;
    deadline_ns = 0;
    AbandonHeap();
    return kFatal;
  }
  exhausted = false;
  deadline_ns = NowNs() + int64_t{budget_ms} * 1000000;
  // The caller reserved the stack, so these pushes cannot throw.
  duk_push_heapptr(ctx, fn);
  for (size_t i = 0; i < count; ++i) PushValue(ctx, this, args[i]);
  int rc = duk_pcall(ctx, static_cast<duk_idx_t>(count));
  if (rc == DUK_EXEC_SUCCESS) {
    *reply_type = TypeAt(ctx, -1);
    // An object reply is read as its text (a failing toString gives Duktape's stand-in text).
    if (*reply_type == ScriptType::kObject || *reply_type == ScriptType::kFunction) duk_safe_to_string(ctx, -1);
  }
  deadline_ns = 0;
  fatal_jump = nullptr;
  return rc;
}

std::string Heap::PopErrorText() {
  if (ctx == nullptr) return fatal_message[0] ? fatal_message : "script engine failed";
  if (exhausted) {
    duk_pop(ctx);
    return "script memory limit reached";
  }
  int rc = Run(ErrorTextInside, nullptr, 1, kErrorTextMs);
  if (rc == kFatal) return fatal_message;
  std::string text = "error";
  if (rc == DUK_EXEC_SUCCESS) {
    duk_size_t len = 0;
    const char* s = duk_get_lstring(ctx, -1, &len);
    if (s != nullptr) text = ScriptTextToUtf8(std::string_view(s, len));
  }
  duk_pop(ctx);
  return text;
}

bool Heap::CallHost(int index, std::span<ScriptValue> args, ScriptValue* result, char* message, size_t message_size) {
  if (engine == nullptr || index < 0 || static_cast<size_t>(index) >= engine->host_functions_.size()) {
    std::strncpy(message, "no such host function", message_size - 1);
    return false;
  }
  *result = engine->host_functions_[static_cast<size_t>(index)].fn(args);
  return true;
}

}  // namespace velmora

// Duktape's execution-time check (compiled into the engine through duk_config.h): true once the
// running call is past its deadline. Duktape then throws an error that no script can catch for
// good: it keeps throwing until the call has left the script.
extern "C" int velmora_duk_exec_timeout(void* udata) {
  auto* h = static_cast<velmora::CScriptEngine::Heap*>(udata);
  return h != nullptr && h->deadline_ns != 0 && (h->exhausted || velmora::NowNs() >= h->deadline_ns);
}

namespace velmora {

CScriptEngine::CScriptEngine(ScriptLimits limits) : limits_(limits) {}

CScriptEngine::~CScriptEngine() { Clear(); }

void CScriptEngine::DefineHostFunction(const std::string& object, const std::string& name, HostFunction fn) {
  for (HostEntry& e : host_functions_) {
    if (e.object == object && e.name == name) {
      e.fn = std::move(fn);
      return;
    }
  }
  if (host_functions_.size() >= 32767) return;  // the function's index travels as Duktape's 16-bit magic
  host_functions_.push_back({object, name, std::move(fn)});
}

std::unique_ptr<CScriptEngine::Heap> CScriptEngine::NewHeap() {
  auto heap = std::make_unique<Heap>();
  heap->engine = this;
  heap->limit = limits_.memory_bytes;
  // Heap creation runs no script but may hit the fatal handler (out of memory in its set-up).
  std::jmp_buf env;
  heap->fatal_jump = &env;
  if (setjmp(env) != 0) {
    heap->fatal_jump = nullptr;
    heap->AbandonHeap();
    return nullptr;
  }
  heap->ctx = duk_create_heap(HeapAlloc, HeapRealloc, HeapFree, heap.get(), HeapFatal);
  heap->fatal_jump = nullptr;
  if (heap->ctx == nullptr) return nullptr;
  if (!InstallHostFunctions(*heap)) return nullptr;
  return heap;
}

bool CScriptEngine::InstallHostFunctions(Heap& heap) {
  std::vector<std::pair<std::string, std::string>> names;
  names.reserve(host_functions_.size());
  for (const HostEntry& e : host_functions_) names.emplace_back(e.object, e.name);
  InstallData data{&heap, &names};
  int rc = heap.Run(InstallInside, &data, 0, limits_.load_ms);
  if (rc == kFatal) return false;
  duk_pop(heap.ctx);
  return rc == DUK_EXEC_SUCCESS;
}

void CScriptEngine::Adopt(std::unique_ptr<Heap> heap) {
  std::unique_ptr<Heap> old = std::move(heap_);
  heap_ = std::move(heap);
  ++generation_;
  old.reset();  // destroyed after the swap: its finalizers cannot see the new document
}

bool CScriptEngine::LoadEmpty() {
  auto heap = NewHeap();
  if (!heap) return false;
  Adopt(std::move(heap));
  return true;
}

CScriptEngine::LoadResult CScriptEngine::LoadPage(std::string_view page, const std::string& base_folder) {
  LoadResult result;
  if (page.size() > limits_.memory_bytes) {
    result.errors.push_back("page larger than the script memory limit");
    return result;
  }
  PageScripts scripts = ExtractPageScripts(DecodePageText(page), base_folder);
  result.errors = std::move(scripts.errors);
  auto heap = NewHeap();
  if (!heap) {
    result.errors.push_back("no script heap could be made");
    return result;
  }
  for (const PageScript& script : scripts.scripts) {
    ProgramData data{script.source.data(), script.source.size(), script.name.data(), script.name.size()};
    int rc = heap->Run(ProgramInside, &data, 0, limits_.load_ms);
    if (rc == kFatal) {
      result.errors.push_back(script.name + ": " + heap->fatal_message);
      return result;  // the new heap is gone; the old document stays
    }
    if (rc == DUK_EXEC_SUCCESS)
      duk_pop(heap->ctx);
    else
      result.errors.push_back(script.name + ": " + heap->PopErrorText());
  }
  Adopt(std::move(heap));
  result.loaded = true;
  return result;
}

void CScriptEngine::Clear() {
  if (!heap_) return;
  std::unique_ptr<Heap> old = std::move(heap_);
  ++generation_;
  old.reset();
}

bool CScriptEngine::RunScript(std::string_view source, std::string_view name, std::string* error) {
  if (!heap_ || heap_->ctx == nullptr) {
    if (error) *error = "no document";
    return false;
  }
  ProgramData data{source.data(), source.size(), name.data(), name.size()};
  int rc = heap_->Run(ProgramInside, &data, 0, limits_.load_ms);
  if (rc == DUK_EXEC_SUCCESS) {
    duk_pop(heap_->ctx);
    return true;
  }
  std::string text = rc == kFatal ? std::string(heap_->fatal_message) : heap_->PopErrorText();
  if (rc == kFatal) Clear();
  if (error) *error = text;
  return false;
}

int CScriptEngine::FindFunction(std::string_view name) {
  if (!heap_ || heap_->ctx == nullptr) return 0;
  std::string key(name);
  if (auto it = heap_->by_name.find(key); it != heap_->by_name.end()) return it->second;
  int ref = NewRef(heap_.get());
  FindData data{key.data(), key.size(), ref, nullptr};
  int rc = heap_->Run(FindInside, &data, 0, limits_.call_ms);
  if (rc == kFatal) {
    Clear();
    return 0;
  }
  duk_pop(heap_->ctx);
  if (rc != DUK_EXEC_SUCCESS) data.ref = 0;
  if (data.ref == 0) {
    heap_->free_refs.push_back(ref);
    return 0;
  }
  heap_->refs[ref - 1] = data.ptr;
  heap_->by_name.emplace(std::move(key), ref);
  return ref;
}

std::optional<ScriptValue> CScriptEngine::Call(int ref, std::span<const ScriptValue> args, std::string* error) {
  if (!heap_ || heap_->ctx == nullptr) {
    if (error) *error = "no document";
    return std::nullopt;
  }
  Heap* h = heap_.get();
  if (ref <= 0 || static_cast<size_t>(ref) > h->refs.size() || h->refs[ref - 1] == nullptr) {
    if (error) *error = "no such function";
    return std::nullopt;
  }
  ScriptValue reply;
  if (!Invoke(h->refs[ref - 1], {}, args, &reply, error)) return std::nullopt;
  return reply;
}

bool CScriptEngine::Call(int ref, std::span<const ScriptValue> args, ScriptValue* reply, std::string* error) {
  if (!heap_ || heap_->ctx == nullptr) {
    if (error) *error = "no document";
    return false;
  }
  Heap* h = heap_.get();
  if (ref <= 0 || static_cast<size_t>(ref) > h->refs.size() || h->refs[ref - 1] == nullptr) {
    if (error) *error = "no such function";
    return false;
  }
  return Invoke(h->refs[ref - 1], {}, args, reply, error);
}

std::optional<ScriptValue> CScriptEngine::CallPath(std::string_view path, std::span<const ScriptValue> args,
                                                   std::string* error) {
  if (!heap_ || heap_->ctx == nullptr) {
    if (error) *error = "no document";
    return std::nullopt;
  }
  if (path.empty()) {
    if (error) *error = "no such function";
    return std::nullopt;
  }
  ScriptValue reply;
  if (!Invoke(nullptr, path, args, &reply, error)) return std::nullopt;
  return reply;
}

bool CScriptEngine::Invoke(void* fn, std::string_view path, std::span<const ScriptValue> args, ScriptValue* reply,
                           std::string* error) {
  Heap* h = heap_.get();
  CallData data{h, fn, path.data(), path.size(), args.data(), args.size(), ScriptType::kUndefined};
  // Numbers and other values without memory of their own push without allocating, so the
  // function and its arguments can go on the (reserved) stack outside any protected call.
  bool fast = fn != nullptr && args.size() <= 8 && duk_check_stack(h->ctx, static_cast<duk_idx_t>(args.size()) + 4);
  for (size_t i = 0; fast && i < args.size(); ++i)
    fast = args[i].type == ScriptType::kNumber || args[i].type == ScriptType::kBoolean ||
           args[i].type == ScriptType::kNull || args[i].type == ScriptType::kUndefined;
  int rc;
  if (fast) {
    rc = h->CallFast(fn, args.data(), args.size(), limits_.call_ms, &data.reply_type);
  } else {
    rc = h->Run(CallInside, &data, 0, limits_.call_ms);
  }
  if (rc == kFatal) {
    if (error) *error = h->fatal_message;
    Clear();
    return false;
  }
  if (rc != DUK_EXEC_SUCCESS) {
    std::string text = h->PopErrorText();
    if (error) *error = std::move(text);
    return false;
  }
  ReadValue(h->ctx, -1, data.reply_type, reply);
  duk_pop(h->ctx);
  return true;
}

void CScriptEngine::Release(int ref) {
  if (!heap_ || heap_->ctx == nullptr || ref <= 0 || static_cast<size_t>(ref) > heap_->refs.size() ||
      heap_->refs[ref - 1] == nullptr)
    return;
  // References found by name stay with their name for the document's life.
  for (const auto& [name, r] : heap_->by_name)
    if (r == ref) return;
  ReleaseData data{ref};
  int rc = heap_->Run(ReleaseInside, &data, 0, limits_.call_ms);
  if (rc == kFatal) {
    Clear();
    return;
  }
  duk_pop(heap_->ctx);
  heap_->refs[ref - 1] = nullptr;
  heap_->free_refs.push_back(ref);
}

size_t CScriptEngine::MemoryUsed() const { return heap_ ? heap_->used : 0; }

}  // namespace velmora
