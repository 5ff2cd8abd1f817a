#include "NamedLists.h"

#include <QAccessibleWidget>
#include <QComboBox>

namespace NamedLists {

namespace {

class NamedList : public QAccessibleWidget {
public:
    explicit NamedList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* NamedListFactory(const QString& className, QObject* object) {
    auto* list = qobject_cast<QComboBox*>(object);
    if (className != QLatin1String("QComboBox") || !list || list->accessibleName().isEmpty())
        return nullptr;
    return new NamedList(list);
}

} // namespace

void Install() {
    static const bool installed = [] {
        QAccessible::installFactory(&NamedListFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace NamedLists
