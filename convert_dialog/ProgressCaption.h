#pragma once
#include <QString>

// What the conversion dialog's bar says while the converter reports how far it is: "42 %",
// and once the pace is known, the time left too: "42 % · 1 min 20 s left".
namespace ProgressCaption {

// Whole percent of `doneMs` in `totalMs`, 0 to 100.
int Percent(qint64 doneMs, qint64 totalMs);

// The caption for `doneMs` of `totalMs`, `elapsedMs` after the first report of this run, which
// said `firstDoneMs`. The time left follows once a few seconds of pace have been seen.
QString Text(qint64 doneMs, qint64 totalMs, qint64 firstDoneMs, qint64 elapsedMs);

// "45 s", "1 min 20 s", "2 h 5 min".
QString Duration(qint64 ms);

} // namespace ProgressCaption
