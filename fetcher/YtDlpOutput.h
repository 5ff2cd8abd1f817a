#pragma once
#include <QByteArray>
#include <QDate>
#include <QMetaType>
#include <QString>
#include <optional>

// What yt-dlp writes besides its JSON: its version, the progress lines of a download that we
// ask for with --progress-template, and its "ERROR:" lines, turned into our texts.
namespace YtDlpOutput {

// Why yt-dlp gave up on a page, as far as its error line tells.
enum class Failure {
    Private,
    Removed,
    RegionBlocked,
    SignInRequired,
    Unsupported,
    Network,
    Other,
};

struct Error {
    Failure Kind = Failure::Other;
    // yt-dlp's own words, without its prefixes, its plea to report a bug or control characters.
    QString Reason;
};

// The error an "ERROR:" line of yt-dlp's stderr tells; nothing for any other line.
std::optional<Error> ErrorOfLine(const QByteArray& line);

// Our text for the error on `address`, ending with yt-dlp's reason.
QString FailureText(const Error& error, const QString& address);

// The progress template handed to yt-dlp, and the prefix its lines start with.
QString ProgressTemplate();
inline constexpr char kProgressPrefix[] = "vantelo-progress ";

struct Progress {
    qint64 Bytes = 0;
    qint64 Total = -1;          // -1 when unknown; yt-dlp's estimate when it has no more
    double BytesPerSecond = -1; // -1 when unknown
    int SecondsLeft = -1;       // -1 when unknown
    bool Finished = false;
};

// One of our progress lines; nothing for any other line or a line whose numbers are not.
std::optional<Progress> ParseProgressLine(const QByteArray& line);

// The day a version was released: yt-dlp's versions are dates, "2023.03.04" (a rebuild may add
// ".1"). Nothing for any other text.
std::optional<QDate> ReleaseDate(const QString& version);

// A hint to update a yt-dlp released more than a year before `today`, naming its version and
// the ways to a newer one; empty for a recent one or a version that is no date.
QString UpdateHint(const QString& version, const QDate& today);

// What to add to "No video was found on this page" when yt-dlp is not installed.
QString NotInstalledHint();

} // namespace YtDlpOutput

Q_DECLARE_METATYPE(YtDlpOutput::Progress)
