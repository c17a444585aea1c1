// CDlgExport3D: the options of the 3D Studio model export (template 297, "三维模型导出"): flat or on
// the sphere ("Exp3dsPlain"), the sample count ("REG_DEM_SAMPLE", 2 to 4096) and the height formula
// y = a·x + b ("REG_DEM_FACTOR"). The constructor loads the settings; OK stores them and closes.
// Values that are not whole numbers in range are refused with a message and nothing is stored.
#pragma once
#include "core/settings.h"
#include "platform/ui/dialog.h"

namespace velmora {

class CDlgExport3D : public CDialog {
 public:
  static constexpr int kTemplateId = 297;
  enum : int { kIdPlain = 1335, kIdSamples = 1350, kIdFactorA = 1323, kIdFactorB = 1322 };
  // The dialog's sample count when none is stored.
  static constexpr int kDefaultSamples = 500;

  explicit CDlgExport3D(CWnd* parent = nullptr);

  bool plain = false;
  int samples = kDefaultSamples;
  IntPair factor;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
};

}  // namespace velmora
