#include "SpcFolder.h"

#include <QStandardPaths>

namespace {
constexpr int kPersonalFolder = 5;
}

QString SpecialFolder(QWidget* owner, int folderId, int flags) {
    Q_UNUSED(owner);
    Q_UNUSED(flags);
    if (folderId != kPersonalFolder)
        return QString();
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}
