// CDlgElevProfile: the small modeless window of a line's height profile (template 252, icon
// "kmz_file.png"): a profile chart that fills the window.
#pragma once
#include "shell/dialog_ex.h"
#include "terrain/ui/profile_chart.h"

namespace velmora {

class CMapShape;

class CDlgElevProfile : public CDialogEx {
 public:
  static constexpr int IDD = 252;
  static constexpr int kIdChart = 1510;
  static constexpr const char* kIcon = "kmz_file.png";

  explicit CDlgElevProfile(CWnd* parent = nullptr);
  ~CDlgElevProfile() override;

  // Creates the window when there is none, shows it and loads the shape into the chart. False
  // when the shape is no line or its sampling was cancelled (the window then shows what it did).
  bool ShowProfile(const CMapShape& shape);

  CProfileChart& Chart() { return chart_; }

 protected:
  bool OnInitDialog() override;

 private:
  CProfileChart chart_;
};

}  // namespace velmora
