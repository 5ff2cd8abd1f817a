#include "ZebCommonDialog.h"

#include "Desktop.h"

QString ZebCommonDialog::ToQtFilter(const QString& filter) {
    const int bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    const QString description = filter.left(bar);
    const QString patterns = filter.mid(bar + 1).replace(QLatin1Char(';'), QLatin1Char(' '));
    return description + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

QString ZebCommonDialog::ShowOpen(QWidget* owner, const QString& filter, const QString& title,
                                  const QString& startFolder) {
    return Desktop::instance().pickOpenFile(owner, title, startFolder, ToQtFilter(filter));
}
