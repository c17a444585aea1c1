// CPicturePickStatic: a static control that shows a picture scaled into its area and lets the
// person choose another image file (a click opens the file chooser); it holds the picture's
// path. The parent hears of a new picture as WM_COMMAND with PSN_PICTURECHANGED.
#pragma once
#include <string>

#include "platform/gfx/bitmap.h"
#include "platform/ui/controls.h"

namespace velmora {

// WM_COMMAND notification code: the person chose another picture.
constexpr unsigned PSN_PICTURECHANGED = 0x0702;

class CPicturePickStatic : public CStatic {
 public:
  static constexpr const char* kFilter =
      "图片文件 (*.jpg;*.jpeg;*.png;*.bmp;*.gif;*.tif;*.tiff)|*.jpg;*.jpeg;*.png;*.bmp;*.gif;*.tif;*.tiff|"
      "所有文件 (*.*)|*.*||";
  // Shown in an empty box.
  static constexpr const char* kEmptyText = "点击选择图片";
  // Said when the chosen file is not a picture the program reads.
  static constexpr const char* kUnreadable = "无法读取图片文件:\n%s";
  // Pictures larger than this are refused (a contact's or an icon's picture, not a mosaic).
  static constexpr uint64_t kMaxPixels = uint64_t(1) << 25;

  CPicturePickStatic();

  // Holds the path and loads the picture; a file that is missing or cannot be decoded leaves a
  // blank box (the path is kept: the file may come back). An empty path clears the box.
  void SetPicturePath(const std::string& path);
  const std::string& GetPicturePath() const { return path_; }
  bool HasPicture() const { return !picture_.IsEmpty(); }
  int PictureWidth() const { return picture_.Width(); }
  int PictureHeight() const { return picture_.Height(); }

  // A click as a person makes it: ignored while disabled; the open-file chooser for pictures,
  // starting at the current path; a chosen file that decodes becomes the picture and the parent
  // is notified; one that does not is refused with a message and the old picture stays. True
  // when the picture changed.
  bool PickPicture();

  // The picture scaled to fit (aspect kept, never enlarged past twice its size), centred, inside
  // a frame; an empty box shows kEmptyText.
  bool OnPaint(CBitmap& canvas) override;

 private:
  std::string path_;
  CBitmap picture_;
};

}  // namespace velmora
