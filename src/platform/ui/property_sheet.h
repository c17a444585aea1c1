// CPropertySheet and CPropertyPage: a tabbed dialog whose pages are dialogs built from their own
// templates. The sheet assembles its template from the pages' sizes (a tab area and the buttons
// "确定", "取消", "应用(&A)"); a page's window is created the first time it is shown, and only the
// pages that were shown take part in OK, Apply and Cancel. A front end draws the tab strip in
// TabRect and shows the active page in it.
#pragma once
#include <string>
#include <vector>

#include "platform/ui/dialog.h"

namespace velmora {

constexpr int ID_APPLY_NOW = 0x3021;

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  // `title` is the tab text; empty takes the template's caption.
  explicit CPropertyPage(int template_id, const std::string& title = "");
  explicit CPropertyPage(DialogTemplate tmpl, const std::string& title = "");

  std::string GetTitle() const;
  CPropertySheet* GetSheet() const { return sheet_; }
  // Marks the page as changed; the sheet's Apply button is enabled while a page is.
  void SetModified(bool changed = true);
  bool IsModified() const { return modified_; }

  // ---- what the sheet calls ----
  // The page becomes the visible one (its window exists by then).
  virtual bool OnSetActive() { return true; }
  // The page is about to be left (another tab, OK, Apply); false keeps it, as for a value the
  // page refuses.
  virtual bool OnKillActive() { return true; }
  // OK or Apply: the page stores its values. The default calls OnOK and returns true; false
  // stops the sheet's OK.
  virtual bool OnApply() {
    OnOK();
    return true;
  }
  // Cancel: the page drops what it changed.
  virtual void OnReset() {}
  // A page ends nothing: OK and Cancel belong to the sheet.
  void OnOK() override {}
  void OnCancel() override {}

 private:
  friend class CPropertySheet;
  CPropertySheet* sheet_ = nullptr;
  std::string title_;
  bool modified_ = false;
};

class CPropertySheet : public CDialog {
 public:
  static constexpr int kTemplateId = 0x7F20;

  explicit CPropertySheet(const std::string& caption, CWnd* parent = nullptr, int select_page = 0);

  // Adds a page (not owned; it must outlive the sheet's window). Before the window is created.
  void AddPage(CPropertyPage* page);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const;
  int GetPageIndex(const CPropertyPage* page) const;
  int GetActiveIndex() const { return active_; }
  CPropertyPage* GetActivePage() const { return GetPage(active_); }

  // Shows the page: the current one may refuse to be left (OnKillActive); the page's window is
  // created on first use and OnSetActive runs. False when refused, out of range or the window
  // cannot be created (the current page stays).
  bool SetActivePage(int index);
  bool SetActivePage(CPropertyPage* page) { return SetActivePage(GetPageIndex(page)); }

  // The Apply button: the active page is left (it may refuse), then every page that was shown
  // stores its values (OnApply) and loses its changed mark. False when a page refused.
  bool Apply();
  bool IsApplyEnabled() const;

  // The tab area in dialog units; the active page is shown inside it below the tabs.
  RECT TabRect() const { return tab_rect_; }

  INT_PTR DoModal() override;
  // A modeless sheet.
  bool Create(CWnd* parent = nullptr);

  // OK applies (stays open when a page refuses) and ends with IDOK; Cancel resets the shown
  // pages and ends with IDCANCEL.
  void OnOK() override;
  void OnCancel() override;

 protected:
  bool OnInitDialog() override;

 private:
  friend class CPropertyPage;
  void BuildTemplate();
  void UpdateApplyButton();

  std::string caption_;
  std::vector<CPropertyPage*> pages_;
  int start_page_ = 0;
  int active_ = -1;
  RECT tab_rect_;
};

}  // namespace velmora
