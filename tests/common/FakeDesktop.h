#pragma once
#include "Desktop.h"
#include "MsgBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QStringList>
#include <QUrl>
#include <functional>

// A desktop that answers from a script and records what was asked of it, installed for the
// lifetime of the object. No modal window ever opens.
class FakeDesktop : public Desktop {
public:
    struct Message {
        QString text;
        int style;
        QString title;
    };

    FakeDesktop() { Desktop::setInstance(this); }
    ~FakeDesktop() override { Desktop::setInstance(nullptr); }

    int messageBox(QWidget*, const QString& text, int style, const QString& title) override {
        messages.push_back({text, style, title});
        if (onMessage)
            onMessage();
        return (style & 0x0F) == vbYesNo ? answer : vbOK;
    }
    QString pickFolder(QWidget*, const QString& title, const QString& initial) override {
        folderRequests.push_back({title, initial});
        return folderAnswer;
    }
    QString pickOpenFile(QWidget*, const QString& title, const QString& start,
                         const QString& filter) override {
        fileRequests.push_back({title, start, filter});
        return fileAnswer;
    }
    QString clipboardText() override { return clipboard; }
    // Puts the text on the clipboard: also tells the program's clipboard watchers of the change.
    void setClipboard(const QString& text) {
        clipboard = text;
        if (qGuiApp)
            QGuiApplication::clipboard()->setText(text);
    }
    bool openUrl(const QUrl& url) override {
        openedUrls.push_back(url);
        return openSucceeds;
    }
    bool canOpenFiles() override { return opensFiles; }

    // Script.
    int answer = vbYes;
    QString folderAnswer;
    QString fileAnswer;
    QString clipboard;
    bool openSucceeds = true;
    bool opensFiles = true;
    std::function<void()> onMessage;

    // Record.
    QList<Message> messages;
    QList<QStringList> folderRequests;
    QList<QStringList> fileRequests;
    QList<QUrl> openedUrls;
};
