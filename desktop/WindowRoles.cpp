#include "WindowRoles.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace WindowRoles {

namespace {

const char* const kRoleProperty = "vanteloWindowRole";

class WindowWithRole : public QAccessibleWidget {
public:
    WindowWithRole(QWidget* window, QAccessible::Role role) : QAccessibleWidget(window, role) {}
};

QAccessibleInterface* WindowWithRoleFactory(const QString&, QObject* object) {
    auto* window = qobject_cast<QWidget*>(object);
    if (!window || !window->isWindow())
        return nullptr;
    const QVariant role = window->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new WindowWithRole(window, QAccessible::Role(role.toInt()));
}

} // namespace

void Set(QWidget* window, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(&WindowWithRoleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    window->setProperty(kRoleProperty, int(role));
    // An interface made before the role was set is Qt's own: it goes, and the next question
    // makes one with the role.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(window);
    if (made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace WindowRoles
