#include "NetworkModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace NetworkModule {

namespace {

QString& ChosenFolder() {
    static QString folder;
    return folder;
}

// Where the program finds the module: the installed place when the module is there
// (lib/<triplet>/vantelo beside bin), otherwise the program's own folder, as in the build tree.
QString DefaultFolder(const QString& applicationFolder) {
    const QString installed = QDir::cleanPath(
        applicationFolder + QStringLiteral("/" VANTELO_NETWORK_MODULE_FROM_PROGRAM));
    if (QFileInfo::exists(installed + QLatin1Char('/') + QLatin1String(kFileName)))
        return installed;
    return applicationFolder;
}

struct Loaded {
    NetworkServices* services = nullptr;
    QString error;
};

Loaded LoadNow() {
    const QString folder = ChosenFolder().isEmpty()
                               ? DefaultFolder(QCoreApplication::applicationDirPath())
                               : ChosenFolder();
    QLibrary library(folder + QLatin1Char('/') + QLatin1String(kFileName));
    using EntryPoint = NetworkServices* (*)();
    const auto entry = reinterpret_cast<EntryPoint>(library.resolve(kNetworkServicesEntryPoint));
    if (!entry) {
        // Said once here; every user of the network then reports its own failure.
        const QString error = library.errorString();
        qWarning("The network module could not be loaded: %s", qUtf8Printable(error));
        return {nullptr, error};
    }
    // Stays loaded to the end of the process, as a linked library would.
    return {entry(), QString()};
}

const Loaded& Once() {
    static const Loaded loaded = LoadNow();
    return loaded;
}

} // namespace

NetworkServices* Services() {
    return Once().services;
}

QString LoadError() {
    return Once().error;
}

void SetFolder(const QString& folder) {
    ChosenFolder() = folder;
}

} // namespace NetworkModule
