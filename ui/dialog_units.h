#pragma once

#include <QFontMetrics>
#include <QRect>

namespace qf {

/// Converts dialog units to pixels of a dialog using font: a horizontal unit
/// is a quarter of the average width of the letters A-Z and a-z, a vertical
/// one an eighth of the font's height. Horizontal units are an eighth wider
/// than that, since this toolkit's buttons, check boxes and frames take more
/// room around their captions than the layouts were drawn for.
class DialogUnits {
 public:
  explicit DialogUnits(const QFontMetrics& font)
      : charWidth_(averageLetterWidth(font)), charHeight_(font.height()) {}

  int x(int units) const { return units * charWidth_ * 9 / 32; }
  int y(int units) const { return units * charHeight_ / 8; }
  QRect rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
  }

 private:
  static int averageLetterWidth(const QFontMetrics& font) {
    const int width = font.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return (width + 26) / 52;
  }

  int charWidth_;
  int charHeight_;
};

}  // namespace qf
