#pragma once
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

// The program's start-up: the command line, one running copy per user, the application's
// names, then the main window until it closes.
namespace Startup {

// The lock that marks the running copy, in the user's runtime folder.
QString InstanceLockPath();

// Where the running copy listens for later starts: beside the lock.
QString InstanceSocketPath();

// Takes the running-copy lock at `path`. Returns nullptr when another live copy holds it; a
// lock left behind by a copy that died is taken over. When no lock file can be made there, the
// returned lock is not locked and the program runs without the check.
std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path);

// Names the application (organisation, name, version) before any setting is touched.
void NameApplication();

// Answers --help and --version: prints and returns true when the program should end at once.
// Other arguments are left for Qt (-platform, -display...).
bool AnswerCommandLine(const QStringList& arguments);

// Asks the running copy to bring its window to the front; false when none answered.
bool ShowRunningCopy(const QString& socketPath);

// Lets later starts bring `window` to the front (raised and activated) for as long as it lives.
void ListenForLaterStarts(QWidget& window, const QString& socketPath);

// The whole program: ends at once, without a window of its own, when another copy runs.
int Main(int argc, char* argv[]);

} // namespace Startup
