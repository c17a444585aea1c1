// CFileDialogKmzExport: the save dialog of KML exports with the choice of writing lines or
// points (extra template 268). The choice starts from the profile value "kmzexport" (section
// "option": 0 lines, 1 points) and is stored back after OK.
#pragma once
#include <string>

#include "platform/ui/file_dialog.h"

namespace velmora {

class CFileDialogKmzExport : public CFileDialog {
 public:
  static constexpr int kTemplateId = 268;
  static constexpr int kIdLines = 1301, kIdPoints = 1302;

  CFileDialogKmzExport(const std::string& default_ext = "kml", const std::string& file_name = "",
                       const std::string& filter = "KML Files (*.kml)|*.kml||", CWnd* parent = nullptr);

  INT_PTR DoModal() override;
  // After OK: true when points were chosen, false for lines.
  bool ExportPoints() const { return points_; }

 protected:
  bool OnInitDialog() override;

 private:
  bool points_ = false;
};

}  // namespace velmora
