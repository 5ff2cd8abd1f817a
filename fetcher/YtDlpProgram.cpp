#include "YtDlpProgram.h"

#include "ChildProcess.h"
#include "FirefoxSession.h"
#include "RegEdit.h"
#include "YtDlpOutput.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <csignal>
#include <optional>
#include <unistd.h>

namespace YtDlpProgram {
namespace {

// yt-dlp starts in well under a second; one that takes longer to say its version is broken.
constexpr int kVersionWaitMs = 10000;

std::optional<QString>& KeptVersion() {
    static std::optional<QString> version;
    return version;
}

bool IsExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isAbsolute() && info.isFile() && info.isExecutable();
}

// The first line of what --version printed, when it is a plain version text.
QString VersionIn(const QByteArray& output) {
    static const QRegularExpression plain(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z._+-]{0,63}$"));
    const QString first = QString::fromUtf8(output.left(256)).section(QLatin1Char('\n'), 0, 0);
    return plain.match(first.trimmed()).hasMatch() ? first.trimmed() : QString();
}

QString AskVersion(const QString& program) {
    QProcess process;
    const pid_t parent = ::getpid();
    process.setChildProcessModifier(
        [parent] { ChildProcess::LeadOwnGroupAndDieWithParent(parent, SIGKILL); });
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("--version")});
    if (!process.waitForStarted())
        return QString();
    const bool finished = process.waitForFinished(kVersionWaitMs);
    ChildProcess::KillGroup(process.processId());
    if (!finished) {
        process.waitForFinished(1000);
        return QString();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QString();
    return VersionIn(process.readAllStandardOutput());
}

} // namespace

QString Path() {
    const QString setting = SettingsStore().LoadKey(kProgramSetting, kProgramDefault).trimmed();
    if (setting.contains(QLatin1Char('/')))
        return IsExecutableFile(setting) ? setting : QString();
    const QString found = QStandardPaths::findExecutable(setting);
    return IsExecutableFile(found) ? found : QString();
}

QString Version() {
    if (!KeptVersion()) {
        const QString program = Path();
        KeptVersion() = program.isEmpty() ? QString() : AskVersion(program);
    }
    return *KeptVersion();
}

void ForgetVersion() {
    KeptVersion().reset();
}

QString UpdateHint() {
    return YtDlpOutput::UpdateHint(Version(), QDate::currentDate());
}

QString CheckedProfile(const QString& profile) {
    if (profile.isEmpty() || !QDir::isAbsolutePath(profile))
        return QString();
    const QFileInfo folder(profile);
    const QString canonical = folder.canonicalFilePath();
    if (!folder.isDir() || canonical.isEmpty() || folder.ownerId() != ::getuid())
        return QString();
    for (const QChar c : canonical)
        if (!c.isPrint() || c == QLatin1Char(':'))
            return QString();
    const QFileInfo cookies(QDir(canonical).filePath(QStringLiteral("cookies.sqlite")));
    if (!cookies.isFile() || cookies.isSymLink())
        return QString();
    return canonical;
}

QStringList CookieArguments() {
    const QString setting =
        SettingsStore().LoadKey(kBrowserCookiesSetting, kBrowserCookiesDefault).trimmed();
    if (setting.compare(QLatin1String("True"), Qt::CaseInsensitive) != 0)
        return {};
    const QString profile = CheckedProfile(FirefoxSession::CurrentProfile());
    if (profile.isEmpty())
        return {};
    return {QStringLiteral("--cookies-from-browser"), QStringLiteral("firefox:") + profile};
}

} // namespace YtDlpProgram
