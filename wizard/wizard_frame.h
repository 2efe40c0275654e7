#pragma once
#include <windows.h>

// Dialog procedure of the wizard frame (template 103).
INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);
