// Found before Qt's own header of this name by the logic libraries only: every QtWidgets header
// includes it, so a logic library that reaches for a widget fails to compile.
#error "A logic library links Qt Core alone: widgets belong in the folder's widget library."
