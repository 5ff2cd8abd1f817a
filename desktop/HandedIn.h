#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What other programs hand the windows: an address on the command line, from a later start or
// dropped on the main window, and a media file dropped on the conversion dialog. Outside text:
// it is cut to what a person could have typed, and the fetcher checks it as it checks a typed
// address.
namespace HandedIn {

// Longer texts are no page address of any service.
constexpr int kMaxAddressLength = 2048;

// The address box text for a handed-in text: its first line, trimmed, within the longest
// length; empty when nothing is left.
QString Address(const QString& text);

// The addresses to try in turn for one typed without its scheme ("example.com/watch?v=1"), as
// browsers read it: https, then http. Empty for any other text: one with a scheme, or one whose
// start is no host name ("javascript:...", "data:...", "file:...").
QStringList SchemeGuesses(const QString& address);

// Whether the handed-in text is left out for its length alone.
bool IsTooLong(const QString& text);

// What the window says, once for a whole batch, of addresses it left out: `tooLong` over the
// longest length, `beyondMost` past the end of a waiting list that holds `most`.
QString LeftOutText(int tooLong, int beyondMost, int most);

// The address of a drop: its first link, else its text.
QString DroppedAddress(const QList<QUrl>& urls, const QString& text);

// The first dropped file that is a local, readable audio or video file, or empty.
QString MediaFile(const QList<QUrl>& urls);

} // namespace HandedIn
