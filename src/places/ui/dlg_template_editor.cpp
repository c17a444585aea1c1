// The mark pop-up template editor.
#include "places/ui/dlg_template_editor.h"

#include <filesystem>

#include "core/settings.h"
#include "earth/ui/html_view_ex.h"
#include "places/addr_book.h"
#include "places/ui/addr_book_templates.h"
#include "places/ui/dlg_address_book.h"
#include "platform/fs.h"
#include "platform/script/page_scripts.h"
#include "platform/text.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/system_menu.h"

namespace velmora {
namespace {

constexpr const char* kRecentSection = "recent";
constexpr const char* kHtmlEditKey = "htmledit";

}  // namespace

CDlgTemplateEditor::CDlgTemplateEditor(std::string caption, bool editing, CWnd* parent)
    : CDialogEx(RegisterAddrBookTemplates(kTemplateEditorTemplateId), parent),
      caption_(std::move(caption)),
      editing_(editing) {
  BindControl(kIdSource, source_);
  MapCommand(ID_IMPORT, [this] { Import(); });
  MapMessage(WM_SYSCOMMAND, [this](WPARAM command, LPARAM) {
    switch (command) {
      case SC_EDIT: ShowSource(); break;
      case SC_PREVIEW: ShowPreview(); break;
      case SC_CARDS: EditCards(); break;
      default: return DefSysCommand(*this, command);
    }
    return LRESULT{0};
  });
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM lparam) {
    FitToClient(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
    return LRESULT{0};
  });
}

CDlgTemplateEditor::~CDlgTemplateEditor() {
  if (IsWindow()) DestroyWindow();
}

std::string CDlgTemplateEditor::PageBytes(std::string_view text) {
  std::string charset = PageCharset(text);
  if (charset == "utf-8" || charset == "utf8") return std::string(text);
  return Utf8ToAnsi(text);
}

bool CDlgTemplateEditor::OnInitDialog() {
  SetWindowIconFromResource(this, 126);
  if (editing_) {
    CMenu* menu = GetSystemMenu(*this, true);
    menu->AppendSeparator();
    menu->AppendMenu(MF_STRING, SC_EDIT, "编辑");
    menu->AppendMenu(MF_STRING, SC_PREVIEW, "预览");
    menu->AppendSeparator();
    menu->AppendMenu(MF_STRING, SC_CARDS, "模板编辑器");
  }
  if (source_.MenuItems().empty()) source_.AddMenuItem(ID_IMPORT, "导入...");
  source_.fixed_font = true;
  view_ = std::make_unique<CHtmlViewEx>();
  view_->SetSilent(true);
  view_->Create(this, kIdView, "", WS_CHILD | WS_VISIBLE, source_.GetWindowRect());
  view_->Navigate("about:blank");
  ShowFields();
  bool preview = !editing_ || GetProfileInt(kRecentSection, kHtmlEditKey, 1) == 1;
  source_.ShowWindow(preview ? SW_HIDE : SW_SHOW);
  view_->ShowWindow(preview ? SW_SHOW : SW_HIDE);
  SetWindowText(caption_);
  return true;
}

void CDlgTemplateEditor::TakeFields() { text_ = source_.GetWindowText(); }

void CDlgTemplateEditor::ShowFields() {
  source_.SetWindowText(text_);
  if (view_ && view_->IsWindow()) view_->LoadHtml(PageBytes(text_));
}

void CDlgTemplateEditor::ShowSource() {
  source_.ShowWindow(SW_SHOW);
  if (view_) view_->ShowWindow(SW_HIDE);
  WriteProfileInt(kRecentSection, kHtmlEditKey, 0);
}

void CDlgTemplateEditor::ShowPreview() {
  TakeFields();
  if (view_) {
    view_->LoadHtml(PageBytes(text_));
    view_->ShowWindow(SW_SHOW);
  }
  source_.ShowWindow(SW_HIDE);
  WriteProfileInt(kRecentSection, kHtmlEditKey, 1);
}

void CDlgTemplateEditor::FitToClient(int cx, int cy) {
  if (cx <= 0 || cy <= 0) return;
  RECT all{0, 0, cx, cy};
  if (source_.IsWindow()) source_.MoveWindow(all);
  if (view_ && view_->IsWindow()) view_->MoveWindow(all);
}

void CDlgTemplateEditor::Import() {
  CFileDialog dialog(true, "", "", OFN_HIDEREADONLY, "", this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec) return;  // a file that cannot be opened changes nothing
  if (size > kMaxImport) {
    MessageBox(kTooLarge);
    return;
  }
  auto bytes = ReadFileBytes(path);
  if (!bytes || bytes->size() > kMaxImport) return;
  text_ = DecodePageText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  ShowFields();
}

void CDlgTemplateEditor::EditCards() {
  TakeFields();
  std::vector<AddrBookRecord> records;
  if (text_.find(kCardMarker) == std::string::npos || ParseAddressCard(text_, records) == 0) {
    MessageBox(kNoCards);
    return;
  }
  if (records.size() == 1) {
    CDlgAddressEntry entry(this);
    entry.name = records[0].name;
    entry.address = records[0].contact;
    entry.picture = records[0].picture;
    if (entry.DoModal() != IDOK) return;
    records[0].name = entry.name;
    records[0].contact = entry.address;
    records[0].picture = entry.picture;
  } else {
    CDlgAddressBook book(this, &records);
    book.DoModal();
    if (!book.IsModified()) return;
  }
  if (UpdateCardsInText(text_, records)) ShowFields();
}

void CDlgTemplateEditor::OnOK() {
  TakeFields();
  CDialogEx::OnOK();
}

void CDlgTemplateEditor::OnCancel() {
  if (editing_) TakeFields();
  CDialogEx::OnCancel();
}

}  // namespace velmora
