// Drawing helpers shared by the shell's controls that paint themselves (colour box, link, font
// sample, picture box): the control font, the sunken frame, the chequered ground under
// transparent colours and text cut to a width at a whole character.
#pragma once
#include <string>
#include <string_view>

#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"

namespace velmora {

// The application font (the shell's face and pixel height), as dialogs show their texts.
CFont ControlFont();
// A one-pixel frame round the whole canvas: dark grey, light grey when disabled.
void DrawControlFrame(CGraphics& g, bool enabled);
// Light and dark grey squares of `cell` pixels, the ground under a colour with transparency.
void FillChequer(CGraphics& g, const GfxRect& rect, float cell = 4.0f);
// The text when it fits into `width` pixels, else its longest beginning that fits followed by
// "…", cut between whole UTF-8 characters.
std::string ElideText(CGraphics& g, std::string_view text, const CFont& font, float width);
// Straight ARGB colour `argb` washed towards grey, as a disabled control shows it.
Argb DisabledColor(Argb argb);

}  // namespace velmora
