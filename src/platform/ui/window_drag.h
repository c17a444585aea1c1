// Mouse capture and drags from one window onto another (a list's rows dropped on the map).
//
// A drag starts in the source control: a person presses on a row and moves, and the list sends
// its parent LVN_BEGINDRAG (BeginDragItem acts that out). The parent that takes the drag calls
// SetCapture: from then until the button is released every pointer move and the release go to
// it, wherever the pointer is. The front end (or a test acting as a person) reports them with
// the window under the pointer and the point in that window's client area: the capturing window
// receives WM_DRAGMOVE and, after the capture ended, WM_DRAGDROP, both with a DRAGPOINT in
// LPARAM. The target is a handle, so a window that went away during the drag is no target.
// Everything here runs on the user-interface thread.
#pragma once
#include <functional>

#include "platform/ui/window.h"

namespace velmora {

class CListCtrl;

// The list's begin-drag notification (an NMLISTVIEW with the pressed row in iItem).
constexpr int LVN_BEGINDRAG = -109;
// Pointer reports to the capturing window (LPARAM: const DRAGPOINT*).
constexpr UINT WM_DRAGMOVE = 0x0388;
constexpr UINT WM_DRAGDROP = 0x0389;

struct DRAGPOINT {
  HWND target = 0;  // the window under the pointer, 0 outside the program's windows
  POINT client;     // the pointer in the target's client area
  POINT screen;     // the pointer on the screen
};

// Gives the pointer to `window` (null releases it). The capture observer hears of each change.
void SetCapture(CWnd* window);
void ReleaseCapture();
// The window that has the capture, or null (also when it was destroyed meanwhile).
CWnd* GetCapture();
// The front end's hook: it follows the real pointer while a window has the capture and shows
// the capture's pointer shape.
void SetCaptureObserver(std::function<void(CWnd* capture)> observer);
// The pointer shape during the capture (kDefault: the ordinary one).
void SetCaptureCursor(CursorKind kind);
CursorKind GetCaptureCursor();

// Reports of the pointer while a window has the capture; false when none has it.
bool DragPointerMoved(CWnd* target, POINT client, POINT screen = {});
// The release: the capture ends, then the former capture receives WM_DRAGDROP.
bool DragPointerReleased(CWnd* target, POINT client, POINT screen = {});

// A person presses on the row and starts moving: the row is selected when it was not (a
// selection of several rows is kept when the row is among them) and the list's parent gets
// LVN_BEGINDRAG. False for a row that is not there or a disabled list.
bool BeginDragItem(CListCtrl& list, int item);

}  // namespace velmora
