#include "WindowFonts.h"

#include <QStringList>

namespace WindowFonts {

namespace {
QFont fontOf(const QStringList& families, qreal pointSize) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
} // namespace

QFont MsSansSerif(qreal pointSize) {
    // Arial-like faces come closest to the narrow bitmap face.
    return fontOf({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arimo",
                   "Nimbus Sans", "Nimbus Sans L", "DejaVu Sans"},
                  pointSize);
}

QFont Tahoma(qreal pointSize) {
    // Tahoma is a narrow Verdana; DejaVu Sans descends from the same design.
    return fontOf({"Tahoma", "DejaVu Sans Condensed", "Liberation Sans", "Arimo", "Nimbus Sans",
                   "DejaVu Sans"},
                  pointSize);
}

} // namespace WindowFonts
