#pragma once
#include <QString>

class QWidget;

// Special-folder lookup. Folder id 5 is the user's documents folder; an id this platform does
// not know gives empty text.
QString SpecialFolder(QWidget* owner, int folderId, int flags);
