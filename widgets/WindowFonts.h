#pragma once
#include <QFont>

// The windows' fonts at their point sizes. Each names the classic face first and then the
// nearest faces a Linux desktop usually has, so the nearest installed one is used.
namespace WindowFonts {
// MS Sans Serif, the windows' default face.
QFont MsSansSerif(qreal pointSize);
// Tahoma, used for the address row, the update button, the about box and the conversion
// dialog.
QFont Tahoma(qreal pointSize);
} // namespace WindowFonts
