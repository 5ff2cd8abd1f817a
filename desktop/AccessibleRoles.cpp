#include "AccessibleRoles.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace AccessibleRoles {

namespace {

const char* const kRoleProperty = "vanteloAccessibleRole";

class WidgetWithRole : public QAccessibleWidget {
public:
    WidgetWithRole(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
};

QAccessibleInterface* WidgetWithRoleFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new WidgetWithRole(widget, QAccessible::Role(role.toInt()));
}

} // namespace

void Set(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(&WidgetWithRoleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kRoleProperty, int(role));
    // An interface made before the role was set is Qt's own: it goes, and the next question
    // makes one with the role.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
    if (made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace AccessibleRoles
