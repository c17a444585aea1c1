// Basic types of the window model: handles, message numbers, command and notification codes,
// message-box styles and answers, and the small records that travel with messages.
#pragma once
#include <cstdint>
#include <string>

namespace velmora {

using HWND = uint32_t;        // 0 is no window; handles are never reused within a run
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;

constexpr WPARAM MAKEWPARAM(unsigned low, unsigned high) {
  return static_cast<WPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned LOWORD(WPARAM w) { return static_cast<unsigned>(w & 0xFFFFu); }
constexpr unsigned HIWORD(WPARAM w) { return static_cast<unsigned>((w >> 16) & 0xFFFFu); }

// ---- window messages ------------------------------------------------------------------------
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_CHILDACTIVATE = 0x0022;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_MOUSEACTIVATE = 0x0021;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MOUSEWHEEL = 0x020A;  // HIWORD(wparam): the signed wheel delta (120 per notch)
constexpr UINT WM_USER = 0x0400;

// Mouse messages: LPARAM packs the client-area point (MAKELPARAM(x, y), signed 16-bit parts);
// WPARAM's low word holds the MK_ flags of the buttons and keys down.
constexpr UINT MK_LBUTTON = 0x0001;
constexpr UINT MK_RBUTTON = 0x0002;
constexpr UINT MK_SHIFT = 0x0004;
constexpr UINT MK_CONTROL = 0x0008;
constexpr UINT MK_MBUTTON = 0x0010;
constexpr LPARAM MAKELPARAM(int low, int high) {
  return static_cast<LPARAM>((static_cast<uint32_t>(low) & 0xFFFFu) | ((static_cast<uint32_t>(high) & 0xFFFFu) << 16));
}
constexpr int GET_X_LPARAM(LPARAM l) { return static_cast<int16_t>(static_cast<uint32_t>(l) & 0xFFFFu); }
constexpr int GET_Y_LPARAM(LPARAM l) { return static_cast<int16_t>((static_cast<uint32_t>(l) >> 16) & 0xFFFFu); }
constexpr int GET_WHEEL_DELTA_WPARAM(WPARAM w) { return static_cast<int16_t>(HIWORD(w)); }

// Virtual key codes of WM_KEYDOWN / WM_KEYUP (letters and digits are their ASCII capitals).
constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_TAB = 0x09;
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_SHIFT = 0x10;
constexpr UINT VK_CONTROL = 0x11;
constexpr UINT VK_ESCAPE = 0x1B;
constexpr UINT VK_SPACE = 0x20;
constexpr UINT VK_PRIOR = 0x21;
constexpr UINT VK_NEXT = 0x22;
constexpr UINT VK_END = 0x23;
constexpr UINT VK_HOME = 0x24;
constexpr UINT VK_LEFT = 0x25;
constexpr UINT VK_UP = 0x26;
constexpr UINT VK_RIGHT = 0x27;
constexpr UINT VK_DOWN = 0x28;
constexpr UINT VK_DELETE = 0x2E;
constexpr UINT VK_ADD = 0x6B;
constexpr UINT VK_SUBTRACT = 0x6D;
constexpr UINT VK_OEM_PLUS = 0xBB;   // the '=' / '+' key of the main block
constexpr UINT VK_OEM_MINUS = 0xBD;  // the '-' key of the main block
constexpr UINT VK_F1 = 0x70;

// Cross-thread call: a worker asks a window to run an operation on the user-interface thread;
// WPARAM holds the operation code, LPARAM points at the argument record that the handler fills
// before the worker's SendMessage returns.
constexpr UINT WM_UI_REQUEST = WM_USER + 1;  // 0x401
// A dialog's worker thread has ended.
constexpr UINT WM_WORKER_ENDED = WM_USER + 4;  // 0x404

// ---- dialog answers and standard command ids ------------------------------------------------
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr UINT ID_EDIT_COPY = 0xE122;
constexpr UINT ID_EDIT_CUT = 0xE123;
constexpr UINT ID_EDIT_PASTE = 0xE125;
constexpr UINT ID_EDIT_SELECT_ALL = 0xE12A;
constexpr UINT ID_EDIT_UNDO = 0xE12B;

// ---- message boxes --------------------------------------------------------------------------
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;

// The answer a person gives by pressing Enter: the default button of the box's button set.
int DefaultMessageBoxAnswer(UINT type);
// True when `answer` is one of the buttons of the box's button set.
bool IsMessageBoxAnswer(UINT type, int answer);

// ---- control notifications (WM_COMMAND high word) -------------------------------------------
constexpr unsigned BN_CLICKED = 0;
constexpr unsigned CBN_SELCHANGE = 1;
constexpr unsigned EN_CHANGE = 0x0300;

// ---- WM_NOTIFY codes ------------------------------------------------------------------------
constexpr int NM_CLICK = -2;
constexpr int NM_DBLCLK = -3;
constexpr int NM_RCLICK = -5;
constexpr int LVN_ITEMCHANGED = -101;
constexpr int LVN_COLUMNCLICK = -108;
constexpr int TVN_SELCHANGED = -402;
constexpr int TVN_ITEMEXPANDED = -406;

struct POINT {
  int x = 0, y = 0;
  bool operator==(const POINT&) const = default;
};
struct RECT {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const RECT&) const = default;
};

// What WM_NOTIFY's LPARAM points at.
struct NMHDR {
  HWND hwndFrom = 0;
  UINT_PTR idFrom = 0;
  int code = 0;
};
// List and tree clicks: the item under the pointer (-1 / 0 when none) and the point.
struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem = -1;
  int iSubItem = 0;
  POINT ptAction;
};
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem = -1;
  int iSubItem = 0;
  UINT uNewState = 0;
  UINT uOldState = 0;
};
using HTREEITEM = uint32_t;  // 0 is no item
struct NMTREEVIEW {
  NMHDR hdr;
  HTREEITEM itemOld = 0;
  HTREEITEM itemNew = 0;
  POINT ptDrag;
};

// Command-enabling query: the handler enables, disables or checks the command (menus and
// toolbar buttons ask before they show).
class CCmdUI {
 public:
  explicit CCmdUI(UINT id) : id_(id) {}
  UINT Id() const { return id_; }
  void Enable(bool on = true) { enabled_ = on; }
  void SetCheck(int check = 1) { checked_ = check; }
  bool IsEnabled() const { return enabled_; }
  int Checked() const { return checked_; }

 private:
  UINT id_;
  bool enabled_ = true;
  int checked_ = 0;
};

// The pointer shape a window shows while the pointer is over it (as its WM_SETCURSOR answer
// would). The two kinds of the application's own, the free-region and the selection cursor, are
// pictures the front end draws; the others are the desktop's standard shapes.
enum class CursorKind : uint8_t {
  kDefault,     // the control's own (an arrow, an I-beam in edit fields)
  kArrow,
  kWait,
  kHand,        // links
  kCross,
  kSizeNS,      // a horizontal divider being dragged
  kSizeWE,
  kFreeRegion,  // drawing a free region on a view
  kSelection,   // dragging a selection box on a view
};

// The program name in message-box captions.
inline constexpr const char* kAppTitle = "Velmora";

}  // namespace velmora
