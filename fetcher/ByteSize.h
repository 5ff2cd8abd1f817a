#pragma once
#include <QString>

// The byte-size texts of modNabrix, apart from its network and browser routines so that
// plain logic can use them.
namespace modNabrix {
// A byte count as a short size text: three significant digits, units of 1024, at any size.
QString FormatByteSize(qint64 count);
} // namespace modNabrix
