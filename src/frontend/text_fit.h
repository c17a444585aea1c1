// Texts of the model on widgets: UTF-8 <-> QString, the '&' marks of static texts, and texts too
// long for their control, which are shortened at a character boundary with "…" and shown whole
// in the tool tip (never cut in the middle of a character).
#pragma once
#include <QFontMetrics>
#include <QString>
#include <string>

namespace velmora {

inline QString Qs(const std::string& utf8) { return QString::fromStdString(utf8); }
inline std::string Utf8(const QString& text) { return text.toStdString(); }

// A static text as shown: "&&" is one '&', a single '&' only marks the next letter.
QString StaticText(const QString& text);

// The text fitted into `width` pixels on one line: the text itself when it fits, else its
// beginning with "…". `mnemonics` keeps '&' marks out of the measure.
struct FittedText {
  QString shown;
  bool shortened = false;
};
FittedText FitText(const QFontMetrics& metrics, const QString& text, int width, bool mnemonics = false);

}  // namespace velmora
