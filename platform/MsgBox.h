#pragma once
#include "AppVersion.h"

#include <QString>

class QWidget;

// Button and icon styles, and answers, of the program's message boxes.
enum MsgBoxStyle {
    vbOKOnly = 0,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};
enum MsgBoxResult { vbOK = 1, vbYes = 6, vbNo = 7 };

inline const QString kProductName = QString::fromLatin1(AppVersion::Product);

// Shows a message box through the desktop seam; the title defaults to the product name.
int MsgBox(QWidget* owner, const QString& prompt, int style = vbOKOnly,
           const QString& title = kProductName);
