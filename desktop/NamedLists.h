#pragma once
#include <QString>

class QWidget;

// Screen readers on Linux hear a list (QComboBox) by its current value ("rv10", "Auto"), and
// of a label relation only "Codec" for both the video and the audio codec. Once this is
// installed, a list that carries an accessible name is heard by that name, with its current
// value as its value.
namespace NamedLists {
void Install();
// Gives the control its accessible name. A list that a screen reader already asked about (with
// accessibility on, Qt asks as the control is made) is heard by its new name from then on.
void Name(QWidget* control, const QString& name);
} // namespace NamedLists
