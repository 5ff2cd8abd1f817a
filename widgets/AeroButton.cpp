#include "AeroButton.h"

#include <QBitmap>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

namespace {
constexpr int kPictureSize = 16;
constexpr int kPictureGap = 4;
constexpr int kSidePadding = 6;
constexpr int kLeastPadding = 4;
constexpr qreal kRadius = 3.0;

// The colours of one look: border, the gloss's upper half (top, middle) and lower half
// (middle, bottom).
struct Palette {
    QColor border, top, upperMiddle, lowerMiddle, bottom;
};

const Palette kNormal{QColor(0x70, 0x70, 0x70), QColor(0xF6, 0xF6, 0xF6), QColor(0xEB, 0xEB, 0xEB),
                      QColor(0xDD, 0xDD, 0xDD), QColor(0xCF, 0xCF, 0xCF)};
const Palette kHover{QColor(0x3C, 0x7F, 0xB1), QColor(0xEA, 0xF6, 0xFD), QColor(0xD9, 0xF0, 0xFC),
                     QColor(0xBE, 0xE6, 0xFD), QColor(0xA7, 0xD9, 0xF5)};
const Palette kPressed{QColor(0x2C, 0x62, 0x8B), QColor(0xE5, 0xF4, 0xFC), QColor(0xC4, 0xE5, 0xF6),
                       QColor(0x98, 0xD1, 0xEF), QColor(0x68, 0xB3, 0xDB)};
const Palette kDisabled{QColor(0xAD, 0xB2, 0xB5), QColor(0xF4, 0xF4, 0xF4),
                        QColor(0xF4, 0xF4, 0xF4), QColor(0xF4, 0xF4, 0xF4),
                        QColor(0xF4, 0xF4, 0xF4)};
const QColor kDefaultBorder(0x3C, 0x7F, 0xB1);
const QColor kDefaultGlow(0x9D, 0xD5, 0xF9);
const QColor kInnerHighlight(255, 255, 255, 150);
const QColor kCaption(0x10, 0x10, 0x10);
const QColor kDisabledCaption(0x83, 0x83, 0x83);

bool isEnterKey(const QKeyEvent* key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}
} // namespace

AeroButton::AeroButton(QWidget* parent) : AeroButton(QString(), parent) {}

AeroButton::AeroButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
}

void AeroButton::setPicture(const QPixmap& picture, const QColor& transparentColor) {
    QPixmap shown = picture.isNull()
                        ? picture
                        : picture.scaled(kPictureSize, kPictureSize, Qt::KeepAspectRatio,
                                         Qt::SmoothTransformation);
    if (!shown.isNull() && transparentColor.isValid())
        shown.setMask(shown.createMaskFromColor(transparentColor, Qt::MaskInColor));
    picture_ = shown;
    setIcon(QIcon(shown));
    setIconSize(QSize(kPictureSize, kPictureSize));
    update();
}

void AeroButton::setDefault(bool isDefault) {
    if (isDefault) {
        for (AeroButton* other : window()->findChildren<AeroButton*>())
            if (other != this)
                other->setDefault(false);
    }
    QPushButton::setDefault(isDefault);
    watchWindowForEnter(isDefault);
    update();
}

void AeroButton::watchWindowForEnter(bool watch) {
    if (watchedWindow_)
        watchedWindow_->removeEventFilter(this);
    watchedWindow_ = nullptr;
    if (watch && window() != this) {
        watchedWindow_ = window();
        watchedWindow_->installEventFilter(this);
    }
}

bool AeroButton::event(QEvent* event) {
    // Moved to another window: the role goes with the button.
    if (event->type() == QEvent::ParentChange && isDefault())
        watchWindowForEnter(true);
    return QPushButton::event(event);
}

bool AeroButton::eventFilter(QObject* watched, QEvent* event) {
    // Enter that no control of the window took presses the default button.
    if (watched == watchedWindow_ && event->type() == QEvent::KeyPress && isDefault() &&
        isEnabled() && isVisible() && isEnterKey(static_cast<QKeyEvent*>(event))) {
        click();
        return true;
    }
    return QPushButton::eventFilter(watched, event);
}

void AeroButton::keyPressEvent(QKeyEvent* event) {
    // As on the platform this comes from, Enter presses the button that has the focus.
    if (isEnterKey(event)) {
        click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

QSize AeroButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const QString shown = QString(text()).remove(QLatin1Char('&'));
    int width = metrics.horizontalAdvance(shown) + 2 * kSidePadding + 8;
    if (!picture_.isNull())
        width += kPictureSize + kPictureGap;
    const int height = std::max(23, std::max(metrics.height(), kPictureSize) + 8);
    return QSize(std::max(width, 75), height);
}

AeroButton::Look AeroButton::currentLook() const {
    if (!isEnabled())
        return Look::Disabled;
    if (isDown() || isChecked())
        return Look::Pressed;
    if (underMouse())
        return Look::Hover;
    return Look::Normal;
}

void AeroButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Look look = currentLook();
    const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    paintFace(painter, face, look);
    if (hasFocus())
        paintFocusRing(painter, face);
    // Centred content keeps its distance from the edges by itself; this is the least margin.
    QRect content = rect().adjusted(kLeastPadding, 2, -kLeastPadding, -2);
    if (look == Look::Pressed)
        content.translate(1, 1);
    paintContent(painter, content, look);
}

