// The picture box.
#include "shell/picture_pick_static.h"

#include <algorithm>

#include "core/format.h"
#include "core/log.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/file_dialog.h"
#include "shell/control_paint.h"

namespace velmora {
namespace {

bool LoadPicture(const std::string& path, CBitmap* out, std::string* error) {
  DecodeOptions options;
  options.max_pixels = CPicturePickStatic::kMaxPixels;
  return LoadImageFile(path, out, error, options);
}

}  // namespace

CPicturePickStatic::CPicturePickStatic() {
  SetWindowCursor(CursorKind::kHand);
  MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM lparam) {
    RECT r = GetWindowRect();
    int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
    if (x >= 0 && y >= 0 && x < r.Width() && y < r.Height()) PickPicture();
    return LRESULT{0};
  });
}

void CPicturePickStatic::SetPicturePath(const std::string& path) {
  path_ = path;
  picture_.Reset();
  if (!path.empty()) {
    std::string error;
    if (!LoadPicture(path, &picture_, &error)) AppLog("picture %s: %s", path.c_str(), error.c_str());
  }
  Invalidate();
}

bool CPicturePickStatic::PickPicture() {
  if (!IsWindowEnabled()) return false;
  CFileDialog dialog(true, "", path_, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, kFilter, this);
  if (dialog.DoModal() != IDOK) return false;
  std::string chosen = dialog.GetPathName();
  CBitmap picture;
  std::string error;
  if (!LoadPicture(chosen, &picture, &error)) {
    AppLog("picture %s: %s", chosen.c_str(), error.c_str());
    MessageBox(FormatC(kUnreadable, chosen.c_str()), kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  path_ = chosen;
  picture_ = std::move(picture);
  Invalidate();
  NotifyParentCommand(PSN_PICTURECHANGED);
  return true;
}

bool CPicturePickStatic::OnPaint(CBitmap& canvas) {
  CGraphics g(canvas);
  if (!g.IsValid()) return true;
  const bool enabled = IsWindowEnabled();
  const float w = static_cast<float>(canvas.Width()), h = static_cast<float>(canvas.Height());
  g.Clear(enabled ? 0xFFFFFFFFu : 0xFFF0F0F0u);
  if (!picture_.IsEmpty() && w > 4 && h > 4) {
    float pw = static_cast<float>(picture_.Width()), ph = static_cast<float>(picture_.Height());
    float scale = std::min({(w - 4) / pw, (h - 4) / ph, 2.0f});
    float dw = pw * scale, dh = ph * scale;
    g.DrawImage(picture_, GfxRect{(w - dw) / 2, (h - dh) / 2, dw, dh});
  } else if (w > 8) {
    CFont font = ControlFont();
    std::string text = ElideText(g, kEmptyText, font, w - 8);
    TextExtent e = g.MeasureString(text, font);
    g.DrawString(text, font, enabled ? 0xFF808080u : 0xFFB0B0B0u, (w - e.width) / 2, (h - e.height) / 2);
  }
  DrawControlFrame(g, enabled);
  return true;
}

}  // namespace velmora
