#include "Startup.h"

#include "AppVersion.h"
#include "frmMain.h"

#include <QApplication>
#include <QDir>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <fontconfig/fontconfig.h>
#include <thread>

namespace Startup {

QString InstanceLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/Morvane-Vantelo.lock");
}

std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path) {
    auto lock = std::make_unique<QLockFile>(path);
    // The program runs for hours: only an owner that is no longer alive makes the lock stale.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0) && lock->error() == QLockFile::LockFailedError)
        return nullptr;
    // A folder that cannot take the lock file must not keep the program from starting.
    return lock;
}

void NameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Morvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantelo"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3.%4")
                                                .arg(AppVersion::Major)
                                                .arg(AppVersion::Minor)
                                                .arg(AppVersion::Build)
                                                .arg(AppVersion::Revision));
}

int Main(int argc, char* argv[]) {
    NameApplication();
    // Checked before the display is opened, so a second copy ends without a trace.
    const std::unique_ptr<QLockFile> instanceLock = AcquireInstanceLock(InstanceLockPath());
    if (!instanceLock)
        return 0;

    // Reading the font configuration and caches is the longest single step before the first
    // window can be drawn; it runs on a second thread while the display connection is made.
    std::thread fontWarmUp(&FcInit);
    QApplication app(argc, argv);
    fontWarmUp.join();
    // Honours http_proxy and the desktop's proxy settings.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    frmMain window;
    window.show();
    return app.exec();
}

} // namespace Startup
