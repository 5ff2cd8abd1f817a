// A logic file that reaches for a widget; its build must stop (see CMakeLists.txt).
#include <QtWidgets/QWidget>

int layerBreach() {
    return sizeof(QWidget);
}