void AeroButton::paintFace(QPainter& painter, const QRectF& face, Look look) const {
    const Palette& colours = look == Look::Hover      ? kHover
                             : look == Look::Pressed  ? kPressed
                             : look == Look::Disabled ? kDisabled
                                                      : kNormal;
    QLinearGradient gloss(face.topLeft(), face.bottomLeft());
    gloss.setColorAt(0.0, colours.top);
    gloss.setColorAt(0.49, colours.upperMiddle);
    gloss.setColorAt(0.5, colours.lowerMiddle);
    gloss.setColorAt(1.0, colours.bottom);
    const bool showsDefault = isDefault() && look == Look::Normal;
    painter.setPen(QPen(showsDefault ? kDefaultBorder : colours.border, 1.0));
    painter.setBrush(gloss);
    painter.drawRoundedRect(face, kRadius, kRadius);

    // A thin light rim inside the border gives the glass its edge; the default button's rim
    // glows blue.
    if (look == Look::Disabled)
        return;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(showsDefault ? kDefaultGlow : kInnerHighlight, 1.0));
    painter.drawRoundedRect(face.adjusted(1, 1, -1, -1), kRadius - 1, kRadius - 1);
}

void AeroButton::paintFocusRing(QPainter& painter, const QRectF& face) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen dotted(QColor(0x40, 0x40, 0x40), 1.0, Qt::DotLine);
    painter.setPen(dotted);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(face.toAlignedRect().adjusted(3, 3, -4, -4));
    painter.restore();
}

AeroButton::ContentFit AeroButton::fitContent(int available) const {
    // Every hover and press repaints the button; the fit changes only with these.
    const bool hasPicture = !picture_.isNull();
    if (lastFit_ && lastFit_->available == available && lastFit_->hasPicture == hasPicture &&
        lastFit_->text == text() && lastFit_->font == font())
        return lastFit_->fit;
    lastFit_ = FitFor{available, hasPicture, text(), font(), measureFit(available)};
    return lastFit_->fit;
}

AeroButton::ContentFit AeroButton::measureFit(int available) const {
    ContentFit fit{font(), text(), kPictureGap, 0};
    const bool hasPicture = !picture_.isNull();
    int captionWidth = 0;
    const auto measureCaption = [&] {
        captionWidth = QFontMetrics(fit.font)
                           .size(Qt::TextShowMnemonic | Qt::TextSingleLine, fit.caption)
                           .width();
    };
    const auto fits = [&] {
        fit.width = captionWidth;
        if (hasPicture)
            fit.width += kPictureSize + (fit.caption.isEmpty() ? 0 : fit.gap);
        return fit.width <= available;
    };
    measureCaption();
    if (fits())
        return fit;
    // Too long for the button (a wider stand-in for the intended font, say): close up the
    // picture, then shrink the caption a little, and only then cut it short.
    fit.gap = 2;
    if (fits())
        return fit;
    const qreal designed = fit.font.pointSizeF();
    for (qreal size = designed - 0.5; designed > 0 && size >= designed * 0.8; size -= 0.5) {
        fit.font.setPointSizeF(size);
        measureCaption();
        if (fits())
            return fit;
    }
    const int room = available - (hasPicture ? kPictureSize + fit.gap : 0);
    fit.caption = QFontMetrics(fit.font).elidedText(fit.caption, Qt::ElideRight, std::max(0, room),
                                                    Qt::TextShowMnemonic);
    measureCaption();
    fits();
    return fit;
}

void AeroButton::paintContent(QPainter& painter, const QRect& area, Look look) const {
    const int mnemonic = style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this)
                             ? Qt::TextShowMnemonic
                             : Qt::TextHideMnemonic;
    const ContentFit fit = fitContent(area.width());
    // Picture and caption stand together in the middle.
    int left = area.left() + std::max(0, (area.width() - fit.width) / 2);
    if (!picture_.isNull()) {
        QPixmap shown = picture_;
        if (look == Look::Disabled) {
            QStyleOption option;
            option.initFrom(this);
            shown = style()->generatedIconPixmap(QIcon::Disabled, picture_, &option);
        }
        const int top = area.top() + (area.height() - kPictureSize) / 2;
        painter.drawPixmap(QRect(left, top, kPictureSize, kPictureSize), shown);
        left += kPictureSize + fit.gap;
    }
    if (fit.caption.isEmpty())
        return;
    const QRect captionArea(left, area.top(), area.right() - left + 1, area.height());
    painter.setFont(fit.font);
    painter.setPen(look == Look::Disabled ? kDisabledCaption : kCaption);
    painter.drawText(captionArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | mnemonic,
                     fit.caption);
}
