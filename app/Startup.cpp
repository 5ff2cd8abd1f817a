#include "Startup.h"

#include "AppVersion.h"
#include "GroupBoxFrame.h"
#include "HandedIn.h"
#include "NetworkModule.h"
#include "WindowActivation.h"
#include "WindowFonts.h"
#include "frmMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace Startup {

namespace {

// What a later start says to the running copy: "show", then its launch tokens as NAME=value
// words; and the answer once the window is in front.
const QByteArray kShowRequest("show");
const QByteArray kShownAnswer("shown\n");
// The address a later start was given travels percent-encoded, so it holds no blank.
const QByteArray kAddressWord("ADDRESS");
constexpr int kMaxRequestSize = 4 * HandedIn::kMaxAddressLength;
// The running copy may still be starting (the lock comes before the window): a later start
// tries for this long before it gives up.
constexpr int kShowRequestMilliseconds = 3000;

// "Morvane-Vantelo": the lock and the socket of the running copy are named after it.
QString InstanceFileStem() {
    return QLatin1String(AppVersion::Organisation) + QLatin1Char('-') +
           QLatin1String(AppVersion::Product);
}

// The lock and the socket decide which copy gets the addresses handed in: they live only in a
// folder that is the user's alone.
bool IsPrivateFolder(const QString& folder) {
    struct stat status {};
    return !folder.isEmpty() && ::stat(QFile::encodeName(folder).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 07777) == S_IRWXU;
}

// The session's runtime folder; without one (su, sudo -u, some ssh logins) a folder in the
// user's cache, never the temporary folder all users share. Empty when neither is private.
QString RuntimeFolder() {
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(session))
        return session;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return QString();
    const QString own = cache + QLatin1Char('/') + InstanceFileStem();
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(own).constData(), S_IRWXU);
    return IsPrivateFolder(own) ? own : QString();
}

// The path of one of the running copy's files, or empty without a private folder.
QString InstanceFile(const QString& suffix) {
    const QString folder = RuntimeFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + InstanceFileStem() + suffix;
}

// Whether the lock at `path` names its holder; what cannot be read was left by no copy of ours.
bool IsReadableLock(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, application;
    return lock.getLockInfo(&pid, &host, &application);
}

// Clears what stands where the lock belongs but holds no lock: a damaged file, an empty folder.
// A file some live process still holds, and anything with contents, stays.
void RemoveUnreadableLock(QLockFile& lock, const QString& path) {
    if (IsReadableLock(lock))
        return;
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
        QDir().rmdir(path);
    else
        lock.removeStaleLockFile();
}

// The request with the launch tokens that the desktop gave this start, and its address.
QByteArray ShowRequest(const QString& address) {
    QByteArray request = kShowRequest;
    if (!address.isEmpty())
        request += ' ' + kAddressWord + '=' + address.toUtf8().toPercentEncoding();
    for (const char* name :
         {WindowActivation::kStartupIdVariable, WindowActivation::kActivationTokenVariable}) {
        const QByteArray token = qgetenv(name);
        if (WindowActivation::IsLaunchToken(token))
            request += ' ' + QByteArray(name) + '=' + token;
    }
    return request + '\n';
}

// Brings the window to the front for one request line, then downloads its address; false when
// the line is no request.
bool AnswerRequest(frmMain& window, const QByteArray& line) {
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (words.first() != kShowRequest)
        return false;
    QByteArray startupId, activationToken, address;
    for (const QByteArray& word : words.mid(1)) {
        const int equals = word.indexOf('=');
        const QByteArray name = word.left(equals), value = word.mid(equals + 1);
        if (name == WindowActivation::kStartupIdVariable)
            startupId = value;
        else if (name == WindowActivation::kActivationTokenVariable)
            activationToken = value;
        else if (name == kAddressWord)
            address = QByteArray::fromPercentEncoding(value);
    }
    WindowActivation::BringToFront(window, startupId, activationToken);
    if (!address.isEmpty())
        window.TakeAddress(QString::fromUtf8(address));
    return true;
}

} // namespace

QString InstanceLockPath() {
    return InstanceFile(QStringLiteral(".lock"));
}

QString InstanceSocketPath() {
    return InstanceFile(QStringLiteral(".socket"));
}

std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path) {
    auto lock = std::make_unique<QLockFile>(path);
    if (path.isEmpty())
        return lock;
    // The program runs for hours: only an owner that is no longer alive makes the lock stale.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0) || lock->error() != QLockFile::LockFailedError)
        // A folder that cannot take the lock file must not keep the program from starting.
        return lock;
    if (IsReadableLock(*lock))
        return nullptr;
    RemoveUnreadableLock(*lock, path);
    if (lock->tryLock(0) || lock->error() != QLockFile::LockFailedError)
        return lock;
    // Still there: a live process holds the file, or a folder with contents stands in the way.
    return QFileInfo(path).isDir() ? std::move(lock) : nullptr;
}

