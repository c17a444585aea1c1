// The scripted host.
#include "platform/ui/headless_host.h"

#include <algorithm>
#include <cstdio>

#include "platform/ui/dialog.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {

void CHeadlessUiHost::SetQuestionLog(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(mutex_);
  log_ = std::move(sink);
}

void CHeadlessUiHost::AnswerMessageBox(int button) {
  std::lock_guard lock(mutex_);
  message_answers_.push_back(button);
}

void CHeadlessUiHost::AnswerFile(std::vector<std::string> paths, int filter_index, FileDriver extra) {
  std::lock_guard lock(mutex_);
  file_answers_.push_back(FileAnswer{true, std::move(paths), filter_index, std::move(extra)});
}

void CHeadlessUiHost::AnswerFileCancel() {
  std::lock_guard lock(mutex_);
  file_answers_.push_back(FileAnswer{});
}

void CHeadlessUiHost::AnswerFolder(std::optional<std::string> folder) {
  std::lock_guard lock(mutex_);
  folder_answers_.push_back(std::move(folder));
}

void CHeadlessUiHost::AnswerMenu(UINT command) {
  std::lock_guard lock(mutex_);
  menu_answers_.push_back(command);
}

void CHeadlessUiHost::AnswerColor(std::optional<uint32_t> argb) {
  std::lock_guard lock(mutex_);
  color_answers_.push_back(argb);
}

void CHeadlessUiHost::AnswerDialog(int template_id, DialogDriver driver) {
  std::lock_guard lock(mutex_);
  dialog_answers_.push_back(DialogAnswer{template_id, std::move(driver)});
}

size_t CHeadlessUiHost::PendingAnswers() const {
  std::lock_guard lock(mutex_);
  return message_answers_.size() + file_answers_.size() + folder_answers_.size() + menu_answers_.size() +
         dialog_answers_.size() + color_answers_.size();
}

std::vector<CHeadlessUiHost::Record> CHeadlessUiHost::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> CHeadlessUiHost::MessageTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Record& r : records_)
    if (r.kind == Record::Kind::kMessageBox) out.push_back(r.text);
  return out;
}

std::string CHeadlessUiHost::LastMessage() const {
  std::vector<std::string> texts = MessageTexts();
  return texts.empty() ? std::string() : texts.back();
}

void CHeadlessUiHost::ClearRecords() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

void CHeadlessUiHost::Add(Record record) {
  std::function<void(const std::string&)> log;
  std::string line;
  {
    std::lock_guard lock(mutex_);
    log = log_;
    if (log) {
      switch (record.kind) {
        case Record::Kind::kMessageBox: line = "message: " + record.text; break;
        case Record::Kind::kFile: line = "file dialog: " + record.text; break;
        case Record::Kind::kFolder: line = "folder dialog: " + record.text; break;
        case Record::Kind::kMenu: line = "menu: " + record.text; break;
        case Record::Kind::kDialog: line = "dialog " + record.caption + ": " + record.text; break;
        case Record::Kind::kModeless: line = "window " + record.caption + ": " + record.text; break;
        case Record::Kind::kOpenDocument: line = "open: " + record.text; break;
        case Record::Kind::kColor: line = "colour chooser: " + record.text; break;
      }
    }
    records_.push_back(std::move(record));
  }
  if (log) log(line);
}

int CHeadlessUiHost::MessageBox(CWnd*, const std::string& text, const std::string& caption, UINT type) {
  int answer = DefaultMessageBoxAnswer(type);
  {
    std::lock_guard lock(mutex_);
    if (!message_answers_.empty()) {
      int scripted = message_answers_.front();
      message_answers_.pop_front();
      // A box offers only its own buttons; anything else is what Enter would give.
      if (IsMessageBoxAnswer(type, scripted)) answer = scripted;
    }
  }
  Add(Record{Record::Kind::kMessageBox, text, caption, type, answer});
  return answer;
}

