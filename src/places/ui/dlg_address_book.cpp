// The address book dialog and the one-entry editor.
#include "places/ui/dlg_address_book.h"

#include <algorithm>
#include <utility>

#include "core/format.h"
#include "core/settings.h"
#include "places/ui/addr_book_templates.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/window_drag.h"
#include "shapes/draw_item_db.h"
#include "shapes/mark_shape.h"
#include "shell/kovra_home_ex_app.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

// Settings of the program-settings store.
constexpr const char* kKeyIcon = "AbMarker";
constexpr const char* kKeyLabel = "ablabel";
constexpr const char* kKeyLabelShown = "ablabenb";
constexpr const char* kKeyFont = "abfont";
constexpr const char* kKeyPicture = "picture";

constexpr const char* kHeadings[CDlgAddressBook::kColumnCount] = {"姓名", "联系方式", "组别", "备注", "照片", "状态"};
constexpr int kWidths[CDlgAddressBook::kColumnCount] = {50, 200, 50, 100, 100, 100};
// Where a row lies in the list, for placing the edit box over a cell: the heading's height and
// a row's height in the list's own units.
constexpr int kHeaderHeight = 20;
constexpr int kRowHeight = 18;

CTextStyle DefaultLabelStyle() {
  CTextStyle style;
  style.face = "黑体";
  style.size = 12.0f;
  style.color = 0xFFC80000u;  // opaque red 200
  return style;
}

std::string* Field(AddrBookRecord& r, int column) {
  switch (column) {
    case CDlgAddressBook::kColName: return &r.name;
    case CDlgAddressBook::kColContact: return &r.contact;
    case CDlgAddressBook::kColGroup: return &r.group;
    case CDlgAddressBook::kColNote: return &r.note;
    case CDlgAddressBook::kColPicture: return &r.picture;
    default: return nullptr;
  }
}

}  // namespace

CDlgAddressBook::CDlgAddressBook(CWnd* parent, std::vector<AddrBookRecord>* entries, CPDView* view,
                                 CDrawItemDB* db, std::string file)
    : CDialogEx(RegisterAddrBookTemplates(kAddressBookTemplateId), parent),
      pick_(entries && !entries->empty() ? entries : nullptr),
      view_(view),
      db_(db),
      file_(file.empty() ? AddrBookPath() : std::move(file)) {
  BindControl(kIdFontSample, font_sample_);
  BindControl(kIdIcons, icons_);
  BindControl(kIdList, list_);
  MapControlNotify(kIdLabelShown, BN_CLICKED, [this] { SaveSettings(); });
  MapControlNotify(kIdLabel, EN_CHANGE, [this] { SaveSettings(); });
  MapControlNotify(kIdIcons, CBN_SELCHANGE, [this] { SaveSettings(); });
  MapNotify(kIdList, NM_CLICK, [this](NMHDR* hdr) {
    auto* nm = reinterpret_cast<NMITEMACTIVATE*>(hdr);
    OnListClick(nm->iItem, nm->iSubItem);
    return LRESULT{0};
  });
  MapNotify(kIdList, NM_RCLICK, [this](NMHDR* hdr) {
    OnRightClick(reinterpret_cast<NMITEMACTIVATE*>(hdr)->ptAction);
    return LRESULT{0};
  });
  MapNotify(kIdList, LVN_COLUMNCLICK, [this](NMHDR* hdr) {
    OnColumnClick(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
    return LRESULT{0};
  });
  MapNotify(kIdList, LVN_BEGINDRAG, [this](NMHDR*) {
    OnBeginDrag();
    return LRESULT{0};
  });
  MapMessage(WM_DRAGMOVE, [this](WPARAM, LPARAM lparam) {
    if (lparam) OnDragMove(*reinterpret_cast<const DRAGPOINT*>(lparam));
    return LRESULT{0};
  });
  MapMessage(WM_DRAGDROP, [this](WPARAM, LPARAM lparam) {
    if (lparam) OnDrop(*reinterpret_cast<const DRAGPOINT*>(lparam));
    return LRESULT{0};
  });
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM lparam) {
    int cx = GET_X_LPARAM(lparam), cy = GET_Y_LPARAM(lparam);
    if (list_.IsWindow() && cx > 0 && cy > 0) {
      RECT r = list_.GetWindowRect();
      list_.MoveWindow(RECT{0, r.top, cx, std::max(r.top, cy)});
    }
    return LRESULT{0};
  });
}

CDlgAddressBook::~CDlgAddressBook() {
  if (IsWindow()) DestroyWindow();
}

