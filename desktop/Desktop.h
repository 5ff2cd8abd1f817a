#pragma once
#include <QString>

class QFileDialog;
class QWidget;
class QUrl;

// Everything that reaches the user's desktop goes through here: message boxes, pickers,
// the clipboard and opening addresses. Tests install their own
// Desktop so that nothing modal ever waits for a person.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Shows a message box; `style` and the result use the MsgBox constants.
    virtual int messageBox(QWidget* owner, const QString& text, int style, const QString& title);
    // Modal folder picker; returns the chosen folder or empty text.
    virtual QString pickFolder(QWidget* owner, const QString& title, const QString& initialFolder);
    // Modal open-file picker; `nameFilter` is in Qt's form ("Description (*.flv)").
    virtual QString pickOpenFile(QWidget* owner, const QString& title, const QString& startFolder,
                                 const QString& nameFilter);
    // The clipboard's text. May wait for the clipboard's owner, so call it from a worker thread
    // (ClipboardReader does); it is safe on any thread.
    virtual QString clipboardText();
    // Opens an address or file with the desktop's associated program.
    virtual bool openUrl(const QUrl& url);
    // Whether local files and folders open in the programs the user chose for them (xdg-open
    // is there).
    virtual bool canOpenFiles();

    // Sets up Qt's open-file dialog the way pickOpenFile shows it: matching the name filter
    // without regard to case, as the file names it is made for come in either case.
    static void prepareOpenFileDialog(QFileDialog& dialog, const QString& title,
                                      const QString& startFolder, const QString& nameFilter);

    static Desktop& instance();
    // Replaces the desktop (tests); nullptr puts the real one back. Not owned.
    static void setInstance(Desktop* desktop);
};
