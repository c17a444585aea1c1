// CDlgAddressSearch: "本地搜索地址库" (template 230): every place of the search box's current
// address library in one list (CPointListCtrl, control 1402), each with the names of its
// ancestors before its own, sortable by name, longitude and latitude. A double click on a row
// moves the current view there (keeping its zoom when the place has none); the dialog stays open.
#pragma once
#include "places/ui/point_list_ctrl.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CAddressAdo;

class CDlgAddressSearch : public CDialogEx {
 public:
  static constexpr int kTemplateId = 230;
  static constexpr int kIdList = 1402;

  // `database`: the library whose places are listed (the search box's own); it must outlive the
  // dialog's window.
  CDlgAddressSearch(CAddressAdo& database, CWnd* parent = nullptr);
  CPointListCtrl& List() { return list_; }

 protected:
  bool OnInitDialog() override;

 private:
  void OnDoubleClick();
  CAddressAdo& database_;
  CPointListCtrl list_;
};

}  // namespace velmora
