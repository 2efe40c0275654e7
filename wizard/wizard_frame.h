#pragma once
#include <windows.h>

// Dialog procedure of the wizard frame (template 103).
INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);

// Destroys the caption font, sets the frame's buttons for the page and creates
// page index (0..5) as a child of the frame; null for any other index.
HWND CreatePage(HWND frame, int index);
