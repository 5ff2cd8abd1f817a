#pragma once
#include <QTextBrowser>

class QNetworkAccessManager;

// An embedded HTML view without a script engine. Navigate takes either an "about:" address,
// whose text after "about:" is shown as HTML, or a web address, which is loaded
// asynchronously together with its images. A page that cannot be reached leaves the view blank.
class HtmlView : public QTextBrowser {
    Q_OBJECT
public:
    explicit HtmlView(QWidget* parent = nullptr);

    void Navigate(const QString& address);
    QString LocationURL() const { return location_; }

signals:
    // The page and the images it asked for have arrived (or failed).
    void DocumentComplete();

private:
    QString location_;
};
