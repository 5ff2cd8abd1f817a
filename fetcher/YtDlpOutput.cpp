#include "YtDlpOutput.h"

#include <QList>
#include <QRegularExpression>

namespace YtDlpOutput {
namespace {

constexpr int kMaxReasonChars = 300;

// yt-dlp's words for each failure, looked for in this order: a private video's text also asks
// to sign in, and a region block may say the video is unavailable.
struct Clue {
    Failure kind;
    QList<const char*> words;
};
const QList<Clue>& Clues() {
    static const QList<Clue> clues = {
        {Failure::Private, {"private video", "video is private", "is private"}},
        {Failure::RegionBlocked,
         {"country", "geo restrict", "geo-restrict", "your region", "your location"}},
        {Failure::SignInRequired,
         {"sign in", "log in", "login", "logged-in", "--cookies", "members-only",
          "registered users", "subscribers only", "confirm your age"}},
        {Failure::Unsupported, {"unsupported url"}},
        {Failure::Removed,
         {"removed", "deleted", "no longer available", "video unavailable", "does not exist",
          "http error 404", "http error 410", "terminated"}},
        {Failure::Network,
         {"unable to download", "urlopen error", "connection", "timed out", "name resolution",
          "name or service not known", "network is unreachable", "ssl", "http error 5",
          "getaddrinfo", "unable to connect"}},
    };
    return clues;
}

QString Sentence(Failure kind) {
    switch (kind) {
    case Failure::Private:
        return QStringLiteral("This video is private");
    case Failure::Removed:
        return QStringLiteral("This video was removed or is no longer available");
    case Failure::RegionBlocked:
        return QStringLiteral("This video is not available in your country");
    case Failure::SignInRequired:
        return QStringLiteral("This video can only be watched signed in");
    case Failure::Unsupported:
        return QStringLiteral("yt-dlp does not know this address");
    case Failure::Network:
        return QStringLiteral("yt-dlp could not reach the site");
    case Failure::Other:
        break;
    }
    return QStringLiteral("yt-dlp could not read this page");
}

// yt-dlp's reason without "[extractor] id: ", its plea to report a bug and what Python says
// caused it; control characters go, and a long one is cut.
QString CleanReason(QString reason) {
    static const QRegularExpression prefix(
        QStringLiteral("^\\[[^\\]]{0,64}\\]\\s*(\\S{0,200}: )?"));
    reason.remove(prefix);
    for (const char* tail : {"; please report this issue", " (caused by "}) {
        const int at = reason.indexOf(QLatin1String(tail));
        if (at >= 0)
            reason.truncate(at);
    }
    QString clean;
    for (const QChar c : reason)
        if (c.isPrint())
            clean.append(c);
    clean = clean.trimmed();
    if (clean.size() > kMaxReasonChars)
        clean = clean.left(kMaxReasonChars - 3) + QStringLiteral("...");
    return clean;
}

bool IsNumber(const QByteArray& field) {
    bool ok = false;
    field.toDouble(&ok);
    return ok;
}

// A count of yt-dlp's: "NA" or anything that is no non-negative number gives -1.
double Count(const QByteArray& field) {
    bool ok = false;
    const double value = field.toDouble(&ok);
    return ok && value >= 0 && value < 9e15 ? value : -1;
}

} // namespace

std::optional<Error> ErrorOfLine(const QByteArray& line) {
    static const QByteArray marker = "ERROR: ";
    if (!line.startsWith(marker))
        return std::nullopt;
    Error error;
    error.Reason = CleanReason(QString::fromUtf8(line.mid(marker.size())));
    const QString lower = error.Reason.toLower();
    for (const Clue& clue : Clues()) {
        for (const char* word : clue.words) {
            if (lower.contains(QLatin1String(word))) {
                error.Kind = clue.kind;
                return error;
            }
        }
    }
    return error;
}

QString FailureText(const Error& error, const QString& address) {
    QString text = Sentence(error.Kind) + QStringLiteral(": ") + address;
    if (!error.Reason.isEmpty())
        text += QStringLiteral(" (yt-dlp: ") + error.Reason + QLatin1Char(')');
    return text;
}

QString ProgressTemplate() {
    return QStringLiteral("download:") + QLatin1String(kProgressPrefix) +
           QStringLiteral("%(progress.downloaded_bytes)s %(progress.total_bytes)s "
                          "%(progress.total_bytes_estimate)s %(progress.speed)s "
                          "%(progress.eta)s %(progress.status)s");
}

std::optional<Progress> ParseProgressLine(const QByteArray& line) {
    if (!line.startsWith(kProgressPrefix))
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(int(qstrlen(kProgressPrefix))).trimmed().split(' ');
    if (fields.size() != 6 || !IsNumber(fields[0]) || Count(fields[0]) < 0)
        return std::nullopt;
    Progress progress;
    progress.Bytes = qint64(Count(fields[0]));
    const double total = Count(fields[1]) >= 0 ? Count(fields[1]) : Count(fields[2]);
    progress.Total = total >= 0 ? qint64(total) : -1;
    progress.BytesPerSecond = Count(fields[3]);
    const double eta = Count(fields[4]);
    progress.SecondsLeft = eta >= 0 && eta < 1e9 ? int(eta) : -1;
    progress.Finished = fields[5] == "finished";
    return progress;
}

std::optional<QDate> ReleaseDate(const QString& version) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4})\\.(\\d{1,2})\\.(\\d{1,2})(\\.\\d+)?$"));
    const QRegularExpressionMatch match = pattern.match(version.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
}

QString UpdateHint(const QString& version, const QDate& today) {
    const std::optional<QDate> released = ReleaseDate(version);
    if (!released || released->addYears(1) >= today)
        return QString();
    return QStringLiteral("yt-dlp %1 is more than a year old, and sites change often: a newer "
                          "one reads more of them. Update it with your distribution's package "
                          "(apt install yt-dlp), from backports (apt install -t "
                          "bookworm-backports yt-dlp), or with pipx (pipx install yt-dlp).")
        .arg(version.trimmed());
}

QString NotInstalledHint() {
    return QStringLiteral("yt-dlp reads many more sites: install it with your distribution's "
                          "package (apt install yt-dlp) or with pipx (pipx install yt-dlp).");
}

} // namespace YtDlpOutput
