#include "wizard/wizard_frame.h"

// Placeholder until the wizard pages exist.
INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG)
        EndDialog(frame, 0);
    return FALSE;
}