bool CDlgAddressBook::OnInitDialog() {
  SetWindowIconFromResource(this, 126);
  records_.clear();
  sort_bits_ = 0;
  sort_column_ = -1;
  modified_ = false;
  edit_record_ = nullptr;
  edit_sub_ = -1;
  dragging_ = false;
  for (int c = 0; c < kColumnCount; ++c) list_.InsertColumn(c, kHeadings[c], LVCFMT_LEFT, kWidths[c]);
  list_.SetExtendedStyle(list_.GetExtendedStyle() | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES);
  list_.SetDisplayCallbacks([this](int item, int sub_item) { return CellText(item, sub_item); });
  if (pick_) {
    for (const AddrBookRecord& r : *pick_) AppendItem(std::make_unique<AddrBookRecord>(r));
  } else {
    LoadFromFile();
  }
  edit_mode_ = list_.GetItemCount() == 0;

  CImageList* icons = nullptr;
  if (CKovraHomeExApp* app = GetApp()) icons = &app->MarkIconImages();
  if (!icons || icons->GetImageCount() == 0) {
    own_icons_.Create(16, 16);
    for (int i = 0; i < CKovraHomeExApp::kMarkIconCount; ++i) own_icons_.Add("mark_" + std::to_string(i) + ".png");
    icons = &own_icons_;
  }
  icons_.SetIconList(icons);
  CProfileStore& settings = ProgramSettings();
  icons_.SetIconIndex(settings.GetInt(kKeyIcon, 0));
  label_text_ = settings.GetString(kKeyLabel, "");
  label_shown_ = settings.GetInt(kKeyLabelShown, 0);
  SetDlgItemText(kIdLabel, label_text_);
  CheckDlgButton(kIdLabelShown, label_shown_ ? BST_CHECKED : BST_UNCHECKED);
  font_sample_.SetTextStyle(settings.GetTextStyle(kKeyFont, DefaultLabelStyle()));
  return true;
}

void CDlgAddressBook::OnDestroy() {
  FinishEdit();
  if (GetCapture() == this) ReleaseCapture();
  dragging_ = false;
  std::vector<AddrBookRecord> list;
  for (const AddrBookRecord* r : Entries()) list.push_back(*r);
  if (pick_) {
    *pick_ = std::move(list);
  } else {
    file_.SaveOnClose(list, modified_);  // a file that cannot be written is passed over
  }
  CDialogEx::OnDestroy();
}

std::vector<const AddrBookRecord*> CDlgAddressBook::Entries() const {
  std::vector<const AddrBookRecord*> out;
  for (int i = 0; i < list_.GetItemCount(); ++i)
    if (const AddrBookRecord* r = Record(i)) out.push_back(r);
  return out;
}

AddrBookRecord* CDlgAddressBook::Record(int item) const {
  return reinterpret_cast<AddrBookRecord*>(list_.GetItemData(item));
}

int CDlgAddressBook::AppendItem(std::unique_ptr<AddrBookRecord> record) {
  int item = list_.InsertItem(list_.GetItemCount(), LPSTR_TEXTCALLBACK);
  for (int c = 1; c < kColumnCount; ++c) list_.SetItemText(item, c, LPSTR_TEXTCALLBACK);
  list_.SetItemData(item, reinterpret_cast<uintptr_t>(record.get()));
  records_.push_back(std::move(record));
  return item;
}

void CDlgAddressBook::DeleteEntry(int item) {
  AddrBookRecord* r = Record(item);
  list_.DeleteItem(item);
  if (r == edit_record_) edit_record_ = nullptr;
  std::erase_if(records_, [r](const auto& p) { return p.get() == r; });
}

std::string CDlgAddressBook::CellText(int item, int column) const {
  const AddrBookRecord* r = Record(item);
  if (!r) return {};
  if (column == kColState) return r->marked ? kMarkedText : "";
  const std::string* field = Field(const_cast<AddrBookRecord&>(*r), column);
  return field ? *field : std::string();
}

void CDlgAddressBook::LoadFromFile() {
  // The cards already on marks: the stored ones and those on the 2D view.
  std::vector<AddrBookRecord> cards;
  CDrawItemDB& db = db_ ? *db_ : DrawItemDB();
  std::vector<std::unique_ptr<CMapShape>> stored;
  db.LoadItems(FormatC("SELECT * FROM data WHERE type = %d", kShapeMark), stored);
  for (const auto& shape : stored)
    if (auto* mark = dynamic_cast<const CMarkShape*>(shape.get())) ParseAddressCard(mark->popup_html, cards);
  if (view_) {
    std::vector<CMapShape*> shown;
    view_->Engine().Objects().GetShapesByType(kShapeMark, shown);
    view_->Engine().Tracks().GetShapesByType(kShapeMark, shown);
    for (const CMapShape* shape : shown)
      if (auto* mark = dynamic_cast<const CMarkShape*>(shape)) ParseAddressCard(mark->popup_html, cards);
  }
  std::vector<AddrBookRecord> entries;
  if (file_.Load(entries) != ArchiveLoad::kOk) return;
  for (AddrBookRecord& r : entries) {
    r.marked = std::any_of(cards.begin(), cards.end(), [&](const AddrBookRecord& c) { return c.SameCard(r); }) ? 1 : 0;
    AppendItem(std::make_unique<AddrBookRecord>(std::move(r)));
  }
}

