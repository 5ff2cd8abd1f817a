#pragma once
#include "AppVersion.h"
#include "MsgBoxStyle.h"

#include <QString>

class QWidget;

inline const QString kProductName = QString::fromLatin1(AppVersion::Product);

// Shows a message box through the desktop seam; the title defaults to the product name.
int MsgBox(QWidget* owner, const QString& prompt, int style = vbOKOnly,
           const QString& title = kProductName);
