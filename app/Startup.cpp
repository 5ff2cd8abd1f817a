#include "Startup.h"

#include "AppVersion.h"
#include "frmMain.h"
#include "modIcon.h"

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
    return folder + QLatin1Char('/') + QLatin1String(AppVersion::Organisation) + QLatin1Char('-') +
           QLatin1String(AppVersion::Product) + QStringLiteral(".lock");
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
    QCoreApplication::setOrganizationName(QLatin1String(AppVersion::Organisation));
    QCoreApplication::setApplicationName(QLatin1String(AppVersion::Product));
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
    // The pictures are drawn on a second thread while the window's controls are made.
    std::thread pictureDrawing(&modIcon::DrawPictures);
    frmMain window;
    pictureDrawing.join();
    window.show();
    return app.exec();
}

} // namespace Startup
