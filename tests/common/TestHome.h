#pragma once
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

// A temporary home for one test program: HOME, the XDG folders and the settings path all point
// into a fresh folder, so tests read and write real files without touching the user's own.
class TestHome {
public:
    TestHome() {
        const QString home = dir_.path();
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").toUtf8());
        qputenv("XDG_CACHE_HOME", (home + "/.cache").toUtf8());
        qputenv("XDG_RUNTIME_DIR", (home + "/runtime").toUtf8());
        qputenv("XDG_DOCUMENTS_DIR", (home + "/Documents").toUtf8());
        QDir(home).mkpath("runtime");
        QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        QDir(home).mkpath("Documents");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home + "/.config");
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home + "/.config");
    }
    QString path() const { return dir_.path(); }
    // The settings file that the program's store reads and writes.
    QString settingsFile() const { return dir_.path() + "/.config/Morvane/Vantelo.conf"; }

private:
    QTemporaryDir dir_;
};
