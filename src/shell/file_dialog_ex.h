// CFileDialogEx: the file dialog with an "open after saving" check box. The box starts from the
// profile value "auto_open" (section "option") and its state is stored back after OK.
#pragma once
#include <string>

#include "platform/ui/file_dialog.h"

namespace velmora {

class CFileDialogEx : public CFileDialog {
 public:
  static constexpr int kTemplateId = 267;
  static constexpr int kIdAutoOpen = 1286;

  CFileDialogEx(bool open, const std::string& default_ext = "", const std::string& file_name = "",
                uint32_t flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const std::string& filter = "",
                CWnd* parent = nullptr);

  INT_PTR DoModal() override;
  // The state of the open-after-saving box after OK.
  bool AutoOpen() const { return auto_open_; }

  // The filter with the entry that matches the path's extension moved to the front (the filter
  // unchanged when none matches).
  static std::string PutMatchingFilterFirst(const std::string& filter, const std::string& path);

 protected:
  bool OnInitDialog() override;

 private:
  bool auto_open_ = false;
};

}  // namespace velmora
