#pragma once
#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <optional>

class QPainter;

// Command button: caption ("&" marks the access key), tool tip, font, enabled state, a 16x16
// picture beside the caption with a declared transparent colour, and the default-button role.
// Drawn by itself with a glossy look that does not depend on the desktop's style.
class AeroButton : public QPushButton {
    Q_OBJECT
public:
    explicit AeroButton(QWidget* parent = nullptr);
    AeroButton(const QString& caption, QWidget* parent = nullptr);

    // The picture is drawn at 16x16; pixels of `transparentColor` are left out.
    void setPicture(const QPixmap& picture, const QColor& transparentColor = QColor());
    QPixmap picture() const { return picture_; }

    // Makes this the window's default button (Enter presses it when the focus is not on
    // another button) and takes the role from the window's other AeroButtons. Hides
    // QPushButton::setDefault, which only works inside dialogs.
    void setDefault(bool isDefault);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Look { Normal, Hover, Pressed, Disabled };
    // How the caption is set so that it fits beside the picture.
    struct ContentFit {
        QFont font;
        QString caption;
        int gap;   // between picture and caption
        int width; // of picture, gap and caption together
    };
    ContentFit fitContent(int available) const;
    ContentFit measureFit(int available) const;
    Look currentLook() const;
    void paintFace(QPainter& painter, const QRectF& face, Look look) const;
    void paintFocusRing(QPainter& painter, const QRectF& face) const;
    void paintContent(QPainter& painter, const QRect& area, Look look) const;
    void watchWindowForEnter(bool watch);

    QPixmap picture_;
    QObject* watchedWindow_ = nullptr;
    // The last fit and what it was made for.
    struct FitFor {
        int available;
        bool hasPicture;
        QString text;
        QFont font;
        ContentFit fit;
    };
    mutable std::optional<FitFor> lastFit_;
};
