// Found before Qt's own header of this name by the logic libraries only: every QtGui header
// includes it, so a logic library that reaches for the GUI library fails to compile.
#error "A logic library links Qt Core alone: the GUI belongs in the folder's widget library."
