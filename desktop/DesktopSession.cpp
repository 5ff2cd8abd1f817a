#include "DesktopSession.h"

#include "DBusDesktopSession.h"

#include <QCoreApplication>

namespace {
DesktopSession* overrideSession = nullptr;
} // namespace

DesktopSession& DesktopSession::Instance() {
    if (overrideSession)
        return *overrideSession;
    // Made with the first job, so the bus is not touched while the program starts; it goes with
    // the application object, before the bus connections do.
    static DBusDesktopSession* real = new DBusDesktopSession(
        QDBusConnection::sessionBus(), QDBusConnection::systemBus(), QCoreApplication::instance());
    return *real;
}

void DesktopSession::SetInstance(DesktopSession* session) {
    overrideSession = session;
}
