#pragma once
#include <QLabel>

// The conversion dialog's status text: a plain label that wraps a long message over as many
// lines as it needs, breaking inside a word (a path) only when a word is wider than the label.
// Its size hint is one line when the text fits within the maximum width, else that width and
// the height of the wrapped text. Given less height than that, it shows the lines that fit and
// ends the last of them with "…" (the whole text stays its text).
class StatusLabel : public QLabel {
    Q_OBJECT
public:
    explicit StatusLabel(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // Whether the whole text shows at the label's present size.
    bool showsAll() const { return height() >= heightForWidth(width()); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
