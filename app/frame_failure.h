#pragma once
#include <windows.h>

#include <cstddef>

// The text shown when the wizard's window cannot be made: what happened and
// the system's own words for the error code.
void FormatFrameFailureText(char* buf, size_t capacity, DWORD error);

// Tells the user the wizard's window could not be made, instead of ending as
// silently as if they had closed it.
void ReportFrameFailure(DWORD error);
