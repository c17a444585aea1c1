// CTextStyle archive form: face, alignment, colour, flags, size.
#include "core/text_style.h"

namespace velmora {

void CTextStyle::Serialize(ArchiveWriter& ar) const {
  ar.String(face);
  ar.I32(alignment);
  ar.U32(color);
  ar.U32(flags);
  ar.F32(size);
}

void CTextStyle::Serialize(ArchiveReader& ar) {
  CTextStyle s;
  s.face = ar.String();
  s.alignment = ar.I32();
  s.color = ar.U32();
  s.flags = ar.U32();
  s.size = ar.F32();
  *this = std::move(s);
}

}  // namespace velmora
