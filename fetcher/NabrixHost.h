#pragma once
#include <QString>

// What the fetcher uses of the window that hosts it.
class NabrixHost {
public:
    virtual ~NabrixHost() = default;
    // The output folder as the user's destination box reads now.
    virtual QString OutputFolderText() const = 0;
    // Shows an address ("about:" HTML text included) in the preview view.
    virtual void NavigatePreview(const QString& address) = 0;
    // Makes the preview pane visible.
    virtual void ShowPreviewPane() = 0;
};
