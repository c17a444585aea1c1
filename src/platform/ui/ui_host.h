// UiHost: the one interface through which a person answers the program: message boxes, file and
// folder choosers, pop-up menus, modal dialogs, the clipboard and opening a document. A desktop
// front end implements it with real windows; the headless host answers from a script.
#pragma once
#include <cstdint>
#include <string>

#include "platform/ui/ui_types.h"

namespace velmora {

class CDialog;
class CFileDialog;
class CMenu;
class CWnd;

class UiHost {
 public:
  virtual ~UiHost() = default;

  // The button pressed (IDOK, IDYES, ...).
  virtual int MessageBox(CWnd* owner, const std::string& text, const std::string& caption,
                         UINT type) = 0;
  // Fills the dialog's chosen paths (CFileDialog::SetChosen) and its extra controls; false when
  // the person cancelled.
  virtual bool ChooseFile(CFileDialog& dialog) = 0;
  virtual bool ChooseFolder(const std::string& title, const std::string& initial,
                            std::string* folder) = 0;
  // The chosen command of the menu, 0 for none.
  virtual UINT TrackPopupMenu(const CMenu& menu, int x, int y, CWnd* owner) = 0;
  // Runs a modal dialog whose window exists and was initialised, until it ends (EndDialog).
  // Returning without an end means the person closed it (the caller then cancels it).
  virtual void RunModal(CDialog& dialog) = 0;
  // A modeless dialog was shown.
  virtual void ShowModeless(CDialog& dialog) = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  virtual std::string GetClipboardText() = 0;
  // Opens a file with the desktop's program for it ("open" verb); false on failure.
  virtual bool OpenDocument(const std::string& path) = 0;
  // The colour chooser, starting at *argb (straight 0xAARRGGBB); true and the chosen colour in
  // *argb when the person chose one. A host without a chooser answers as a cancel.
  virtual bool ChooseColor(CWnd* owner, uint32_t* argb) {
    (void)owner, (void)argb;
    return false;
  }
};

// The host in use. Until SetUiHost is called this is a headless host that answers every question
// with its default and writes message texts to the log.
UiHost& GetUiHost();
// Installs `host` (not owned; null restores the default). The host must outlive its use.
void SetUiHost(UiHost* host);

// A message box through the host, owned by no window.
int ShowMessageBox(const std::string& text, UINT type = MB_OK, const std::string& caption = kAppTitle);

}  // namespace velmora
