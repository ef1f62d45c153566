#include "ui/dialog_units.h"

#include <QFontMetrics>

namespace {
int AverageCharacterWidth(const QFontMetrics& metrics) {
    // The window system's average: the letters A..Z and a..z, rounded.
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return (width / 26 + 1) / 2;
}
}  // namespace

DialogUnits::DialogUnits(const QFont& font)
    : baseWidth_(AverageCharacterWidth(QFontMetrics(font))),
      baseHeight_(QFontMetrics(font).height()) {}
