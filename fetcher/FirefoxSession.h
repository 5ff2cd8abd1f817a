#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// Firefox's session store in the user's default profile: which page each window's selected
// tab shows. Firefox keeps it as LZ4-compressed JSON ("mozLz40" files) and rewrites it every
// few seconds while it runs.
namespace FirefoxSession {

// The folder of the default profile named by a profiles.ini text; relative paths are taken
// from baseDir. Empty when the text names no profile.
QString DefaultProfilePath(const QByteArray& profilesIni, const QString& baseDir);

// The JSON inside a "mozLz40" file, or nothing when the file is not one or is damaged.
std::optional<QByteArray> DecodeMozLz4(const QByteArray& file);

// The decoded session file at path, or nothing when it is missing, too large or damaged.
std::optional<QByteArray> ReadSessionFile(const QString& path);

// The address that a window's selected tab shows when that tab's title is pageTitle; empty when
// no window matches or the JSON is not a session.
QString SelectedTabUrl(const QByteArray& sessionJson, const QString& pageTitle);

// SelectedTabUrl read from the current user's default profile; empty when anything is missing.
QString ShownPageUrl(const QString& pageTitle);

} // namespace FirefoxSession
