#pragma once
#include <QLockFile>
#include <QString>
#include <memory>

// The program's start-up: one running copy per user, the application's names, the proxy
// setting, then the main window until it closes.
namespace Startup {

// The lock that marks the running copy, in the user's runtime folder.
QString InstanceLockPath();

// Takes the running-copy lock at `path`. Returns nullptr when another live copy holds it; a
// lock left behind by a copy that died is taken over. When no lock file can be made there, the
// returned lock is not locked and the program runs without the check.
std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path);

// Names the application (organisation, name, version) before any setting is touched.
void NameApplication();

// The whole program: ends at once, without a window, when another copy runs.
int Main(int argc, char* argv[]);

} // namespace Startup
