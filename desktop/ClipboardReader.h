#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <future>
#include <optional>

// The clipboard's text for a window that must never wait for it. Reading the clipboard waits
// for the program that owns it (on X11 up to seconds when it does not answer), so the read
// runs on a worker thread through Desktop::clipboardText; its text is kept until the
// clipboard changes, so the clipboard is read at most once per change.
class ClipboardReader : public QObject {
    Q_OBJECT
public:
    explicit ClipboardReader(QObject* parent = nullptr);

    // The text, when it has been read since the clipboard last changed. Otherwise starts a read
    // (unless one is on its way) and gives nothing: TextRead follows when the text is here.
    std::optional<QString> Text();

signals:
    void TextRead(const QString& text);

private:
    void ClipboardChanged();
    void CheckRead();

    std::optional<QString> text_;
    std::future<QString> reading_;
    // Changes of the clipboard seen so far, and the one the running read started after.
    quint64 changes_ = 0;
    quint64 readAfter_ = 0;
    QTimer poll_;
};
