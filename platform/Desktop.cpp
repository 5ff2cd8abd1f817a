#include "Desktop.h"

#include "MsgBoxStyle.h"
#include "X11Clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

namespace {
Desktop* overrideDesktop = nullptr;

QMessageBox::Icon iconFor(int style) {
    switch (style & 0xF0) {
    case vbCritical:
        return QMessageBox::Critical;
    case vbQuestion:
        return QMessageBox::Question;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}
} // namespace

int Desktop::messageBox(QWidget* owner, const QString& text, int style, const QString& title) {
    QMessageBox box(iconFor(style), title, text, QMessageBox::NoButton, owner);
    const bool yesNo = (style & 0x0F) == vbYesNo;
    if (yesNo) {
        box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
    } else {
        box.addButton(QMessageBox::Ok);
    }
    const int answer = box.exec();
    if (!yesNo)
        return vbOK;
    return answer == QMessageBox::Yes ? vbYes : vbNo;
}

QString Desktop::pickFolder(QWidget* owner, const QString& title, const QString& initialFolder) {
    // Qt's own dialog: folders only, with a "Create New Folder" button.
    return QFileDialog::getExistingDirectory(
        owner, title, initialFolder, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

void Desktop::prepareOpenFileDialog(QFileDialog& dialog, const QString& title,
                                    const QString& startFolder, const QString& nameFilter) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The descriptions carry their own pattern text; don't repeat Qt's after them.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDirectory(startFolder);
    dialog.setNameFilter(nameFilter);
    // Hidden files too: a title that begins with a dot gives a download a hidden name.
    dialog.setFilter((dialog.filter() & ~QDir::CaseSensitive) | QDir::Hidden);
}

QString Desktop::pickOpenFile(QWidget* owner, const QString& title, const QString& startFolder,
                              const QString& nameFilter) {
    QFileDialog dialog(owner);
    prepareOpenFileDialog(dialog, title, startFolder, nameFilter);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

QString Desktop::clipboardText() {
    using namespace std::chrono_literals;
    // On X11 over a connection of our own, so this may run on any thread.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return X11Clipboard::Text(QByteArray(), 2000ms);
    QString text;
    if (!qApp)
        return text;
    auto read = [&text] {
        if (const QClipboard* clipboard = QGuiApplication::clipboard())
            text = clipboard->text();
    };
    // Elsewhere Qt's clipboard belongs to the window's thread.
    if (QThread::currentThread() == qApp->thread())
        read();
    else
        QMetaObject::invokeMethod(qApp, read, Qt::BlockingQueuedConnection);
    return text;
}

bool Desktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

Desktop& Desktop::instance() {
    static Desktop real;
    return overrideDesktop ? *overrideDesktop : real;
}

void Desktop::setInstance(Desktop* desktop) {
    overrideDesktop = desktop;
}
