// CFont: a face name, a size in pixels and a style, resolved through fontconfig to a font that
// has the glyphs of the text (the Windows face names of the program's texts, "黑体", "宋体",
// "Microsoft Sans Serif" and the like, map to the installed CJK font).
#pragma once
#include <cstdint>
#include <string>
#include <utility>

namespace velmora {

class CFont {
 public:
  // Style bits, the same values as CTextStyle's flags.
  static constexpr uint32_t kBold = 1, kItalic = 2, kUnderline = 4, kHalo = 8;

  // The application font: "Microsoft Sans Serif", 11 pixels.
  CFont() = default;
  CFont(std::string face, float pixel_size, uint32_t style = 0)
      : face_(std::move(face)), pixel_size_(pixel_size), style_(style) {}

  // Point sizes at the 96 dots per inch that the program's layouts assume.
  static float PointsToPixels(float points) { return points * 96.0f / 72.0f; }

  const std::string& Face() const { return face_; }
  float PixelSize() const { return pixel_size_; }
  uint32_t Style() const { return style_; }
  bool operator==(const CFont&) const = default;

 private:
  std::string face_ = "Microsoft Sans Serif";
  float pixel_size_ = 11.0f;
  uint32_t style_ = 0;
};

// The file of the font a face name resolves to (empty when fontconfig finds none); the CJK
// fallback font's file when `for_cjk` is set. For logs and tests.
std::string ResolveFontFile(const std::string& face, bool for_cjk = false);

// The family fontconfig is asked for in place of a Windows face name ("黑体" -> the CJK font);
// other names are returned unchanged.
std::string MapFaceName(const std::string& face);

}  // namespace velmora
