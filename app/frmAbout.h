#pragma once
#include <QDialog>

class AeroButton;
class QLabel;
class QPlainTextEdit;
class Shape;

// The about box: the product and its version, the maker, the credits and the maker's other
// products. Shown modal over its owner; its text is built afresh at every opening.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* owner = nullptr);

    // The information text, every line followed by CR LF.
    QString InfoText() const;

    AeroButton* cmdClose = nullptr;
    QPlainTextEdit* txtInfo = nullptr;
    Shape* Shape1 = nullptr;
    QLabel* lblEMail = nullptr;
    Shape* shp[3] = {nullptr, nullptr, nullptr};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void Form_Load();
    void AddInfoLine(const QString& line);
    void AddYtDlpLines();
};
