// Message-box button sets.
#include "platform/ui/ui_types.h"

#include <vector>

namespace velmora {
namespace {

std::vector<int> Buttons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

}  // namespace

int DefaultMessageBoxAnswer(UINT type) {
  std::vector<int> buttons = Buttons(type);
  size_t index = (type & MB_DEFMASK) >> 8;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

bool IsMessageBoxAnswer(UINT type, int answer) {
  for (int b : Buttons(type))
    if (b == answer) return true;
  return false;
}

}  // namespace velmora
