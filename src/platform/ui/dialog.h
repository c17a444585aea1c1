// CDialog: a window built from a dialog template. Modal dialogs run through the UiHost (a person,
// or the headless host's script) and return their end code; modeless ones are created and shown
// and live until destroyed. Member controls bound with BindControl before creation take the place
// of the template's default controls under the same id.
#pragma once
#include <memory>
#include <string>

#include "platform/ui/dialog_template.h"
#include "platform/ui/window.h"

namespace velmora {

class CDialog : public CWnd {
 public:
  // The template registered under `template_id` (an empty template when none is registered).
  explicit CDialog(int template_id, CWnd* parent = nullptr);
  explicit CDialog(DialogTemplate tmpl, CWnd* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog modally through the UiHost; returns the code given to EndDialog (IDOK,
  // IDCANCEL, ...), or -1 when the window could not be created. The window is destroyed again
  // before the call returns; the control objects keep their last state.
  virtual INT_PTR DoModal();
  // Creates the dialog as a modeless window (hidden until shown) and runs OnInitDialog.
  bool Create(CWnd* parent = nullptr);

  // Ends the dialog with `result`: a modal dialog returns from DoModal, a modeless one is
  // destroyed. The first end code given counts.
  void EndDialog(int result);
  bool IsModal() const { return modal_; }
  bool HasEnded() const { return ended_; }
  int Result() const { return result_; }

  const DialogTemplate& Template() const { return *template_; }
  int TemplateId() const { return template_->id; }
  // Binds a member control to a template id; the object is created in its place.
  void BindControl(int id, CWnd& control);

  // True for dialogs that end without a person's answer (a worker closes them): the headless
  // host waits for them instead of cancelling them.
  virtual bool ClosesItself() const { return false; }

  // IDOK / IDCANCEL as the buttons and keys send them.
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  // Used by hosts: creates the window and its controls and runs OnInitDialog.
  bool CreateDialogWindow(bool modal);

 protected:
  virtual bool OnInitDialog() { return true; }
  bool OnCommand(WPARAM wparam, LPARAM lparam) override;
  LRESULT DefWindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;  // WM_CLOSE cancels
  CWnd* OwnerWindow() const { return owner_; }
  // Replaces the template before the window is created (dialogs that assemble theirs, such as
  // the property sheet from its pages).
  void SetTemplate(DialogTemplate tmpl);

 private:
  std::shared_ptr<const DialogTemplate> template_;
  CWnd* owner_ = nullptr;
  std::vector<std::pair<int, CWnd*>> bound_;
  bool modal_ = false;
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace velmora
