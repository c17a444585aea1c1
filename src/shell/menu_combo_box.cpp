// The coordinate-system combo box with its slot and right click.
#include "shell/menu_combo_box.h"

#include <mutex>

#include "core/projection.h"

namespace velmora {
namespace {

std::mutex& OpenerMutex() {
  static std::mutex m;
  return m;
}

CMenuComboBox::SystemSettingsOpener& Opener() {
  static CMenuComboBox::SystemSettingsOpener opener;
  return opener;
}

}  // namespace

void CMenuComboBox::SetSystemSettingsOpener(SystemSettingsOpener opener) {
  std::lock_guard lock(OpenerMutex());
  Opener() = std::move(opener);
}

bool CMenuComboBox::HasSystemSettingsOpener() {
  std::lock_guard lock(OpenerMutex());
  return static_cast<bool>(Opener());
}

CMenuComboBox::CMenuComboBox() {
  MapMessage(WM_RBUTTONDOWN, [this](WPARAM wparam, LPARAM lparam) {
    int sel = GetCurSel();
    if (sel >= 2 && sel <= 4) {
      SystemSettingsOpener opener;
      {
        std::lock_guard lock(OpenerMutex());
        opener = Opener();
      }
      if (opener) opener(GetParent(), sel, slot_);
    }
    return DefWindowProc(WM_RBUTTONDOWN, wparam, lparam);
  });
}

void CMenuComboBox::RightClick(POINT point) {
  SendMessage(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(point.x, point.y));
}

void FillCoordSystemCombo(CComboBox& combo) {
  combo.ResetContent();
  for (const std::string& name : CoordSystemNames()) combo.AddString(name);
}

}  // namespace velmora
