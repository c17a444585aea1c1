// CHeadlessUiHost: the UiHost of tests and of the program without a display. It answers from a
// script (queued answers per kind of question, taken in order), falls back to what pressing
// Enter or Escape would do, and records every question with its exact text.
#pragma once
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_host.h"

namespace velmora {

class CHeadlessUiHost : public UiHost {
 public:
  struct Record {
    enum class Kind { kMessageBox, kFile, kFolder, kMenu, kDialog, kModeless, kOpenDocument, kColor };
    Kind kind;
    std::string text;     // message text, file dialog title or initial path, menu texts, caption,
                          // the colour a chooser started at ("#AARRGGBB")
    std::string caption;  // message caption; dialog template id as text
    UINT type = 0;        // message-box type
    int answer = 0;       // button, command id, 1/0 for chosen/cancelled
  };
  using DialogDriver = std::function<void(CDialog&)>;
  using FileDriver = std::function<void(CFileDialog&)>;

  // Every question (message texts first of all) is also handed to this sink as one line, as it
  // is asked; the program without a display passes the application log.
  void SetQuestionLog(std::function<void(const std::string&)> sink);

  // ---- script ----
  void AnswerMessageBox(int button);
  // A chosen path; `extra` may set the dialog's extra controls before it closes.
  void AnswerFile(std::vector<std::string> paths, int filter_index = 0, FileDriver extra = {});
  void AnswerFileCancel();
  void AnswerFolder(std::optional<std::string> folder);
  void AnswerMenu(UINT command);
  // The next colour chooser picks this colour (straight ARGB); nullopt cancels it.
  void AnswerColor(std::optional<uint32_t> argb);
  // Drives the next modal dialog with this template id (0: any): the driver acts on its controls
  // as a person would (click buttons, type, select rows). A dialog left open afterwards is
  // cancelled, unless it closes itself (then the host pumps the UI queue until it does).
  void AnswerDialog(int template_id, DialogDriver driver);
  size_t PendingAnswers() const;

  // ---- records ----
  std::vector<Record> Records() const;
  std::vector<std::string> MessageTexts() const;
  std::string LastMessage() const;
  void ClearRecords();

  // ---- UiHost ----
  int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) override;
  bool ChooseFile(CFileDialog& dialog) override;
  bool ChooseFolder(const std::string& title, const std::string& initial, std::string* folder) override;
  UINT TrackPopupMenu(const CMenu& menu, int x, int y, CWnd* owner) override;
  void RunModal(CDialog& dialog) override;
  void ShowModeless(CDialog& dialog) override;
  void SetClipboardText(const std::string& text) override;
  std::string GetClipboardText() override;
  bool OpenDocument(const std::string& path) override;
  bool ChooseColor(CWnd* owner, uint32_t* argb) override;

 private:
  struct FileAnswer {
    bool chosen = false;
    std::vector<std::string> paths;
    int filter_index = 0;
    FileDriver extra;
  };
  struct DialogAnswer {
    int template_id = 0;
    DialogDriver driver;
  };
  void Add(Record record);

  mutable std::mutex mutex_;
  std::function<void(const std::string&)> log_;
  std::deque<int> message_answers_;
  std::deque<FileAnswer> file_answers_;
  std::deque<std::optional<std::string>> folder_answers_;
  std::deque<UINT> menu_answers_;
  std::deque<std::optional<uint32_t>> color_answers_;
  std::deque<DialogAnswer> dialog_answers_;
  std::vector<Record> records_;
  std::string clipboard_;
};

}  // namespace velmora
