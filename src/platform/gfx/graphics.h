// CGraphics: drawing on a CBitmap through cairo: lines, polylines, polygons, rectangles,
// ellipses, pictures scaled and placed, clipping, transforms, anti-aliasing on or off, and text.
// Coordinates are pixels with (0, 0) at the top-left corner of the top-left pixel; an integer
// coordinate lies on a pixel edge, so a 1-pixel line meant to cover whole pixels is drawn at
// x + 0.5 (as on any vector canvas).
#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/font.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace velmora {

struct GfxPoint {
  float x = 0, y = 0;
};
struct GfxRect {
  float x = 0, y = 0, width = 0, height = 0;
};

enum class LineDash { kSolid, kDash, kDot, kDashDot };

struct Pen {
  Argb color = 0xFF000000u;  // straight ARGB
  float width = 1.0f;
  LineDash dash = LineDash::kSolid;
};

enum class FillMode { kAlternate, kWinding };
enum class Interpolation { kNearest, kBilinear };
enum class Compositing { kSourceOver, kSourceCopy };

// Pixels of a source picture whose red, green and blue each lie within [low, high] (straight
// values; alpha ignored) are drawn as transparent.
struct ColorKey {
  Argb low = 0;
  Argb high = 0;
};

// Width and height of a text as drawn (the box's top-left is the point given to DrawString) and
// the baseline's distance below the top.
struct TextExtent {
  float width = 0, height = 0, ascent = 0;
};

class CGraphics {
 public:
  // Draws on `target`, which must outlive the graphics object. An empty target gives an invalid
  // object on which every call does nothing.
  explicit CGraphics(CBitmap& target);
  ~CGraphics();
  CGraphics(const CGraphics&) = delete;
  CGraphics& operator=(const CGraphics&) = delete;

  bool IsValid() const { return cr_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  void SetAntialias(bool on);  // on by default
  bool Antialias() const { return antialias_; }
  void SetInterpolation(Interpolation mode);  // bilinear by default
  void SetCompositing(Compositing mode);      // source-over by default

  // Fills the whole clip area with the colour, replacing what was there (alpha included).
  void Clear(Argb color);

  void DrawLine(const Pen& pen, float x1, float y1, float x2, float y2);
  void DrawLines(const Pen& pen, const GfxPoint* points, size_t count);  // open polyline
  void DrawPolygon(const Pen& pen, const GfxPoint* points, size_t count);  // closed outline
  void FillPolygon(Argb color, const GfxPoint* points, size_t count,
                   FillMode mode = FillMode::kAlternate);
  void DrawRectangle(const Pen& pen, const GfxRect& rect);
  void FillRectangle(Argb color, const GfxRect& rect);
  void DrawEllipse(const Pen& pen, const GfxRect& bounds);
  void FillEllipse(Argb color, const GfxRect& bounds);

  // The whole picture with its top-left at (x, y), unscaled.
  void DrawImage(const CBitmap& image, float x, float y);
  // The whole picture scaled into `dest`.
  void DrawImage(const CBitmap& image, const GfxRect& dest);
  // The part `source` of the picture scaled into `dest`, optionally with a colour key made
  // transparent and a constant opacity (0..1).
  void DrawImage(const CBitmap& image, const GfxRect& dest, const GfxRect& source,
                 const ColorKey* key = nullptr, float opacity = 1.0f);

  // Clipping (in the current transform's coordinates, as set): replaces, narrows or removes it.
  void SetClip(const GfxRect& rect);
  void SetClip(const GfxPoint* points, size_t count, FillMode mode = FillMode::kAlternate);
  void IntersectClip(const GfxRect& rect);
  void ResetClip();

  void TranslateTransform(float dx, float dy);
  void ScaleTransform(float sx, float sy);
  void RotateTransform(float degrees);  // clockwise on screen, as y points down
  void ResetTransform();

  // Saves transform, clip and modes; Restore brings back the last saved state.
  void Save();
  void Restore();

  // UTF-8 text with the box's top-left at (x, y). Bold and italic come from the font (synthesised
  // when the face has none); kUnderline draws a line under the text, kHalo a 2-pixel outline in
  // `halo` around the glyphs first. Text the face has no glyphs for is drawn with the CJK font.
  void DrawString(std::string_view text, const CFont& font, Argb color, float x, float y,
                  Argb halo = 0xFFFFFFFFu);
  TextExtent MeasureString(std::string_view text, const CFont& font);

  // Completes pending drawing so that the bitmap's pixels may be read while the object lives;
  // the destructor does it too.
  void Flush();

 private:
  void SetColor(Argb color);
  void ApplyPen(const Pen& pen);
  void PolyPath(const GfxPoint* points, size_t count, bool close);
  void Stroke(const Pen& pen);

  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  bool antialias_ = true;
  Interpolation interpolation_ = Interpolation::kBilinear;
  std::vector<std::pair<bool, Interpolation>> saved_;
};

// Text extent without a target picture (layouts computed before drawing).
TextExtent MeasureText(std::string_view text, const CFont& font);

}  // namespace velmora
