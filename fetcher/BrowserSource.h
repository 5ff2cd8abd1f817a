#pragma once
#include <QString>

// What the browser page pickup needs to know about the user's browser. FirefoxSource reads a
// running Firefox; tests use stand-ins.
class BrowserSource {
public:
    virtual ~BrowserSource() = default;

    // The title of the page shown in the first browser window, without the browser's own name;
    // empty when there is no browser window or its title cannot be read.
    virtual QString FirstWindowTitle() = 0;
    // The address of the page that the first browser window shows under that title; empty when
    // it cannot be found.
    virtual QString ShownPageUrl(const QString& pageTitle) = 0;
};