bool CHeadlessUiHost::ChooseFile(CFileDialog& dialog) {
  FileAnswer answer;
  {
    std::lock_guard lock(mutex_);
    if (!file_answers_.empty()) {
      answer = std::move(file_answers_.front());
      file_answers_.pop_front();
    }
  }
  std::string text = (dialog.IsOpen() ? "open " : "save ") + dialog.InitialPath();
  if (answer.chosen) {
    if (answer.extra) answer.extra(dialog);
    dialog.SetChosen(answer.paths, answer.filter_index);
  }
  Add(Record{Record::Kind::kFile, text, dialog.Title(), 0, answer.chosen ? 1 : 0});
  return answer.chosen && !answer.paths.empty();
}

bool CHeadlessUiHost::ChooseFolder(const std::string& title, const std::string& initial, std::string* folder) {
  std::optional<std::string> answer;
  {
    std::lock_guard lock(mutex_);
    if (!folder_answers_.empty()) {
      answer = std::move(folder_answers_.front());
      folder_answers_.pop_front();
    }
  }
  Add(Record{Record::Kind::kFolder, initial, title, 0, answer ? 1 : 0});
  if (!answer) return false;
  if (folder) *folder = *answer;
  return true;
}

UINT CHeadlessUiHost::TrackPopupMenu(const CMenu& menu, int, int, CWnd*) {
  UINT answer = 0;
  {
    std::lock_guard lock(mutex_);
    if (!menu_answers_.empty()) {
      answer = menu_answers_.front();
      menu_answers_.pop_front();
    }
  }
  std::string texts;
  for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
    const CMenu::Item& item = menu.GetItem(i);
    if (!texts.empty()) texts += "|";
    texts += item.IsSeparator() ? std::string("-") : item.text;
  }
  Add(Record{Record::Kind::kMenu, texts, "", 0, static_cast<int>(answer)});
  return answer;
}

void CHeadlessUiHost::RunModal(CDialog& dialog) {
  DialogDriver driver;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(dialog_answers_.begin(), dialog_answers_.end(), [&](const DialogAnswer& a) {
      return a.template_id == 0 || a.template_id == dialog.TemplateId();
    });
    if (it != dialog_answers_.end()) {
      driver = std::move(it->driver);
      dialog_answers_.erase(it);
    }
  }
  Add(Record{Record::Kind::kDialog, dialog.GetWindowText(), std::to_string(dialog.TemplateId()), 0, driver ? 1 : 0});
  if (driver) driver(dialog);
  if (!dialog.HasEnded() && dialog.ClosesItself())
    UiDispatcher().PumpUntil([&dialog] { return dialog.HasEnded(); });
}

void CHeadlessUiHost::ShowModeless(CDialog& dialog) {
  Add(Record{Record::Kind::kModeless, dialog.GetWindowText(), std::to_string(dialog.TemplateId()), 0, 1});
}

void CHeadlessUiHost::SetClipboardText(const std::string& text) {
  std::lock_guard lock(mutex_);
  clipboard_ = text;
}

std::string CHeadlessUiHost::GetClipboardText() {
  std::lock_guard lock(mutex_);
  return clipboard_;
}

bool CHeadlessUiHost::OpenDocument(const std::string& path) {
  Add(Record{Record::Kind::kOpenDocument, path, "", 0, 1});
  return true;
}

bool CHeadlessUiHost::ChooseColor(CWnd*, uint32_t* argb) {
  std::optional<uint32_t> answer;
  {
    std::lock_guard lock(mutex_);
    if (!color_answers_.empty()) {
      answer = color_answers_.front();
      color_answers_.pop_front();
    }
  }
  char start[16];
  std::snprintf(start, sizeof start, "#%08X", argb ? static_cast<unsigned>(*argb) : 0u);
  Add(Record{Record::Kind::kColor, start, "", 0, answer ? 1 : 0});
  if (!answer) return false;
  if (argb) *argb = *answer;
  return true;
}

}  // namespace velmora
