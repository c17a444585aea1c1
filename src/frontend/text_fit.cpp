// Fitting texts into controls.
#include "frontend/text_fit.h"

#include <QStringList>

namespace velmora {

QString StaticText(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&')) {
      if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
        out += QLatin1Char('&');
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

FittedText FitText(const QFontMetrics& metrics, const QString& text, int width, bool mnemonics) {
  int flags = mnemonics ? Qt::TextShowMnemonic : 0;
  // Lines of a multi-line text are fitted one by one.
  if (text.contains(QLatin1Char('\n'))) {
    FittedText out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
      FittedText line = FitText(metrics, lines[i], width, mnemonics);
      if (i) out.shown += QLatin1Char('\n');
      out.shown += line.shown;
      out.shortened = out.shortened || line.shortened;
    }
    return out;
  }
  QString shown = metrics.elidedText(text, Qt::ElideRight, std::max(0, width), flags);
  return FittedText{shown, shown != text};
}

}  // namespace velmora
