// Dialog units -> pixels. Templates give sizes in dialog units: a quarter of the font's average
// character width across, an eighth of its height down, so a dialog grows with its font. The base
// units come from the application font's metrics, as the original platform computes them (the
// average width of the 52 Latin letters, rounded, and the font height).
#pragma once
#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/ui/ui_types.h"

namespace velmora {

class CDialogUnits {
 public:
  // Takes the base units from the font (the application font; called once at start).
  static void SetFont(const QFont& font);
  static int BaseX();
  static int BaseY();
  static int X(int du);
  static int Y(int du);
  static QRect ToPixels(const RECT& du);
  static QSize ToPixels(int cx, int cy);
};

}  // namespace velmora
