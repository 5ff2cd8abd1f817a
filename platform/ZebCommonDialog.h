#pragma once
#include <QString>

class QWidget;

// The open-file dialog. `filter` is "description|pattern" (for example
// "Flash live video (*.FLV*)|*.flv*"). Returns the chosen file's full path, or empty text.
class ZebCommonDialog {
public:
    static QString ShowOpen(QWidget* owner, const QString& filter, const QString& title,
                            const QString& startFolder);
    // "description|pattern" turned into Qt's "description (pattern)" form.
    static QString ToQtFilter(const QString& filter);
};
