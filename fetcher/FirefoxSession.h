#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Firefox's session store: which page each window's selected tab shows. Firefox keeps it as
// LZ4-compressed JSON ("mozLz40" files) in the profile and rewrites it every few seconds while
// it runs. Profiles of the distribution's firefox or firefox-esr, the Flatpak and the Snap are
// all looked at; the session written last is the current one.
namespace FirefoxSession {

// The profile folders that a profiles.ini text names as the ones Firefox starts with: each
// installation's default, then the profile marked Default=1, else the only or first profile.
// Relative paths are taken from baseDir.
QStringList StartProfilePaths(const QByteArray& profilesIni, const QString& baseDir);

// The first of StartProfilePaths; empty when the text names no profile.
QString DefaultProfilePath(const QByteArray& profilesIni, const QString& baseDir);

// The JSON inside a "mozLz40" file, or nothing when the file is not one or is damaged.
std::optional<QByteArray> DecodeMozLz4(const QByteArray& file);

// The decoded session file at path, or nothing when it is missing, too large or damaged.
std::optional<QByteArray> ReadSessionFile(const QString& path);

// The address that a window's selected tab shows when that tab's title is pageTitle; empty when
// no window matches or the JSON is not a session.
QString SelectedTabUrl(const QByteArray& sessionJson, const QString& pageTitle);

// The title of the page shown by the selected tab of the window used last (Firefox's
// selectedWindow); empty when the JSON is not a session or that tab shows nothing.
QString MostRecentWindowTitle(const QByteArray& sessionJson);

// The freshest readable session of the current user's Firefox profiles, or nothing.
std::optional<QByteArray> CurrentSession();

// The profile folder of CurrentSession: the profile the user's Firefox used last; else the
// first profile some installation starts with. Empty when there is none.
QString CurrentProfile();

// SelectedTabUrl of CurrentSession; empty when anything is missing.
QString ShownPageUrl(const QString& pageTitle);

} // namespace FirefoxSession
