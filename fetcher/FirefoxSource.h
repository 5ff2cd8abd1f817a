#pragma once
#include "BrowserSource.h"

// The user's running Firefox: the first browser window on the X11 display and the page its
// selected tab shows according to the session store of the default profile.
class FirefoxSource : public BrowserSource {
public:
    QString FirstWindowTitle() override;
    QString ShownPageUrl(const QString& pageTitle) override;
};
