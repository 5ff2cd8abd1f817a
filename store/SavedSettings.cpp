#include "SavedSettings.h"

#include "AppVersion.h"

#include <QDir>
#include <QStandardPaths>

namespace SavedSettings {

const std::array<Row, 13>& Table() {
    // clang-format off
    static const std::array<Row, 13> table = {{
        // key                             stored name                   default
        {SavedSetting::OutputFolder,    "Youtube Video output path",  nullptr},
        {SavedSetting::Format,          "Youtube Video format",       nullptr},
        {SavedSetting::VideoCodec,      "Youtube Video codec",        nullptr},
        {SavedSetting::VideoBitrate,    "Youtube Video bitrate",      nullptr},
        {SavedSetting::AudioCodec,      "Youtube Audio codec",        nullptr},
        {SavedSetting::AudioBitrate,    "Youtube Audio bitrate",      nullptr},
        {SavedSetting::AudioSampleRate, "Youtube Audio samplerate",   nullptr},
        {SavedSetting::FrameRate,       "Youtube Video framerate",    nullptr},
        {SavedSetting::VideoSize,       "Youtube Video size",         nullptr},
        {SavedSetting::SameQuality,     "Youtube Video quality",      nullptr},
        {SavedSetting::Mono,            "Youtube Video mode mono",    "True"},
        {SavedSetting::Stereo,          "Youtube Video mode stereo",  "False"},
        {SavedSetting::VideoExtension,  "Youtube Video extension",    nullptr},
    }};
    // clang-format on
    return table;
}

namespace {
const Row& RowOf(SavedSetting key) {
    for (const Row& row : Table())
        if (row.key == key)
            return row;
    // Every key has its row; the tables are the one list of them.
    Q_UNREACHABLE();
}
} // namespace

QString StoredName(SavedSetting key) {
    return QString::fromLatin1(RowOf(key).storedName);
}

QString FixedDefault(SavedSetting key) {
    return QString::fromLatin1(RowOf(key).fixedDefault);
}

const std::array<FetchRow, 3>& FetchTable() {
    // clang-format off
    static const std::array<FetchRow, 3> table = {{
        {FetchSetting::MaxHeight,           "Highest video height",   "0"},
        {FetchSetting::YtDlpProgram,        "yt-dlp program",         "yt-dlp"},
        {FetchSetting::YtDlpBrowserCookies, "yt-dlp browser cookies", "False"},
    }};
    // clang-format on
    return table;
}

namespace {
const FetchRow& RowOf(FetchSetting key) {
    for (const FetchRow& row : FetchTable())
        if (row.key == key)
            return row;
    Q_UNREACHABLE();
}
} // namespace

QString StoredName(FetchSetting key) {
    return QString::fromLatin1(RowOf(key).storedName);
}

QString FixedDefault(FetchSetting key) {
    return QString::fromLatin1(RowOf(key).fixedDefault);
}

// Where QSettings puts the file of organisation and product on this system.
QString StoreFile() {
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QLatin1Char('/') + QLatin1String(AppVersion::Organisation) + QLatin1Char('/') +
           QLatin1String(AppVersion::Product) + QStringLiteral(".conf");
}

} // namespace SavedSettings
