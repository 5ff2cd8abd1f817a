#include <QApplication>
#include <QWidget>

// The reference: the least a Qt program does to show a window of the same size.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.resize(711, 543);
    window.show();
    return app.exec();
}
