#include "modNabrix.h"

namespace modNabrix {

QString FormatByteSize(qint32 count) { return QString::number(count) + QStringLiteral(" bytes"); }

QString GetBrowserVideoUrl() { return QString(); }

} // namespace modNabrix
