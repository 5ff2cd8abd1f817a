#include "frmConvert.h"

frmConvert::frmConvert(QWidget* owner) : QWidget(owner, Qt::Window) {
    setWindowTitle(QStringLiteral("Convert YouTube Video"));
}
