// CDlgTerrainSettings: the terrain settings dialog (template 256, "地形设置"), opened by a double
// click in the 3D globe view: the sample count ("REG_DEM_SAMPLE", 2 to 4096), the height formula
// y = a·x + b ("REG_DEM_FACTOR") and the map picture as texture ("TERRAIN_TEXTURE"). OK and
// "地形重置" store them and rebuild and repaint the terrain of the 3D globe view; only OK closes.
// Values that are not whole numbers in range are refused with a message and nothing is stored.
#pragma once
#include <vector>

#include "core/settings.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_template.h"

namespace velmora {

class C3DViewWnd;

class CDlgTerrainSettings : public CDialog {
 public:
  static constexpr int kTemplateId = 256;
  enum : int { kIdSamples = 1350, kIdFactorA = 1323, kIdFactorB = 1322, kIdTexture = 1133, kIdReset = 1036 };
  static constexpr const char* kBadSamples = "采样数应为2到4096之间的整数";
  static constexpr const char* kBadFactor = "高度计算的a和b应为整数";

  // `view`: the 3D globe view to rebuild (null: the main frame's view of kind 1).
  explicit CDlgTerrainSettings(C3DViewWnd* view = nullptr, CWnd* parent = nullptr);

  // Stores the dialog's values and rebuilds the view's terrain; false (message shown, nothing
  // stored) when a value is refused.
  bool Apply();

  // The sample count and the height formula of `dialog`'s edits kIdSamples, kIdFactorA and
  // kIdFactorB (the ids this dialog and the model export share), checked; false (the refusal
  // shown by `dialog`, the outputs unchanged) when one is not a whole number in range.
  static bool ReadSampleFactor(CDialog& dialog, int* samples, IntPair* factor);
  // The controls of those edits with their labels and the formula's group box, laid out as both
  // dialogs show them (the third place on the first row, x = 100, is the dialog's own check box).
  static std::vector<ControlTemplate> SampleFactorControls();

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  C3DViewWnd* view_;
};

}  // namespace velmora
