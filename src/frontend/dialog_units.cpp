// Dialog base units from the application font.
#include "frontend/dialog_units.h"

#include <QFontMetrics>
#include <atomic>
#include <cmath>

namespace velmora {
namespace {

// The classic dialog font's units until a font is set.
std::atomic<int> g_base_x{6};
std::atomic<int> g_base_y{13};

int MulDivRound(int value, int mul, int div) {
  return static_cast<int>(std::lround(static_cast<double>(value) * mul / div));
}

}  // namespace

void CDialogUnits::SetFont(const QFont& font) {
  QFontMetrics fm(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  int width = fm.horizontalAdvance(letters);
  g_base_x = std::max(1, (width / 26 + 1) / 2);
  g_base_y = std::max(1, fm.height());
}

int CDialogUnits::BaseX() { return g_base_x; }
int CDialogUnits::BaseY() { return g_base_y; }
int CDialogUnits::X(int du) { return MulDivRound(du, g_base_x, 4); }
int CDialogUnits::Y(int du) { return MulDivRound(du, g_base_y, 8); }

QRect CDialogUnits::ToPixels(const RECT& du) {
  int left = X(du.left), top = Y(du.top);
  return QRect(left, top, X(du.right) - left, Y(du.bottom) - top);
}

QSize CDialogUnits::ToPixels(int cx, int cy) { return QSize(X(cx), Y(cy)); }

}  // namespace velmora