void NameApplication() {
    QCoreApplication::setOrganizationName(QLatin1String(AppVersion::Organisation));
    QCoreApplication::setApplicationName(QLatin1String(AppVersion::Product));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3.%4")
                                                .arg(AppVersion::Major)
                                                .arg(AppVersion::Minor)
                                                .arg(AppVersion::Build)
                                                .arg(AppVersion::Revision));
}

bool AnswerCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Downloads videos from their page address and converts media files."));
    // Qt's own help option would also offer --help-all, which lists Qt's options.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("address"),
                                 QStringLiteral("A video page address to download."),
                                 QStringLiteral("[address]"));
    // Unknown options are Qt's own (-platform, -display...): QApplication takes them later.
    parser.parse(arguments);
    QString text;
    if (parser.isSet(help))
        // There is no application object yet to name the program in the usage line.
        text = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                         QFileInfo(arguments.value(0)).fileName());
    else if (parser.isSet(version))
        text = QCoreApplication::applicationName() + QLatin1Char(' ') +
               QCoreApplication::applicationVersion() + QLatin1Char('\n');
    else
        return false;
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    return true;
}

QString AddressArgument(const QStringList& arguments) {
    QCommandLineParser parser;
    // Qt's own options that take a value: their value is no address.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name : {"platform",
                             "platformpluginpath",
                             "platformtheme",
                             "plugin",
                             "display",
                             "geometry",
                             "qwindowgeometry",
                             "qwindowtitle",
                             "qwindowicon",
                             "title",
                             "name",
                             "style",
                             "stylesheet",
                             "session",
                             "font",
                             "fn",
                             "bg",
                             "background",
                             "fg",
                             "foreground",
                             "btn",
                             "button",
                             "visual",
                             "ncols",
                             "cmap",
                             "inputstyle",
                             "im"})
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("v")));
    parser.parse(arguments);
    return HandedIn::Address(parser.positionalArguments().value(0));
}

bool ShowRunningCopy(const QString& socketPath, const QString& address) {
    if (socketPath.isEmpty())
        return false;
    NetworkServices* network = NetworkModule::Services();
    return network && network->SendLine(socketPath, ShowRequest(address),
                                        kShowRequestMilliseconds) == kShownAnswer;
}

void ListenForLaterStarts(frmMain& window, const QString& socketPath) {
    if (socketPath.isEmpty())
        return;
    NetworkServices* network = NetworkModule::Services();
    if (!network)
        return;
    // Anything but the one short request is dropped unanswered.
    network->ListenForLines(socketPath, kMaxRequestSize, &window,
                            [&window](const QByteArray& line) {
                                return AnswerRequest(window, line) ? kShownAnswer : QByteArray();
                            });
}

int Main(int argc, char* argv[]) {
    NameApplication();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (AnswerCommandLine(arguments))
        return 0;
    // Checked before the display is opened: a second copy only asks the running one to show its
    // window, and ends.
    std::unique_ptr<QLockFile> instanceLock = AcquireInstanceLock(InstanceLockPath());
    if (!instanceLock) {
        {
            QCoreApplication app(argc, argv);
            if (ShowRunningCopy(InstanceSocketPath(), AddressArgument(app.arguments())))
                return 0;
        }
        // The holder never answered: it is no copy of ours, or one that hangs. Start anyway, and
        // hold the lock if it has been let go meanwhile.
        instanceLock = AcquireInstanceLock(InstanceLockPath());
    }

    // Reading the font configuration and caches is the longest single step before the first
    // window can be drawn; it runs on a second thread while the display connection is made.
    std::thread fontWarmUp(&FcInit);
    // Ties the windows to the menu entry (Wayland's application id, the icon in the panel).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.morvane.Vantelo"));
    QApplication app(argc, argv);
    fontWarmUp.join();
    GroupBoxFrame::Preload();
    // A line edit lays out its text in the application's font before it takes its own: with the
    // window's font as the application's meanwhile, no font is loaded that nothing shows.
    const QFont desktopFont = QGuiApplication::font();
    QGuiApplication::setFont(WindowFonts::MsSansSerif(8.25));
    frmMain window;
    QGuiApplication::setFont(desktopFont);
    // The socket comes with Qt's network library, after the first paint: a later start keeps
    // trying until then.
    // The address of "vantelo URL" is downloaded then too: the fetcher needs the network.
    const QString address = AddressArgument(app.arguments());
    QObject::connect(&window, &frmMain::FirstPaintDone, &window, [&window, address] {
        ListenForLaterStarts(window, InstanceSocketPath());
        if (!address.isEmpty())
            window.TakeAddress(address);
    });
    window.show();
    return app.exec();
}

} // namespace Startup
