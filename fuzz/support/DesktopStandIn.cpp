// The desktop for fuzz targets: the path operations refer to it, but nothing a fuzz target
// runs may open a window, start a program or reach the network.
#include "Desktop.h"

#include <QUrl>

int Desktop::messageBox(QWidget*, const QString&, int, const QString&) {
    return 0;
}

QString Desktop::pickFolder(QWidget*, const QString&, const QString&) {
    return QString();
}

QString Desktop::pickOpenFile(QWidget*, const QString&, const QString&, const QString&) {
    return QString();
}

QString Desktop::clipboardText() {
    return QString();
}

bool Desktop::openUrl(const QUrl&) {
    return false;
}

bool Desktop::canOpenFiles() {
    return false;
}

Desktop& Desktop::instance() {
    static Desktop standIn;
    return standIn;
}

void Desktop::setInstance(Desktop*) {}
