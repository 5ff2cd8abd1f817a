#include "NamedLists.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace NamedLists {

namespace {

// Over AT-SPI a value is a number; a list's current text reaches the screen reader as the
// list's text, read-only, as a list without a name would tell it.
class NamedList : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit NamedList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(kind);
    }

    // The text: the current value, with no caret and no selection of its own.
    QString text(int start, int end) const override { return value().mid(start, end - start); }
    int characterCount() const override { return int(value().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return QString();
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
    QString value() const { return list()->currentText(); }
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
