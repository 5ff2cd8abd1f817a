#include "modBrowse.h"

#include "Desktop.h"

QString BrowseFolder(QWidget* owner, const QString& title, int rootId, const QString& rootPath,
                     const QString& initialSelection, bool newStyle, bool includeFiles,
                     const QString& okText) {
    Q_UNUSED(rootId);
    Q_UNUSED(rootPath);
    Q_UNUSED(newStyle);
    Q_UNUSED(includeFiles);
    Q_UNUSED(okText);
    const QString shownTitle = title.isEmpty() ? QStringLiteral("Select A Directory") : title;
    return Desktop::instance().pickFolder(owner, shownTitle, initialSelection);
}
