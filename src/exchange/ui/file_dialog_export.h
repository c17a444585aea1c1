// CFileDialogExport: the save dialog of map-picture exports (extra template 216), with the
// picture types jpg, bmp, tif, png and gif and four fields that the earth exports read after it
// closes: the eye altitude in kilometres (filled by the caller before DoModal), the delay
// between shots in milliseconds, full-screen stitching and the geographic (world file) flag.
// An area export may also offer the 3D Studio model type ("3ds") after the picture types, with
// its options asked when it is chosen.
#pragma once
#include <functional>
#include <string>

#include "platform/ui/file_dialog.h"

namespace velmora {

class CFileDialogExport : public CFileDialog {
 public:
  static constexpr int kTemplateId = 216;
  static constexpr int kIdAltitude = 1060, kIdDelay = 1061, kIdFullScreen = 1062, kIdGeographic = 1063;
  static constexpr const char* kFilter =
      "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp|TIFF (*.tif)|*.tif|PNG (*.png)|*.png|GIF (*.gif)|*.gif||";

  CFileDialogExport(const std::string& default_ext = "jpg", const std::string& file_name = "",
                    CWnd* parent = nullptr);

  // IDOK when a path was chosen; the fields then hold what the dialog showed. A field whose
  // text is not a number keeps its previous value.
  INT_PTR DoModal() override;

  // Offers the "3ds" type after the picture types. When a ".3ds" path is chosen, `options` runs
  // (the model's options dialog) before DoModal returns; its false makes DoModal IDCANCEL.
  static constexpr const char* kModelFilter = "3D Studio (*.3ds)|*.3ds||";
  void OfferModelType(std::function<bool()> options);
  // The chosen path is a model (".3ds", any case).
  bool ModelChosen() const;

  double altitude_km = 1.0;    // "视角高度(km)"
  int delay_ms = 1000;         // "延迟时间(ms)"
  bool full_screen = false;    // "全屏拼接"
  bool geographic = true;      // "地理"

 protected:
  bool OnInitDialog() override;

 private:
  std::function<bool()> model_options_;
};

}  // namespace velmora
