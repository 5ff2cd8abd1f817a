#pragma once
#include <QWidget>

// The conversion dialog "Convert YouTube Video": modeless, owned by the main window.
class frmConvert : public QWidget {
    Q_OBJECT
public:
    explicit frmConvert(QWidget* owner = nullptr);
};
