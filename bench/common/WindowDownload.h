#pragma once
#include "BenchFigures.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <xcb/xcb.h>

// A download through the program's own main window, as a user behind a proxy makes it. The
// program runs in a private home under `root` whose settings point the output folder to
// `root`/out; xdotool types the address and presses Enter. The clock starts when the Enter key
// reaches the window and stops when the next top-level window is mapped (the completion box), or
// at the first byte written into the output folder; a program that writes nothing for 30 s has
// failed. CPU time is that of all the program's threads and of the children it has waited for,
// between pressing Enter and the stop.
class WindowDownload {
public:
    enum class Until { CompletionBox, FirstByte };

    WindowDownload(const QString& root, const QByteArray& proxy, const QString& program);
    ~WindowDownload();
    WindowDownload(const WindowDownload&) = delete;
    WindowDownload& operator=(const WindowDownload&) = delete;

    void setSetting(const QString& key, const QString& value);
    void setEnvironment(const QString& name, const QString& value);
    const QProcessEnvironment& environment() const { return env_; }
    QString outFolder() const { return out_; }

    // Empties the output folder, starts the program, downloads `address` and ends the program.
    // False (with the reason on stderr) when any step fails or the stop never comes.
    bool run(const QString& address, Run& run, Until until = Until::CompletionBox);

    // Forgets the lock a killed program left.
    void reset();

private:
    QString root_;
    QString out_;
    QString program_;
    QProcessEnvironment env_;
    // Held open so the X server does not reset between runs, when no other client is left.
    xcb_connection_t* display_ = nullptr;
};