void CDlgAddressBook::SaveSettings() {
  label_text_ = GetDlgItemText(kIdLabel);
  label_shown_ = IsDlgButtonChecked(kIdLabelShown) == BST_CHECKED ? 1 : 0;
  CProfileStore& settings = ProgramSettings();
  settings.SetInt(kKeyIcon, std::max(0, icons_.GetIconIndex()));
  settings.SetString(kKeyLabel, label_text_);
  settings.SetInt(kKeyLabelShown, label_shown_);
  settings.SetTextStyle(kKeyFont, font_sample_.GetTextStyle());
}

// ---- in-place editing ---------------------------------------------------------------------

void CDlgAddressBook::OnListClick(int item, int column) {
  if (!edit_mode_) return;
  // Finishing the edit in progress may drop an emptied entry: find the clicked one again after.
  AddrBookRecord* clicked = Record(item);
  FinishEdit();
  item = clicked ? list_.FindItemByData(reinterpret_cast<uintptr_t>(clicked)) : -1;
  if (column < 0 || column >= kColState) return;  // outside the columns, or the status column
  if (item < 0) {
    item = AppendItem(std::make_unique<AddrBookRecord>());
    list_.ClearSelection();
    list_.SetItemState(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  BeginEdit(item, column);
}

void CDlgAddressBook::BeginEdit(int item, int column) {
  AddrBookRecord* r = Record(item);
  if (!r) return;
  if (r->picture.empty()) r->picture = ResolveFolders().program + "images/logo.png";
  if (column == kColPicture) {
    CFileDialog dialog(true, "jpg", ProgramSettings().GetString(kKeyPicture, ""), OFN_HIDEREADONLY, kPictureFilter,
                       this);
    if (dialog.DoModal() == IDOK) {
      r->picture = dialog.GetPathName();
      ProgramSettings().SetString(kKeyPicture, r->picture);
      modified_ = true;
      list_.Invalidate();
    } else if (r->IsBlank()) {
      DeleteEntry(list_.FindItemByData(reinterpret_cast<uintptr_t>(r)));
    }
    return;
  }
  // The edit box over the cell, 4 pixels larger each way and at least 8 pixels per character.
  const std::string& text = *Field(*r, column);
  RECT list_rect = list_.GetWindowRect();
  int left = list_rect.left;
  for (int c = 0; c < column; ++c) left += list_.GetColumnWidth(c);
  int top = list_rect.top + kHeaderHeight + item * kRowHeight;
  int chars = static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  int width = std::max(list_.GetColumnWidth(column) + 8, 8 * chars);
  RECT rect{left - 4, top - 4, left - 4 + width, top + kRowHeight + 4};
  if (editor_.IsWindow()) editor_.DestroyWindow();
  editor_.Create(this, kIdEditor, text, WS_CHILD | WS_VISIBLE | WS_BORDER, rect);
  editor_.SetSel(0, -1);
  editor_.SetFocus();
  edit_record_ = r;
  edit_sub_ = column;
}

void CDlgAddressBook::FinishEdit() {
  // At closing the edit box is already gone with the dialog's children; it keeps its text.
  if (!edit_record_) {
    if (editor_.IsWindow()) editor_.DestroyWindow();
    edit_sub_ = -1;
    return;
  }
  std::string text = editor_.GetWindowText();
  if (editor_.IsWindow()) editor_.DestroyWindow();
  AddrBookRecord* r = edit_record_;
  int column = edit_sub_;
  edit_record_ = nullptr;
  edit_sub_ = -1;
  int item = r ? list_.FindItemByData(reinterpret_cast<uintptr_t>(r)) : -1;
  if (item < 0) return;
  std::string* field = Field(*r, column);
  if (field && *field != text) {
    *field = text;
    modified_ = true;
  }
  if (r->IsBlank()) {
    DeleteEntry(item);
    modified_ = true;
  }
  list_.Invalidate();
}

// ---- menu and sorting -----------------------------------------------------------------------

void CDlgAddressBook::OnRightClick(POINT screen) {
  FinishEdit();
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING | (edit_mode_ ? MF_CHECKED : MF_UNCHECKED), ID_AB_EDIT, "编辑");
  if (list_.GetSelectedCount() > 0) menu.AppendMenu(MF_STRING, ID_AB_DELETE, "删除");
  if (list_.GetItemCount() > 1) menu.AppendMenu(MF_STRING, ID_AB_CLEAR, "清空");
  UINT command = static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, this));
  if (command == ID_AB_EDIT) {
    edit_mode_ = !edit_mode_;
  } else if (command == ID_AB_DELETE) {
    int item = list_.GetNextItem(-1, LVNI_SELECTED);
    if (item >= 0) {
      DeleteEntry(item);
      modified_ = true;
    }
  } else if (command == ID_AB_CLEAR) {
    while (list_.GetItemCount() > 0) DeleteEntry(list_.GetItemCount() - 1);
    modified_ = true;
  }
}

