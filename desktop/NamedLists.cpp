#include "NamedLists.h"

#include <QAbstractItemView>
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
    // The list of choices, as Qt's own interface has it: screen readers hear the chosen one
    // from its selection.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == list()->view() ? 0 : -1;
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

void Name(QWidget* control, const QString& name) {
    Install();
    control->setAccessibleName(name);
    auto* list = qobject_cast<QComboBox*>(control);
    if (!list)
        return;
    // Its pop-up list is heard by the same name.
    list->view()->setAccessibleName(name);
    // The interface made for the list while it had no name is Qt's own: it goes, and the next
    // question makes a named one.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(list);
    if (made && !dynamic_cast<NamedList*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace NamedLists
