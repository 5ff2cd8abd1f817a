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
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fontconfig/fontconfig.h>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace Startup {

namespace {

// What a later start says to the running copy: "show", then its launch tokens as NAME=value
// words; and the answer once the window is in front, or the refusal of a request cut short.
const QByteArray kShowRequest("show");
const QByteArray kShownAnswer("shown\n");
const QByteArray kRefusedAnswer("refused: the request is longer than any address\n");
// The address a later start was given travels percent-encoded, so it holds no blank.
const QByteArray kAddressWord("ADDRESS");
// A UTF-16 unit takes at most 3 bytes of UTF-8, each "%XX" when encoded.
constexpr int kMostEncodedBytesPerCharacter = 9;
// A copy of ours that holds the lock but is slow to answer (a busy machine, a window still
// starting) gets this long in all before a later start gives up on it.
constexpr int kRunningCopyPatienceMilliseconds = 10000;

// The longest request line a later start sends: every word at its longest, and the newline.
int MaxRequestBytes() {
    int size = kShowRequest.size() + 1 + kAddressWord.size() + 1 +
               kMostEncodedBytesPerCharacter * HandedIn::kMaxAddressLength;
    for (const char* name :
         {WindowActivation::kStartupIdVariable, WindowActivation::kActivationTokenVariable})
        size += 1 + int(qstrlen(name)) + 1 + WindowActivation::kMaxTokenSize;
    return size + 1;
}

// Says why a later start ends, where the person who started it from a terminal reads it.
void Say(const QString& text) {
    std::fputs(qPrintable(QLatin1String(AppVersion::Product) + QStringLiteral(": ") + text +
                          QLatin1Char('\n')),
               stderr);
    std::fflush(stderr);
}

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

// The process id of the live holder of the lock at `path` when it is a copy of this program,
// else 0: a copy that has let go, or another program, holds nothing of ours.
qint64 LiveCopyHoldingLock(const QString& path) {
    QLockFile lock(path);
    qint64 pid = 0;
    QString host, application;
    const bool ours = lock.getLockInfo(&pid, &host, &application) && pid > 0 &&
                      application == QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return ours && (::kill(pid_t(pid), 0) == 0 || errno == EPERM) ? pid : 0;
}

// Brings the window to the front for one request line, then downloads its address; false when
// the line is no request. The address is taken up from the event loop, after the answer has
// gone: a page refused at once opens a message box, which must not keep the later start
// waiting.
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
        QTimer::singleShot(
            0, &window, [&window, text = QString::fromUtf8(address)] { window.TakeAddress(text); });
    return true;
}

// A later start: asks the running copy to show its window and take the address. The exit code
// when this start ends here, or nothing when it should start its own window.
std::optional<int> AskRunningCopy(const QStringList& arguments) {
    const QString argument = AddressArgument(arguments);
    if (HandedIn::IsTooLong(argument))
        Say(HandedIn::LeftOutText(1, 0, 0));
    const QString lockPath = InstanceLockPath();
    const int patience =
        LiveCopyHoldingLock(lockPath) ? kRunningCopyPatienceMilliseconds : kShowRequestMilliseconds;
    switch (ShowRunningCopy(InstanceSocketPath(), HandedIn::Address(argument), patience)) {
    case Answer::Shown:
        return 0;
    case Answer::Refused:
        Say(QString::fromUtf8(kRefusedAnswer.trimmed()));
        return 1;
    case Answer::None:
        break;
    }
    // A second window would take the addresses and the socket from the one the user has.
    if (const qint64 running = LiveCopyHoldingLock(lockPath)) {
        Say(QStringLiteral("the running copy (process %1) does not answer, so no second copy "
                           "is started.")
                .arg(running));
        return 1;
    }
    return std::nullopt;
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
    return parser.positionalArguments().value(0);
}

Answer ShowRunningCopy(const QString& socketPath, const QString& address, int timeoutMs) {
    if (socketPath.isEmpty())
        return Answer::None;
    NetworkServices* network = NetworkModule::Services();
    const QByteArray answer =
        network ? network->SendLine(socketPath, ShowRequest(address), timeoutMs) : QByteArray();
    if (answer == kShownAnswer)
        return Answer::Shown;
    return answer == kRefusedAnswer ? Answer::Refused : Answer::None;
}

void ListenForLaterStarts(frmMain& window, const QString& socketPath) {
    if (socketPath.isEmpty())
        return;
    NetworkServices* network = NetworkModule::Services();
    if (!network)
        return;
    // A line that reached the limit without its newline is refused whole, never used cut
    // short; anything else but the request is dropped unanswered.
    network->ListenForLines(socketPath, MaxRequestBytes(), &window,
                            [&window](const QByteArray& line) {
                                if (!line.endsWith('\n'))
                                    return kRefusedAnswer;
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
            if (const std::optional<int> exitCode = AskRunningCopy(app.arguments()))
                return *exitCode;
        }
        // The holder is no copy of ours, or has ended meanwhile: start, and hold the lock if it
        // has been let go.
        instanceLock = AcquireInstanceLock(InstanceLockPath());
    }
    // Only the holder of the lock answers later starts: a socket is never taken from a copy
    // that may still be answering on it.
    const bool answersLaterStarts = instanceLock && instanceLock->isLocked();

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
    QObject::connect(&window, &frmMain::FirstPaintDone, &window,
                     [&window, address, answersLaterStarts] {
                         if (answersLaterStarts)
                             ListenForLaterStarts(window, InstanceSocketPath());
                         if (!address.isEmpty())
                             window.TakeAddress(address);
                     });
    window.show();
    return app.exec();
}

} // namespace Startup
