#include "HtmlView.h"

HtmlView::HtmlView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setFrameShape(QFrame::NoFrame);
}

void HtmlView::Navigate(const QString& address) {
    location_ = address;
    if (address.startsWith(QLatin1String("about:"))) {
        setHtml(address.mid(6));
        emit DocumentComplete();
        return;
    }
    clear();
}
