#pragma once
// The window's fonts, in pixel sizes so that every platform lays the fixed layout out alike.
// Each names its family first and a free family of close metrics after it.

// Qt
#include <QFont>
#include <QStringList>

namespace Fonts {

inline QFont Make(const QStringList& families, int pixels, bool bold = false) {
  QFont font;
  font.setFamilies(families);
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setItalic(false);
  font.setUnderline(false);
  return font;
}

inline QStringList SansFamilies() {
  return {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
          QStringLiteral("DejaVu Sans")};
}
inline QStringList VerdanaFamilies() { return {QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}; }
inline QStringList MonoFamilies() {
  return {QStringLiteral("Consolas"), QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")};
}

inline QFont Window() { return Make(SansFamilies(), 11); }            // MS Sans Serif 8 pt
inline QFont WindowBold() { return Make(SansFamilies(), 11, true); }
inline QFont Verdana8() { return Make(VerdanaFamilies(), 11); }       // Verdana 8 pt
inline QFont Verdana7() { return Make(VerdanaFamilies(), 9); }        // Verdana 7 pt
inline QFont GroupCaption() { return Make(VerdanaFamilies(), 9, true); }  // Verdana 7 pt bold
inline QFont LogFont() { return Make(MonoFamilies(), 12, true); }     // Consolas 9 pt bold
inline QFont Big() { return Make(SansFamilies(), 40, true); }         // the comparison result

}  // namespace Fonts
