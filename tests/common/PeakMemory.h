#pragma once
#include <QFile>
#include <QString>

// The most memory a process has held (Linux's VmHWM), in kB; "self" for this process, else its
// process id. -1 when it cannot be read.
inline qint64 PeakResidentKb(const QString& process = QStringLiteral("self")) {
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
