// The wait pointer's count and the front end's hook.
#include "platform/ui/wait_cursor.h"

#include <atomic>

namespace velmora {
namespace {
std::atomic<int> g_count{0};
std::atomic<WaitCursorHook> g_hook{nullptr};
}  // namespace

void BeginWaitCursor() {
  if (g_count.fetch_add(1) == 0)
    if (WaitCursorHook hook = g_hook.load()) hook(true);
}

void EndWaitCursor() {
  int count = g_count.load();
  // An end without a begin changes nothing.
  while (count > 0 && !g_count.compare_exchange_weak(count, count - 1)) {
  }
  if (count == 1)
    if (WaitCursorHook hook = g_hook.load()) hook(false);
}

int WaitCursorCount() { return g_count.load(); }

void SetWaitCursorHook(WaitCursorHook hook) {
  g_hook.store(hook);
  if (hook && g_count.load() > 0) hook(true);
}

}  // namespace velmora
