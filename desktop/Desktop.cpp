#include "Desktop.h"

#include "MsgBoxStyle.h"
#include "X11Clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QThread>
#include <QTreeView>
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
// The name filter with every letter of its patterns in both cases ("*.[fF][lL][vV]"): the
// desktop's pickers compare patterns case-sensitively, and the names these filters are made for
// come in either case. Qt's own dialog reads the same patterns.
QString caseBlindPatterns(const QString& nameFilter) {
    QStringList filters = nameFilter.split(QStringLiteral(";;"));
    for (QString& filter : filters) {
        const int open = filter.lastIndexOf(QLatin1Char('('));
        if (open < 0 || !filter.endsWith(QLatin1Char(')')))
            continue;
        QString patterns;
        for (const QChar c : filter.mid(open + 1, filter.size() - open - 2)) {
            if (c.isLetter() && c.toLower() != c.toUpper())
                patterns += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
            else
                patterns += c;
        }
        filter = filter.left(open + 1) + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

// Whether the type chosen in the dialog ("All files (*)") takes every name: its patterns are "*"
// alone. The dialog names the type without its patterns when it hides them.
bool takesEveryName(const QFileDialog& dialog) {
    const QString chosen = dialog.selectedNameFilter();
    QString filter = chosen;
    for (const QString& known : dialog.nameFilters())
        if (known == chosen || known.startsWith(chosen + QLatin1String(" (")))
            filter = known;
    const int open = filter.lastIndexOf(QLatin1Char('('));
    const QString patterns =
        open < 0 ? filter : filter.mid(open + 1, filter.size() - open - 2).trimmed();
    return patterns == QLatin1String("*");
}

// Hides the .part files of downloads that are still running or broke off from a type that takes
// every name ("All files"); a type whose own patterns name them still lists them. Qt's dialog
// alone shows it: the desktop's own picker, where there is one, is left as it is.
class PartFilesHidden : public QSortFilterProxyModel {
public:
    explicit PartFilesHidden(QFileDialog& dialog)
        : QSortFilterProxyModel(&dialog), dialog_(dialog) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, this,
                         [this] { invalidateFilter(); });
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        const QModelIndex index = sourceModel()->index(row, 0, parent);
        if (!files || files->isDir(index) ||
            !files->fileName(index).endsWith(QLatin1String(".part"), Qt::CaseInsensitive))
            return true;
        return !takesEveryName(dialog_);
    }

private:
    const QFileDialog& dialog_;
};

// Qt's dialog sizes its detail columns for sample texts ("128.88 GB") without the cells'
// margins, which cuts sizes, types and dates ("11....MiB"): they take what they show, and the
// name takes the rest. Its list view has one column and nothing to do.
void columnsFitTheirText(QFileDialog& dialog) {
    auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!details)
        return; // the desktop's own picker
    QHeaderView* header = details->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
}

// A box that comes while the user works in another program must not take the keyboard from
// it. Window managers activate a modal box whatever it asks for, so it waits: the window asks
// for attention on the task bar, and the box shows when the user comes back to the program
// (or the window goes away). Meanwhile events run, as they do while a box is open.
void waitForTheUser(QMessageBox& box, QWidget* owner) {
    if (QGuiApplication::applicationState() == Qt::ApplicationActive || !owner ||
        !owner->window()->isVisible())
        return;
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    QWidget* window = owner->window();
    QApplication::alert(window);
    QEventLoop untilBack;
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &untilBack,
                     [&untilBack](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive)
                             untilBack.quit();
                     });
    QObject::connect(window, &QObject::destroyed, &untilBack, &QEventLoop::quit);
    untilBack.exec();
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
    waitForTheUser(box, owner);
    const int answer = box.exec();
    if (!yesNo)
        return vbOK;
    return answer == QMessageBox::Yes ? vbYes : vbNo;
}

QString Desktop::pickFolder(QWidget* owner, const QString& title, const QString& initialFolder) {
    // The desktop's own picker (its bookmarks and recent places), else Qt's: folders only, with
    // a "Create New Folder" button.
    return QFileDialog::getExistingDirectory(owner, title, initialFolder,
                                             QFileDialog::ShowDirsOnly);
}

void Desktop::prepareOpenFileDialog(QFileDialog& dialog, const QString& title,
                                    const QString& startFolder, const QString& nameFilter) {
    // The descriptions carry their own pattern text; don't repeat Qt's after them.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDirectory(startFolder);
    dialog.setNameFilter(caseBlindPatterns(nameFilter));
    // Hidden files too: downloads of older versions could take a hidden name from a title.
    dialog.setFilter((dialog.filter() & ~QDir::CaseSensitive) | QDir::Hidden);
    // Takes effect only where Qt's own dialog is used; it does not turn the desktop's off.
    dialog.setProxyModel(new PartFilesHidden(dialog));
    // After the proxy, which gives the views their columns anew.
    columnsFitTheirText(dialog);
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

bool Desktop::canOpenFiles() {
    return !QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty();
}

Desktop& Desktop::instance() {
    static Desktop real;
    return overrideDesktop ? *overrideDesktop : real;
}

void Desktop::setInstance(Desktop* desktop) {
    overrideDesktop = desktop;
}
