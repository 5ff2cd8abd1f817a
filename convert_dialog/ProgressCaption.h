#pragma once
#include <QString>

// What the progress bars say while a job reports how far it is, in one wording for both
// windows: the conversion's "42 % · 1 min 20 s left", the download's "42 % · 3.1 MB/s ·
// 1 min 20 s left", a retry's wait, and the addresses waiting their turn. The pace (speed and
// time left) follows once a few seconds of it have been seen since the run's first report.
namespace ProgressCaption {

// Whole percent of `done` in `total`, 0 to 100.
int Percent(qint64 done, qint64 total);

// The conversion's caption for `doneMs` of `totalMs`, `elapsedMs` after the first report of
// this run, which said `firstDoneMs`.
QString Text(qint64 doneMs, qint64 totalMs, qint64 firstDoneMs, qint64 elapsedMs);

// The download's caption for `done` of `total` bytes (a total of 0 or less: not known), paced
// as Text is.
QString DownloadText(qint64 done, qint64 total, qint64 firstDone, qint64 elapsedMs);

// "1 min 20 s left" once the pace is known, else empty: what a screen reader hears as the
// bar's value.
QString TimeLeft(qint64 done, qint64 total, qint64 firstDone, qint64 elapsedMs);

// "Retrying in 8 s (2 of 5)".
QString RetryText(qint64 waitMs, int retry, int maxRetries);

// "1 more waiting".
QString WaitingText(int count);

// The parts of a caption, the empty ones left out, joined by " · ".
QString Joined(std::initializer_list<QString> parts);

// "45 s", "1 min 20 s", "2 h 5 min".
QString Duration(qint64 ms);

// "850 KB/s", "3.1 MB/s".
QString Speed(qint64 bytesPerSecond);

} // namespace ProgressCaption
