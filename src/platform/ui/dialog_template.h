// Dialog templates as data: id, caption, size in dialog units and the controls with their ids,
// kinds, texts and rectangles. Modules register the templates of their dialogs by id; a dialog
// creates its controls from its template.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class CWnd;

enum class ControlKind {
  kStatic,
  kButton,
  kDefButton,
  kCheckBox,
  kRadio,
  kGroupBox,
  kEdit,
  kComboBox,
  kListView,
  kTreeView,
  kProgress,
  kCustom,  // a window the dialog binds itself (a panel, a picture)
};

struct ControlTemplate {
  ControlKind kind = ControlKind::kStatic;
  int id = -1;  // -1 for labels that nothing addresses
  std::string text;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  uint32_t style = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int cx = 0, cy = 0;  // dialog units
  std::vector<ControlTemplate> controls;

  const ControlTemplate* FindControl(int control_id) const;
};

// Registers (or replaces) a template under its id. Thread-safe.
void RegisterDialogTemplate(const DialogTemplate& tmpl);
// A copy of the registered template, or null.
std::shared_ptr<const DialogTemplate> FindDialogTemplate(int id);

// A default control object for a template entry (CStatic, CButton, CEdit, ...).
std::unique_ptr<CWnd> MakeControl(const ControlTemplate& control);

}  // namespace velmora
