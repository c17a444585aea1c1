// CDlgAddressBook: "通讯录" (template 301), the contact list whose entries are dragged onto the 2D
// map, where the selected entries become one mark with a card per entry in its pop-up.
//
// File mode (no entries handed in): the list comes from "addrboook.dat", each entry marked
// ("已标注") when a mark of the drawn-item database or of the 2D view carries its card, and the
// file is written back at closing when the list changed (a file that could not be read is kept,
// see CAddrBookFile). Pick mode (entries handed in): the dialog edits the caller's entries and
// hands them back at closing, without touching the file.
//
// In edit mode (on when the list starts empty; "编辑" of the right-click menu toggles it) a click
// on a cell edits it in place: columns 0-3 in an edit box (id 100) over the cell, the picture
// column through the open-file chooser; a click below the last row appends an entry. An entry
// left without name, contact and note is dropped.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "places/addr_book.h"
#include "platform/ui/controls.h"
#include "platform/ui/image_list.h"
#include "shell/dialog_ex.h"
#include "shell/font_sample_static.h"
#include "shell/icon_combo_box_ex.h"
#include "shell/list_ctrl_ex.h"
#include "shell/picture_pick_static.h"

namespace velmora {

class CDrawItemDB;
class CPDView;
struct DRAGPOINT;

class CDlgAddressBook : public CDialogEx {
 public:
  static constexpr int kIdFontSample = 1515;
  static constexpr int kIdIcons = 1216;
  static constexpr int kIdList = 1402;
  static constexpr int kIdLabel = 1361;
  static constexpr int kIdLabelShown = 1360;
  static constexpr int kIdEditor = 100;
  static constexpr UINT ID_AB_EDIT = 32750;
  static constexpr UINT ID_AB_DELETE = 57632;
  static constexpr UINT ID_AB_CLEAR = 57633;
  static constexpr const char* kMarkedText = "已标注";
  static constexpr const char* kAlreadyMarked = "所选项已标注,请重新选择.";
  static constexpr const char* kPictureFilter =
      "Image Files (*.bmp,*.gif,*.ico,*.jpg,*.png,*.tif)|*.bmp;*.gif;*.ico;*.jpg;*.png;*.tif||";
  enum Column { kColName, kColContact, kColGroup, kColNote, kColPicture, kColState, kColumnCount };

  // `entries` null or empty: file mode. Otherwise pick mode: the entries are shown and, at
  // closing, replaced by the edited list. `view` is the 2D view whose marks count as marked (may
  // be null); `db` the drawn-item database (null: the program's); `file` the list file (empty:
  // AddrBookPath()).
  explicit CDlgAddressBook(CWnd* parent = nullptr, std::vector<AddrBookRecord>* entries = nullptr,
                           CPDView* view = nullptr, CDrawItemDB* db = nullptr, std::string file = {});
  ~CDlgAddressBook() override;

  bool IsPickMode() const { return pick_ != nullptr; }
  bool IsModified() const { return modified_; }
  bool IsEditMode() const { return edit_mode_; }
  bool WasFileDamaged() const { return file_.WasDamaged(); }
  // The entries in list order.
  std::vector<const AddrBookRecord*> Entries() const;
  CListCtrlEx& List() { return list_; }
  CFontSampleStatic& FontSample() { return font_sample_; }
  CIconComboBoxEx& Icons() { return icons_; }
  // The in-place edit box while a cell is being edited (null otherwise).
  CEdit* Editor() { return editor_.IsWindow() ? &editor_ : nullptr; }

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  AddrBookRecord* Record(int item) const;
  int AppendItem(std::unique_ptr<AddrBookRecord> record);
  void DeleteEntry(int item);
  std::string CellText(int item, int column) const;
  void LoadFromFile();
  void SaveSettings();
  void OnListClick(int item, int column);
  void BeginEdit(int item, int column);
  void FinishEdit();
  void OnRightClick(POINT screen);
  void OnColumnClick(int column);
  void OnBeginDrag();
  void OnDragMove(const DRAGPOINT& point);
  void OnDrop(const DRAGPOINT& point);

  std::vector<AddrBookRecord>* pick_;
  CFontSampleStatic font_sample_;
  CIconComboBoxEx icons_;
  CListCtrlEx list_;
  std::string label_text_;
  int label_shown_ = 0;
  unsigned sort_bits_ = 0;
  int sort_column_ = -1;
  bool modified_ = false;
  CEdit editor_;
  AddrBookRecord* edit_record_ = nullptr;  // the entry of the edited cell
  int edit_sub_ = -1;
  bool edit_mode_ = false;
  bool dragging_ = false;

  CPDView* view_;
  CDrawItemDB* db_;
  CAddrBookFile file_;
  std::vector<std::unique_ptr<AddrBookRecord>> records_;  // held by the list's items
  CImageList own_icons_;  // the mark icons when no application supplies them
};

// CDlgAddressEntry: "通讯录" (template 302), one card's name (1339 "名字"), address (1343 "地址")
// and picture (1352).
class CDlgAddressEntry : public CDialogEx {
 public:
  static constexpr int kIdName = 1339;
  static constexpr int kIdAddress = 1343;
  static constexpr int kIdPicture = 1352;

  explicit CDlgAddressEntry(CWnd* parent = nullptr);
  std::string name, address, picture;

  void OnOK() override;
  CPicturePickStatic& Picture() { return picture_box_; }

 protected:
  bool OnInitDialog() override;

 private:
  CPicturePickStatic picture_box_;
};

// File mode from the shell: the address book over "addrboook.dat" with the application's 2D view.
inline constexpr UINT ID_ADDRESS_BOOK = 0x8E64;
void OpenAddressBook(CPDView* view);

}  // namespace velmora
