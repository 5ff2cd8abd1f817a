#pragma once
#include <QString>

class QWidget;

// Modal folder picker: shows folders only, opens on `initialSelection` when it exists, lets
// the user make a folder, and returns the chosen folder or empty text when cancelled. An
// empty title shows "Select A Directory".
QString BrowseFolder(QWidget* owner, const QString& title, int rootId, const QString& rootPath,
                     const QString& initialSelection, bool newStyle, bool includeFiles,
                     const QString& okText);
