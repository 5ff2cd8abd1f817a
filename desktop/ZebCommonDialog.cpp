#include "ZebCommonDialog.h"

#include "Desktop.h"

#include <QStringList>

QString ZebCommonDialog::ToQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    // Text without a "|" is taken to be in Qt's form already.
    if (parts.size() < 2)
        return filter;
    QStringList qtFilters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList masks = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QStringList trimmed;
        for (const QString& mask : masks)
            if (!mask.trimmed().isEmpty())
                trimmed << mask.trimmed();
        if (trimmed.isEmpty())
            trimmed << QStringLiteral("*");
        const QString description = parts.at(i).trimmed();
        qtFilters << description + QStringLiteral(" (") + trimmed.join(QLatin1Char(' ')) +
                         QLatin1Char(')');
    }
    return qtFilters.join(QStringLiteral(";;"));
}

QString ZebCommonDialog::ShowOpen(QWidget* owner, const QString& filter, const QString& title,
                                  const QString& startFolder) {
    return Desktop::instance().pickOpenFile(owner, title, startFolder, ToQtFilter(filter));
}
