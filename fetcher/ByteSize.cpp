#include "ByteSize.h"

#include <QLocale>
#include <algorithm>

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
constexpr quint64 TB = GB * 1024;
constexpr quint64 PB = TB * 1024;
constexpr quint64 EB = PB * 1024;

constexpr SizeRange kRanges[] = {
    {10 * KB, KB, 2, " KB"},     {100 * KB, KB, 1, " KB"}, {1000 * KB, KB, 0, " KB"},
    {10 * MB, MB, 2, " MB"},     {100 * MB, MB, 1, " MB"}, {1000 * MB, MB, 0, " MB"},
    {10 * GB, GB, 2, " GB"},     {100 * GB, GB, 1, " GB"}, {1000 * GB, GB, 0, " GB"},
    {10 * TB, TB, 2, " TB"},     {100 * TB, TB, 1, " TB"}, {1000 * TB, TB, 0, " TB"},
    {10 * PB, PB, 2, " PB"},     {100 * PB, PB, 1, " PB"}, {1000 * PB, PB, 0, " PB"},
    {~quint64(0), EB, 2, " EB"},
};

QLocale NumberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

} // namespace

QString FormatByteSize(qint64 count) {
    // A count below zero is no size at all.
    const quint64 bytes = quint64(std::max<qint64>(count, 0));
    if (bytes < KB)
        return NumberLocale().toString(bytes) + QStringLiteral(" bytes");
    for (const SizeRange& range : kRanges) {
        if (bytes >= range.limit)
            continue;
        quint64 scale = 1;
        for (int i = 0; i < range.decimals; ++i)
            scale *= 10;
        // Whole hundredths (or tenths, or units) of the unit, computed exactly.
        // (128 bits: a count near the top of the range times 100 would not fit in 64.)
        const quint64 truncated = quint64((unsigned __int128)bytes * scale / range.unit);
        return NumberLocale().toString(double(truncated) / double(scale), 'f', range.decimals) +
               QLatin1String(range.suffix);
    }
    return QString();
}

} // namespace modNabrix