void CDlgAddressBook::OnColumnClick(int column) {
  if (column < 0 || column >= kColumnCount) return;
  FinishEdit();
  sort_column_ = column;
  unsigned bit = 1u << column;
  sort_bits_ ^= bit;
  const bool ascending = (sort_bits_ & bit) != 0;
  list_.SortItems([&](uintptr_t a, uintptr_t b) {
    const auto* ra = reinterpret_cast<const AddrBookRecord*>(a);
    const auto* rb = reinterpret_cast<const AddrBookRecord*>(b);
    if (!ascending) std::swap(ra, rb);
    if (column == kColState) return ra->marked < rb->marked;
    return *Field(const_cast<AddrBookRecord&>(*ra), column) < *Field(const_cast<AddrBookRecord&>(*rb), column);
  });
}

// ---- the drag onto the map ------------------------------------------------------------------

void CDlgAddressBook::OnBeginDrag() {
  FinishEdit();
  for (int item : list_.GetSelectedItems()) {
    if (Record(item) && Record(item)->marked) {
      MessageBox(kAlreadyMarked);
      return;
    }
  }
  if (list_.GetSelectedCount() == 0) return;
  dragging_ = true;
  SetCapture(this);
}

void CDlgAddressBook::OnDragMove(const DRAGPOINT& point) {
  if (!dragging_) return;
  // The dragged entries show only over the 2D view (the pointer becomes the drop cross there).
  bool over_map = dynamic_cast<CPDView*>(UiDispatcher().FromHandle(point.target)) != nullptr;
  SetCaptureCursor(over_map ? CursorKind::kCross : CursorKind::kDefault);
}

void CDlgAddressBook::OnDrop(const DRAGPOINT& point) {
  if (!dragging_) return;
  dragging_ = false;
  auto* view = dynamic_cast<CPDView*>(UiDispatcher().FromHandle(point.target));
  if (!view) return;
  auto mark = std::make_unique<CMarkShape>();
  std::string name;
  for (int item : list_.GetSelectedItems()) {
    AddrBookRecord* r = Record(item);
    if (!r) continue;
    r->marked = 1;
    name += r->name + ",";
    mark->popup_html += FillAddressCard(*r) + "\r\n";
  }
  if (!name.empty()) name.pop_back();
  mark->SetName(name);
  mark->label_shown = label_shown_;
  mark->label_text = label_text_;
  mark->icon_index = std::max(0, icons_.GetIconIndex());
  mark->label_style = font_sample_.GetTextStyle();
  LngLat at = view->Engine().ScreenToLngLat(point.client.x, point.client.y);
  mark->AddPoint(static_cast<float>(at.lng), static_cast<float>(at.lat));
  view->AddTrackShapes(std::move(mark));
  list_.Invalidate();
}

// ---- the one-entry editor -------------------------------------------------------------------

CDlgAddressEntry::CDlgAddressEntry(CWnd* parent)
    : CDialogEx(RegisterAddrBookTemplates(kAddressEntryTemplateId), parent) {
  BindControl(kIdPicture, picture_box_);
}

bool CDlgAddressEntry::OnInitDialog() {
  SetWindowIconFromResource(this, 126);
  SetDlgItemText(kIdName, name);
  SetDlgItemText(kIdAddress, address);
  picture_box_.SetPicturePath(picture);
  return true;
}

void CDlgAddressEntry::OnOK() {
  name = GetDlgItemText(kIdName);
  address = GetDlgItemText(kIdAddress);
  picture = picture_box_.GetPicturePath();
  CDialogEx::OnOK();
}

void OpenAddressBook(CPDView* view) {
  CDlgAddressBook dialog(nullptr, nullptr, view);
  dialog.DoModal();
}

}  // namespace velmora
