#pragma once
#include <QLabel>

// Caption label of the option rows.
class ZebLabel : public QLabel {
    Q_OBJECT
public:
    explicit ZebLabel(const QString& caption = QString(), QWidget* parent = nullptr);
    void setCaption(const QString& caption) { setText(caption); }
    QString caption() const { return text(); }
};
