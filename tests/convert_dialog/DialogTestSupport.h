#pragma once
#include "AeroButton.h"
#include "frmConvert.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

// The thirteen saved options in the order they are written.
inline const QStringList kSavedNames{
    "Youtube Video output path", "Youtube Video format",    "Youtube Video codec",
    "Youtube Video bitrate",     "Youtube Audio codec",     "Youtube Audio bitrate",
    "Youtube Audio samplerate",  "Youtube Video framerate", "Youtube Video size",
    "Youtube Video quality",     "Youtube Video mode mono", "Youtube Video mode stereo",
    "Youtube Video extension"};

// Picks a format in the dialog's format list as a user would: selecting the item and the
// list's activation that follows.
inline void chooseFormat(frmConvert& dialog, const QString& format) {
    const int index = dialog.cmbFormat->findText(format);
    QVERIFY2(index >= 0, qPrintable(format));
    dialog.cmbFormat->setCurrentIndex(index);
    emit dialog.cmbFormat->activated(index);
}

// Selects an item of an open option list.
inline void chooseItem(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    list->setCurrentIndex(index);
}

inline QStringList itemsOf(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i));
    return items;
}

// Idle: the three frames and Convert enabled, Cancel disabled, busy bar at 0.
inline bool isIdle(const frmConvert& dialog) {
    return dialog.frmSource->isEnabled() && dialog.FrmOptions->isEnabled() &&
           dialog.frmDest->isEnabled() && dialog.cmdConvert->isEnabled() &&
           !dialog.btnCancel->isEnabled() && !dialog.tmrPrg->isActive();
}

inline bool isConverting(const frmConvert& dialog) {
    return !dialog.frmSource->isEnabled() && !dialog.FrmOptions->isEnabled() &&
           !dialog.frmDest->isEnabled() && !dialog.cmdConvert->isEnabled() &&
           dialog.btnCancel->isEnabled();
}

// Processes of this program's children whose executable is named "avformat.dll" and that
// have not ended: conversions, not the short readings of a source that tell what becomes of
// its streams (--plan), which may still run beside the first conversion on a slow build.
inline int runningConverterChildren() {
    int running = 0;
    const QString me = QString::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(stat.readAll());
        // pid (comm) state ppid ...
        const int close = text.lastIndexOf(')');
        const QString comm = text.mid(text.indexOf('(') + 1, close - text.indexOf('(') - 1);
        const QStringList rest = text.mid(close + 2).split(' ');
        if (comm != "avformat.dll" || rest.size() < 2 || rest.at(0) == "Z" || rest.at(1) != me)
            continue;
        QFile arguments("/proc/" + pid + "/cmdline");
        if (arguments.open(QIODevice::ReadOnly) &&
            !arguments.readAll().split('\0').contains("--plan"))
            ++running;
    }
    return running;
}
