#include "ProgressCaption.h"

#include <QStringList>
#include <algorithm>

namespace ProgressCaption {

namespace {
// The pace of the first seconds (ffmpeg starting, the first key frames, a connection opening
// up) says little.
constexpr qint64 kSettleMs = 3000;
const QString kSeparator = QStringLiteral(" \u00B7 ");

bool PaceKnown(qint64 done, qint64 firstDone, qint64 elapsedMs) {
    return elapsedMs >= kSettleMs && done > firstDone;
}

QString Percentage(qint64 done, qint64 total) {
    return QStringLiteral("%1 %").arg(Percent(done, total));
}
} // namespace

int Percent(qint64 done, qint64 total) {
    if (total <= 0)
        return 0;
    // In doubles: a count of bytes times 100 may not fit.
    return static_cast<int>(std::clamp(double(done) * 100.0 / double(total), 0.0, 100.0));
}

QString Duration(qint64 ms) {
    const qint64 seconds = std::max<qint64>(0, (ms + 999) / 1000);
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString Speed(qint64 bytesPerSecond) {
    constexpr double kKilo = 1024;
    const double kb = double(std::max<qint64>(0, bytesPerSecond)) / kKilo;
    if (kb < 1000)
        return QStringLiteral("%1 KB/s").arg(qint64(kb));
    return QStringLiteral("%1 MB/s").arg(kb / kKilo, 0, 'f', 1);
}

QString TimeLeft(qint64 done, qint64 total, qint64 firstDone, qint64 elapsedMs) {
    if (total <= 0 || !PaceKnown(done, firstDone, elapsedMs))
        return QString();
    const double leftMs =
        double(std::max<qint64>(0, total - done)) * double(elapsedMs) / double(done - firstDone);
    return Duration(qint64(leftMs)) + QStringLiteral(" left");
}

QString Text(qint64 doneMs, qint64 totalMs, qint64 firstDoneMs, qint64 elapsedMs) {
    return Joined({Percentage(doneMs, totalMs), TimeLeft(doneMs, totalMs, firstDoneMs, elapsedMs)});
}

QString DownloadText(qint64 done, qint64 total, qint64 firstDone, qint64 elapsedMs) {
    const QString percent = total > 0 ? Percentage(done, total) : QString();
    if (!PaceKnown(done, firstDone, elapsedMs))
        return percent;
    const qint64 perSecond = (done - firstDone) * 1000 / elapsedMs;
    return Joined({percent, Speed(perSecond), TimeLeft(done, total, firstDone, elapsedMs)});
}

QString RetryText(qint64 waitMs, int retry, int maxRetries) {
    return QStringLiteral("Retrying in %1 (%2 of %3)")
        .arg(Duration(waitMs))
        .arg(retry)
        .arg(maxRetries);
}

QString WaitingText(int count) {
    return count > 0 ? QStringLiteral("%1 more waiting").arg(count) : QString();
}

QString Joined(std::initializer_list<QString> parts) {
    QStringList shown;
    for (const QString& part : parts)
        if (!part.isEmpty())
            shown << part;
    return shown.join(kSeparator);
}

} // namespace ProgressCaption
