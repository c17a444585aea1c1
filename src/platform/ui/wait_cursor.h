// The wait pointer: BeginWaitCursor / EndWaitCursor nest (CWaitCursor does both for a scope),
// and the pointer shows while the count is above 0. A desktop front end installs the hook that
// shows it; without one the count is only kept. User-interface thread only.
#pragma once

namespace velmora {

void BeginWaitCursor();
void EndWaitCursor();
int WaitCursorCount();

// Called when the pointer changes: true when the wait pointer starts showing, false when it ends.
using WaitCursorHook = void (*)(bool waiting);
// Installs the hook (null removes it). A hook installed while the count is above 0 is told at once.
void SetWaitCursorHook(WaitCursorHook hook);

class CWaitCursor {
 public:
  CWaitCursor() { BeginWaitCursor(); }
  ~CWaitCursor() { EndWaitCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

}  // namespace velmora
