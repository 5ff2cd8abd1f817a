#include "FirefoxSession.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QtEndian>
#include <algorithm>
#include <lz4.h>
#include <tuple>

namespace FirefoxSession {

namespace {

const QByteArray kMagic("mozLz40\0", 8);
constexpr qint64 kHeaderSize = 12; // the magic and the decompressed size
// Real session files are a few megabytes; anything larger is refused rather than read.
constexpr qint64 kMaxFileSize = 64LL * 1024 * 1024;
constexpr qint64 kMaxJsonSize = 256LL * 1024 * 1024;
// LZ4 cannot expand data more than about 255 times.
constexpr qint64 kMaxLz4Ratio = 255;

// One [section] of an ini text with its key=value lines.
struct IniSection {
    QString name;
    QHash<QString, QString> values;
};

QList<IniSection> ParseIni(const QByteArray& text) {
    QList<IniSection> sections;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            sections.append({line.mid(1, line.size() - 2), {}});
            continue;
        }
        const int equals = line.indexOf('=');
        if (sections.isEmpty() || equals <= 0 || line.startsWith(';') || line.startsWith('#'))
            continue;
        sections.last().values.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return sections;
}

QString ResolveProfile(const QString& path, bool relative, const QString& baseDir) {
    if (path.isEmpty())
        return QString();
    return relative ? QDir(baseDir).filePath(path) : path;
}

QString ResolveProfileSection(const IniSection& profile, const QString& baseDir) {
    return ResolveProfile(profile.values.value("Path"), profile.values.value("IsRelative") == "1",
                          baseDir);
}

// An installation's default names a profile by its Path value; the profile's own section says
// whether that path is relative.
QString ResolveInstallDefault(const QString& path, const QList<IniSection>& profiles,
                              const QString& baseDir) {
    for (const IniSection& profile : profiles) {
        if (profile.values.value("Path") == path)
            return ResolveProfileSection(profile, baseDir);
    }
    return ResolveProfile(path, QDir::isRelativePath(path), baseDir);
}

bool IsSection(const IniSection& section, const char* prefix) {
    return section.name.startsWith(QLatin1String(prefix));
}

// The folders where a Firefox keeps profiles.ini: the distribution's package (firefox or
// firefox-esr), newer releases under the configuration folder, the Flatpak and the Snap.
QStringList ProfileRoots() {
    const QString home = QDir::homePath();
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = home + "/.config";
    const QString flatpak = home + "/.var/app/org.mozilla.firefox";
    return {home + "/.mozilla/firefox", configHome + "/mozilla/firefox",
            flatpak + "/.mozilla/firefox", flatpak + "/config/mozilla/firefox",
            home + "/snap/firefox/common/.mozilla/firefox"};
}

// Every profile that some installation starts with.
QStringList StartProfiles() {
    QStringList profiles;
    for (const QString& root : ProfileRoots()) {
        QFile ini(root + "/profiles.ini");
        if (ini.size() > kMaxFileSize || !ini.open(QIODevice::ReadOnly))
            continue;
        profiles += StartProfilePaths(ini.readAll(), root);
    }
    return profiles;
}

// The session files of a profile, in order of preference when they are equally fresh: while
// Firefox runs it keeps the recovery file current; the other is left from its last exit.
QStringList SessionFilesOf(const QString& profile) {
    QStringList files;
    for (const char* name : {"sessionstore-backups/recovery.jsonlz4", "sessionstore.jsonlz4"})
        files.append(QDir(profile).filePath(QLatin1String(name)));
    return files;
}

// The session files of every profile that some installation starts with, freshest first, with
// the profile each belongs to. Of all the Firefox installations, the one that ran last wrote
// its session last.
QList<QPair<QString, QString>> SessionFilesFreshestFirst() {
    QList<std::tuple<QDateTime, QString, QString>> files;
    for (const QString& profile : StartProfiles()) {
        for (const QString& path : SessionFilesOf(profile)) {
            const QFileInfo info(path);
            if (info.isFile())
                files.append({info.lastModified(), path, profile});
        }
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const auto& a, const auto& b) { return std::get<0>(a) > std::get<0>(b); });
    QList<QPair<QString, QString>> paths;
    for (const auto& file : files)
        paths.append({std::get<1>(file), std::get<2>(file)});
    return paths;
}

// The window that had the focus last, 1-based; the first when the session does not say.
QJsonObject SelectedWindow(const QJsonObject& session) {
    const QJsonArray windows = session.value("windows").toArray();
    const int selected = session.value("selectedWindow").toInt(1);
    if (selected < 1 || selected > windows.size())
        return windows.isEmpty() ? QJsonObject() : windows.first().toObject();
    return windows.at(selected - 1).toObject();
}

