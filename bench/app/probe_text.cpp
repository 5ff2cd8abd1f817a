#include <QApplication>
#include <QLabel>

// A second reference: the bare window with one line of text in the desktop's default font, to
// tell the cost of text itself from the rest of a window.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Insert a valid youtube link then click to download"));
    window.setWindowTitle(QStringLiteral("Bare"));
    window.resize(711, 543);
    window.show();
    return app.exec();
}
