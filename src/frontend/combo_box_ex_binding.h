// The extended combo box of the window model (CComboBoxEx) on Qt: an editable QComboBox whose
// line edit is the model's edit field, and a drop-down list of its own: a pop-up list view with
// the items' pictures, shown below the box while the model's list is open. Keys typed while the
// list is open still reach the edit field (the pop-up passes them on), so a person types on as in
// the original box; arrow keys move in the list, Enter chooses the highlighted item (without one
// it is the box's Enter: its owner's default action), Escape or a click elsewhere closes it.
// A person's typing goes to the model's edit (CEdit::Type, hence CBN_EDITCHANGE); a chosen item
// to CComboBoxEx::Select (CBN_SELCHANGE).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "frontend/model_binding.h"

class QComboBox;
class QLineEdit;
class QListView;
class QStandardItemModel;

namespace velmora {

class CComboBoxEx;

class CComboBoxExBinding : public CModelBinding {
 public:
  CComboBoxExBinding(CComboBoxEx& window, QWidget* parent);
  ~CComboBoxExBinding() override;

  void SyncFromModel() override;
  void Detach() override;

  QComboBox* Combo() const;
  QLineEdit* Edit() const;
  // The drop-down list (a pop-up window; hidden while the model's list is closed).
  QListView* DropDown() const { return list_; }

  // The box's arrow (or Alt+Down, F4): opens or closes the list.
  void ToggleList();
  // The person closed the list (Escape, a click elsewhere).
  void CloseList();
  // Up or down in the list (opening it first).
  void MoveInList(int step);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowList();
  void HideList();
  void Choose(int row);
  void SyncItems(CComboBoxEx& combo);

  QListView* list_;
  QStandardItemModel* items_;
  // What the list shows: text, picture and selected picture of each item.
  std::vector<std::pair<std::string, std::pair<int, int>>> shown_;
};

}  // namespace velmora
