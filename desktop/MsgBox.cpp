#include "MsgBox.h"

#include "Desktop.h"

int MsgBox(QWidget* owner, const QString& prompt, int style, const QString& title) {
    return Desktop::instance().messageBox(owner, prompt, style, title);
}
