#pragma once
#include "SavedSettings.h"

#include <QString>
#include <QStringList>

// Which yt-dlp runs, what version it is, and the arguments that the user's settings add. yt-dlp
// is optional: without it every function here says so with empty text, and nothing else
// changes. The program never updates yt-dlp itself; it only says how.
namespace YtDlpProgram {

// The settings, text values of the settings store: the program to run ("yt-dlp", found on the
// PATH, or an absolute path), and whether yt-dlp reads the cookies of the user's Firefox
// profile ("True" or "False", off by default).
inline const QString kProgramSetting =
    SavedSettings::StoredName(SavedSettings::FetchSetting::YtDlpProgram);
inline const QString kProgramDefault =
    SavedSettings::FixedDefault(SavedSettings::FetchSetting::YtDlpProgram);
inline const QString kBrowserCookiesSetting =
    SavedSettings::StoredName(SavedSettings::FetchSetting::YtDlpBrowserCookies);
inline const QString kBrowserCookiesDefault =
    SavedSettings::FixedDefault(SavedSettings::FetchSetting::YtDlpBrowserCookies);

// The program file the setting names, when it is an executable file; empty otherwise.
QString Path();

// The version that `Path() --version` printed, asked the first time and kept for the run; empty
// when there is no yt-dlp or it did not answer in a few seconds. The first call waits for it.
QString Version();
// Forgets the kept version, so that the next Version() asks again.
void ForgetVersion();

// The hint to update an old yt-dlp (see YtDlpOutput::UpdateHint), for today; empty when there is
// none to give.
QString UpdateHint();

// The profile folder as yt-dlp may be given it: an absolute folder of the user's that holds
// Firefox's cookies.sqlite, with no character that yt-dlp would read as more than a path (':'
// separates a container) and nothing that is no printable text. Its canonical path; empty when
// it does not pass.
QString CheckedProfile(const QString& profile);

// "--cookies-from-browser firefox:PROFILE" for the Firefox profile that the page pickup finds,
// when the setting is on and the profile passes CheckedProfile; empty otherwise.
QStringList CookieArguments();

} // namespace YtDlpProgram
