// CTextStyle: the text style of labels and text shapes (face, alignment, colour, flags, size).
#pragma once
#include <cstdint>
#include <string>

#include "core/archive.h"

namespace velmora {

struct CTextStyle {
  std::string face = "黑体";
  int32_t alignment = 0;           // 0 left, 1 centre, 2 right
  uint32_t color = 0xFF000000u;    // ARGB
  uint32_t flags = 0;              // kBold | kItalic | kUnderline | kHalo
  float size = 12.0f;              // em size in points

  static constexpr uint32_t kBold = 1, kItalic = 2, kUnderline = 4, kHalo = 8;

  void Serialize(ArchiveWriter& ar) const;
  void Serialize(ArchiveReader& ar);  // throws ArchiveError on a short stream
  bool operator==(const CTextStyle&) const = default;
};

}  // namespace velmora