// The entry that a tab shows: entries[index - 1], both 1-based in Firefox's numbering.
QJsonObject CurrentEntry(const QJsonObject& tab) {
    const QJsonArray entries = tab.value("entries").toArray();
    const int index = tab.value("index").toInt(entries.size());
    if (index < 1 || index > entries.size())
        return {};
    return entries.at(index - 1).toObject();
}

QJsonObject SelectedTab(const QJsonObject& window) {
    const QJsonArray tabs = window.value("tabs").toArray();
    const int selected = window.value("selected").toInt(1);
    if (selected < 1 || selected > tabs.size())
        return {};
    return tabs.at(selected - 1).toObject();
}

// Firefox shows the address as the title of a page that has none.
QString EntryTitle(const QJsonObject& entry) {
    const QString title = entry.value("title").toString();
    return title.isEmpty() ? entry.value("url").toString() : title;
}

} // namespace

QStringList StartProfilePaths(const QByteArray& profilesIni, const QString& baseDir) {
    const QList<IniSection> sections = ParseIni(profilesIni);
    QList<IniSection> profiles;
    for (const IniSection& section : sections) {
        if (IsSection(section, "Profile"))
            profiles.append(section);
    }
    QStringList paths;
    const auto add = [&paths](const QString& path) {
        if (!path.isEmpty() && !paths.contains(path))
            paths.append(path);
    };
    // Each installation (firefox, firefox-esr...) names the profile it starts with.
    for (const IniSection& section : sections) {
        const QString installDefault = section.values.value("Default");
        if (IsSection(section, "Install") && !installDefault.isEmpty())
            add(ResolveInstallDefault(installDefault, profiles, baseDir));
    }
    for (const IniSection& profile : profiles) {
        if (profile.values.value("Default") == "1")
            add(ResolveProfileSection(profile, baseDir));
    }
    if (paths.isEmpty() && !profiles.isEmpty())
        add(ResolveProfileSection(profiles.first(), baseDir));
    return paths;
}

QString DefaultProfilePath(const QByteArray& profilesIni, const QString& baseDir) {
    const QStringList paths = StartProfilePaths(profilesIni, baseDir);
    return paths.isEmpty() ? QString() : paths.first();
}

std::optional<QByteArray> DecodeMozLz4(const QByteArray& file) {
    if (file.size() < kHeaderSize || !file.startsWith(kMagic))
        return std::nullopt;
    const qint64 compressedSize = file.size() - kHeaderSize;
    const qint64 jsonSize = qFromLittleEndian<quint32>(file.constData() + kMagic.size());
    if (jsonSize > kMaxJsonSize || jsonSize > compressedSize * kMaxLz4Ratio)
        return std::nullopt;
    QByteArray json(jsonSize, Qt::Uninitialized);
    const int written =
        LZ4_decompress_safe(file.constData() + kHeaderSize, json.data(),
                            static_cast<int>(compressedSize), static_cast<int>(jsonSize));
    if (written != jsonSize)
        return std::nullopt;
    return json;
}

std::optional<QByteArray> ReadSessionFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return std::nullopt;
    // Read one byte past the limit so a file that grew after the size check is still refused.
    const QByteArray content = file.read(kMaxFileSize + 1);
    if (content.size() > kMaxFileSize)
        return std::nullopt;
    return DecodeMozLz4(content);
}

QString SelectedTabUrl(const QByteArray& sessionJson, const QString& pageTitle) {
    const QString wanted = pageTitle.trimmed();
    if (wanted.isEmpty())
        return QString();
    const QJsonObject session = QJsonDocument::fromJson(sessionJson).object();
    // The window used last comes first: two windows may show pages of the same title.
    QList<QJsonObject> windows{SelectedWindow(session)};
    for (const QJsonValue& window : session.value("windows").toArray())
        windows.append(window.toObject());
    for (const QJsonObject& window : windows) {
        const QJsonObject entry = CurrentEntry(SelectedTab(window));
        if (EntryTitle(entry).trimmed() == wanted)
            return entry.value("url").toString();
    }
    return QString();
}

QString MostRecentWindowTitle(const QByteArray& sessionJson) {
    const QJsonObject session = QJsonDocument::fromJson(sessionJson).object();
    return EntryTitle(CurrentEntry(SelectedTab(SelectedWindow(session))));
}

std::optional<QByteArray> CurrentSession() {
    for (const auto& file : SessionFilesFreshestFirst()) {
        if (std::optional<QByteArray> json = ReadSessionFile(file.first))
            return json;
    }
    return std::nullopt;
}

QString CurrentProfile() {
    for (const auto& file : SessionFilesFreshestFirst()) {
        if (ReadSessionFile(file.first))
            return file.second;
    }
    return StartProfiles().value(0);
}

QString ShownPageUrl(const QString& pageTitle) {
    const std::optional<QByteArray> json = CurrentSession();
    return json ? SelectedTabUrl(*json, pageTitle) : QString();
}

} // namespace FirefoxSession
