// CGdipTextRenderer: the shared text renderer of the application: a current font and colour and
// printf-style text drawing at a point of a graphics object (labels, readouts, placeholder tiles).
#pragma once
#include <cstdarg>
#include <mutex>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"

namespace velmora {

class CGdipTextRenderer {
 public:
  // Font "Microsoft Sans Serif" 11 pixels (the application font), black.
  CGdipTextRenderer() = default;

  void SelectColor(Argb color);  // straight ARGB
  void SelectFont(const CFont& font);
  Argb Color() const;
  CFont Font() const;

  // Formats at most 512 characters (longer output is cut at a character boundary) and draws
  // them with the current font and colour, the text box's top-left at (x, y).
  void DrawTextF(CGraphics& graphics, float x, float y, const char* format, ...)
      __attribute__((format(printf, 5, 6)));
  // The wide-text form of DrawTextF; text is UTF-8 in memory, so both draw alike.
  void DrawTextW(CGraphics& graphics, float x, float y, const char* format, ...)
      __attribute__((format(printf, 5, 6)));

  // Extent of a text with the current font.
  TextExtent Measure(const char* text) const;

 private:
  void DrawFormatted(CGraphics& graphics, float x, float y, const char* format, va_list args);

  mutable std::mutex mutex_;  // font and colour are shared by every thread that draws
  CFont font_;
  Argb color_ = 0xFF000000u;
};

// The application's one shared renderer.
CGdipTextRenderer& SharedTextRenderer();

}  // namespace velmora
