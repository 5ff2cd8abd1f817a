#pragma once
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>

class frmMain;

// The program's start-up: the command line, one running copy per user, the application's
// names, then the main window until it closes.
namespace Startup {

// The lock that marks the running copy, in the user's runtime folder when it is theirs alone
// (mode 0700), else in a folder of that kind in their cache; empty when there is neither.
QString InstanceLockPath();

// Where the running copy listens for later starts: beside the lock.
QString InstanceSocketPath();

// Takes the running-copy lock at `path`. Returns nullptr when another live copy holds it; a
// lock left behind by a copy that died, or one that cannot be read, is taken over. When no
// lock file can be made there, the returned lock is not locked and the program runs without
// the check.
std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path);

// Names the application (organisation, name, version) before any setting is touched.
void NameApplication();

// Answers --help and --version: prints and returns true when the program should end at once.
// Other arguments are left for Qt (-platform, -display...).
bool AnswerCommandLine(const QStringList& arguments);

// The video page address given on the command line ("vantelo URL", as the desktop entry
// passes it), as given (the window judges it as any text handed in), or empty.
QString AddressArgument(const QStringList& arguments);

// How the running copy took a later start's request.
enum class Answer {
    Shown,   // its window is in front; the address is downloaded or waits its turn
    Refused, // the request was longer than any a later start sends
    None,    // nothing answered within the time
};

// A copy that is still starting (the lock comes before the window) gets this long to answer.
inline constexpr int kShowRequestMilliseconds = 3000;

// Asks the running copy to bring its window to the front and to download `address` when one
// is given.
Answer ShowRunningCopy(const QString& socketPath, const QString& address = QString(),
                       int timeoutMs = kShowRequestMilliseconds);

// Lets later starts bring `window` to the front (raised and activated), with the address they
// were given, for as long as it lives. Each is answered before its address is taken up.
void ListenForLaterStarts(frmMain& window, const QString& socketPath);

// The whole program: ends at once, without a window of its own, while another copy of it
// holds the lock; says so when that copy does not answer.
int Main(int argc, char* argv[]);

} // namespace Startup
