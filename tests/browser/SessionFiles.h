#pragma once
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QtEndian>
#include <lz4.h>

// Writes what Firefox keeps on disk: profiles.ini and "mozLz40" session files.
namespace SessionFiles {

// One tab: its history entries as (title, url) pairs and the 1-based index of the current one.
struct Tab {
    QList<QPair<QString, QString>> entries;
    int index = 1;
};

// One window: its tabs and the 1-based number of the selected one.
struct Window {
    QList<Tab> tabs;
    int selected = 1;
};

inline QJsonObject TabJson(const Tab& tab) {
    QJsonArray entries;
    for (const auto& [title, url] : tab.entries)
        entries.append(QJsonObject{{"title", title}, {"url", url}, {"charset", "UTF-8"}});
    return QJsonObject{{"entries", entries}, {"index", tab.index}, {"lastAccessed", 1}};
}

// A session whose window used last is windows[selectedWindow - 1].
inline QByteArray SessionJson(const QList<Window>& windows, int selectedWindow = 1) {
    QJsonArray windowArray;
    for (const Window& window : windows) {
        QJsonArray tabs;
        for (const Tab& tab : window.tabs)
            tabs.append(TabJson(tab));
        windowArray.append(QJsonObject{{"tabs", tabs}, {"selected", window.selected}});
    }
    const QJsonObject session{{"version", QJsonArray{"sessionrestore", 1}},
                              {"windows", windowArray},
                              {"selectedWindow", selectedWindow},
                              {"_closedWindows", QJsonArray{}}};
    return QJsonDocument(session).toJson(QJsonDocument::Compact);
}

// The "mozLz40" form: magic, little-endian decompressed size, one LZ4 block.
inline QByteArray MozLz4(const QByteArray& json) {
    QByteArray compressed(LZ4_compressBound(json.size()), Qt::Uninitialized);
    const int size =
        LZ4_compress_default(json.constData(), compressed.data(), json.size(), compressed.size());
    compressed.truncate(size);
    QByteArray header("mozLz40\0", 8);
    header.resize(12);
    qToLittleEndian<quint32>(static_cast<quint32>(json.size()), header.data() + 8);
    return header + compressed;
}

inline bool WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A profiles.ini naming one relative profile folder as the installation's default.
inline QByteArray ProfilesIni(const QString& profileFolder) {
    return QStringLiteral("[Install4F96D1932A9F858E]\nDefault=%1\nLocked=1\n\n"
                          "[Profile0]\nName=default-release\nIsRelative=1\nPath=%1\n\n"
                          "[General]\nStartWithLastProfile=1\nVersion=2\n")
        .arg(profileFolder)
        .toUtf8();
}

// Sets up ~/.mozilla/firefox with one default profile and returns that profile's folder.
inline QString MakeProfile(const QString& home) {
    const QString root = home + "/.mozilla/firefox";
    WriteFile(root + "/profiles.ini", ProfilesIni("abcd1234.default-release"));
    const QString profile = root + "/abcd1234.default-release";
    QDir().mkpath(profile);
    return profile;
}

inline QString RecoveryFile(const QString& profile) {
    return profile + "/sessionstore-backups/recovery.jsonlz4";
}
inline QString ShutdownFile(const QString& profile) {
    return profile + "/sessionstore.jsonlz4";
}

} // namespace SessionFiles
