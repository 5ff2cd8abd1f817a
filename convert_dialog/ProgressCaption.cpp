#include "ProgressCaption.h"

#include <algorithm>

namespace ProgressCaption {

namespace {
// The pace of the first seconds (ffmpeg starting, the first key frames) says little.
constexpr qint64 kSettleMs = 3000;
} // namespace

int Percent(qint64 doneMs, qint64 totalMs) {
    if (totalMs <= 0)
        return 0;
    return static_cast<int>(std::clamp<qint64>(doneMs * 100 / totalMs, 0, 100));
}

QString Duration(qint64 ms) {
    const qint64 seconds = std::max<qint64>(0, (ms + 999) / 1000);
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString Text(qint64 doneMs, qint64 totalMs, qint64 firstDoneMs, qint64 elapsedMs) {
    const QString percent = QStringLiteral("%1 %").arg(Percent(doneMs, totalMs));
    const qint64 gained = doneMs - firstDoneMs;
    if (elapsedMs < kSettleMs || gained <= 0)
        return percent;
    const qint64 leftMs = (totalMs - doneMs) * elapsedMs / gained;
    return percent + QStringLiteral(" \u00B7 ") + Duration(leftMs) + QStringLiteral(" left");
}

} // namespace ProgressCaption
