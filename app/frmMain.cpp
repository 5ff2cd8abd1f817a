#include "frmMain.h"

#include "AppVersion.h"

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Vantelo %1.%2.%3")
                       .arg(AppVersion::Major)
                       .arg(AppVersion::Minor)
                       .arg(AppVersion::Revision));
}
