#include "ZebLabel.h"

ZebLabel::ZebLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}
