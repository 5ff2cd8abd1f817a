#include "ChildProcess.h"
#include "DBusDesktopSession.h"
#include "Startup.h"

#include <QCoreApplication>

namespace {

// The desktop session the windows' jobs report to. It goes with the application object, before
// the bus connections do.
DesktopSession* MakeDesktopSession() {
    return new DBusDesktopSession(QDBusConnection::sessionBus(), QDBusConnection::systemBus(),
                                  QCoreApplication::instance());
}

} // namespace

int main(int argc, char* argv[]) {
    DesktopSession::SetMaker(MakeDesktopSession);
    ChildProcess::EndTrackedGroupsOnTermination();
    return Startup::Main(argc, argv);
}
