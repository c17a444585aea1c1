// The simple controls of the window model: static text, buttons (push, check box, radio), edit
// field, combo box and progress bar. Each keeps its state as data; the Click/Type/Select helpers
// act as a person would and send the parent the same notifications.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace velmora {

class CImageList;

class CStatic : public CWnd {
 public:
  // A colour for the text (0x00BBGGRR, the program's stored colour form); -1 when default.
  void SetTextColor(int64_t bgr) {
    if (text_color_ == bgr) return;
    text_color_ = bgr;
    Invalidate();
  }
  int64_t TextColor() const { return text_color_; }

 private:
  int64_t text_color_ = -1;
};

constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int BST_INDETERMINATE = 2;

class CButton : public CWnd {
 public:
  enum class Kind { kPush, kDefPush, kCheckBox, kRadio, kGroupBox };
  explicit CButton(Kind kind = Kind::kPush) : kind_(kind) {}
  Kind GetKind() const { return kind_; }
  void SetKind(Kind kind) {
    if (kind_ == kind) return;
    kind_ = kind;
    Invalidate();
  }
  void SetCheck(int check) {
    if (check_ == check) return;
    check_ = check;
    Invalidate();
  }
  int GetCheck() const { return check_; }
  // A click as a person makes it: ignored while disabled; flips a check box, sets a radio
  // button; then BN_CLICKED to the parent.
  void Click();

 protected:
  void ResetWindowState() override { check_ = BST_UNCHECKED; }

 private:
  Kind kind_;
  int check_ = BST_UNCHECKED;
};

class CEdit : public CWnd {
 public:
  void SetReadOnly(bool on = true) {
    if (read_only_ == on) return;
    read_only_ = on;
    Invalidate();
  }
  bool IsReadOnly() const { return read_only_; }
  void SetLimitText(size_t bytes) { limit_ = bytes; }
  // Selection as byte offsets into the UTF-8 text; end -1 means the end of the text.
  void SetSel(int start, int end);
  void GetSel(int* start, int* end) const;
  std::string GetSelText() const;
  // Replaces the selection (or inserts at the caret) and keeps the old text for Undo.
  void ReplaceSel(const std::string& text);
  bool CanUndo() const { return can_undo_; }
  void Undo();
  void Cut();
  void Copy() const;
  void Paste();
  void Clear();
  // Typing: the text replaces the contents (unless read-only or disabled) and EN_CHANGE goes to
  // the parent. Past the limit (in bytes) the text is cut at the last whole character.
  void Type(const std::string& text);

 protected:
  void ResetWindowState() override;

 private:
  void SetTextKeepingUndo(const std::string& text);
  bool read_only_ = false;
  size_t limit_ = 0;
  size_t sel_start_ = 0, sel_end_ = 0;
  std::string undo_text_;
  bool can_undo_ = false;
};

constexpr int CB_ERR = -1;

class CComboBox : public CWnd {
 public:
  int AddString(const std::string& text);
  int InsertString(int index, const std::string& text);  // -1 appends
  int DeleteString(int index);                           // remaining count, CB_ERR when out of range
  void ResetContent();
  int GetCount() const { return static_cast<int>(items_.size()); }
  std::string GetLBText(int index) const;
  int FindStringExact(int start_after, const std::string& text) const;
  int SetCurSel(int index);  // -1 clears; CB_ERR when out of range
  int GetCurSel() const { return cur_sel_; }
  bool SetItemData(int index, uintptr_t data);
  uintptr_t GetItemData(int index) const;
  // A choice as a person makes it: sets the selection and sends CBN_SELCHANGE.
  void Select(int index);

  // Pictures beside the items (an extended combo box): the image list (not owned; it must
  // outlive the control) and each item's image index (-1: none, the default).
  void SetImageList(CImageList* list) {
    images_ = list;
    Invalidate();
  }
  CImageList* GetImageList() const { return images_; }
  bool SetItemImage(int index, int image);
  int GetItemImage(int index) const;

 protected:
  void ResetWindowState() override { ResetContent(); }

 private:
  struct Item {
    std::string text;
    uintptr_t data = 0;
    int image = -1;
  };
  std::vector<Item> items_;
  int cur_sel_ = -1;
  CImageList* images_ = nullptr;
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange32(int low, int high);
  void GetRange(int* low, int* high) const;
  int SetPos(int pos);  // clamped into the range; returns the previous position
  int GetPos() const { return pos_; }

 protected:
  void ResetWindowState() override { low_ = 0, high_ = 100, pos_ = 0; }

 private:
  int low_ = 0, high_ = 100, pos_ = 0;
};

}  // namespace velmora
