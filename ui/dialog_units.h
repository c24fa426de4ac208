#pragma once

#include <QFontMetrics>
#include <QRect>

namespace qf {

/// Converts dialog units to pixels of a dialog using font: a horizontal unit
/// is a quarter of the average character width, a vertical one an eighth of
/// the font's height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFontMetrics& font)
      : charWidth_(font.averageCharWidth()), charHeight_(font.height()) {}

  int x(int units) const { return units * charWidth_ / 4; }
  int y(int units) const { return units * charHeight_ / 8; }
  QRect rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
  }

 private:
  int charWidth_;
  int charHeight_;
};

}  // namespace qf
