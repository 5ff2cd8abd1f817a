#pragma once
#include <QString>

class QWidget;

// The open-file dialog. `filter` is "description|pattern" (for example
// "Flash live video (*.FLV*)|*.flv*"), more pairs may follow, each after another "|", and a
// pattern may list several masks separated by ";". Returns the chosen file's full path, or
// empty text when the user cancels.
class ZebCommonDialog {
public:
    static QString ShowOpen(QWidget* owner, const QString& filter, const QString& title,
                            const QString& startFolder);
    // The filter turned into Qt's form: "description (pattern)", pairs joined by ";;".
    static QString ToQtFilter(const QString& filter);
};
