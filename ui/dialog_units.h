#pragma once

#include <QFont>
#include <QRect>

// Converts dialog-template units to pixels as the window system does: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an eighth of its height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight) : baseWidth_(baseWidth), baseHeight_(baseHeight) {}

    int X(int units) const { return Scale(units, baseWidth_, 4); }
    int Y(int units) const { return Scale(units, baseHeight_, 8); }
    // Each edge is mapped on its own, as the window system maps a template rectangle, so that
    // rounding never carries a control past the right or bottom edge of its rectangle.
    QRect Rect(int x, int y, int width, int height) const {
        return QRect(QPoint(X(x), Y(y)), QPoint(X(x + width) - 1, Y(y + height) - 1));
    }

  private:
    // units * base / divisor, rounded to the nearest pixel.
    static int Scale(int units, int base, int divisor) {
        return (units * base + divisor / 2) / divisor;
    }
    int baseWidth_;
    int baseHeight_;
};
