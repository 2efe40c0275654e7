#pragma once
// The default drive rule: the second fixed drive of the system's list, or the
// last drive of the list when it holds fewer than two fixed drives.
#include <cstddef>

constexpr unsigned kDriveTypeFixed = 3; // DRIVE_FIXED

// Index of the chosen drive in a list of drive types, or -1 for an empty list.
long ChooseDriveIndex(const unsigned* driveTypes, size_t count);
