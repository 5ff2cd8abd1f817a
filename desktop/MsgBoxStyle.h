#pragma once

// Kept apart from MsgBox so that the desktop seam, which shows the boxes, reads the styles
// without depending on the routine that calls it.
// Button and icon styles, and answers, of the program's message boxes.
enum MsgBoxStyle {
    vbOKOnly = 0,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};
enum MsgBoxResult { vbOK = 1, vbYes = 6, vbNo = 7 };
