#include "ByteSize.h"

#include <QLocale>

namespace modNabrix {

namespace {

// One size range of the formatter: counts below `limit` are shown in `unit` bytes with
// `decimals` decimals, the last digit cut rather than rounded.
struct SizeRange {
    quint64 limit;
    quint64 unit;
    int decimals;
    const char* suffix;
};

constexpr quint64 KB = 1024;
constexpr quint64 MB = KB * 1024;
constexpr quint64 GB = MB * 1024;

constexpr SizeRange kRanges[] = {
    {10 * KB, KB, 2, " KB"}, {100 * KB, KB, 1, " KB"}, {1000 * KB, KB, 0, " KB"},
    {10 * MB, MB, 2, " MB"}, {100 * MB, MB, 1, " MB"}, {1000 * MB, MB, 0, " MB"},
    {10 * GB, GB, 2, " GB"},
};

QLocale NumberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

} // namespace

QString FormatByteSize(qint32 count) {
    const quint64 bytes = quint32(count);
    if (bytes < KB)
        return NumberLocale().toString(bytes) + QStringLiteral(" bytes");
    for (const SizeRange& range : kRanges) {
        if (bytes >= range.limit)
            continue;
        quint64 scale = 1;
        for (int i = 0; i < range.decimals; ++i)
            scale *= 10;
        // Whole hundredths (or tenths, or units) of the unit, computed exactly.
        const quint64 truncated = bytes * scale / range.unit;
        return NumberLocale().toString(double(truncated) / double(scale), 'f', range.decimals) +
               QLatin1String(range.suffix);
    }
    return QString();
}

} // namespace modNabrix
