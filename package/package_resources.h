#pragma once
// Access to the package resources (BIN 101, 102, 121) in place.
#include <windows.h>

struct ResourceBytes {
    const void* Data = nullptr;
    DWORD Size = 0;
    bool Found = false;
};

// The module whose resources hold the package: the program itself unless a
// test has loaded a built setup program as a data file and named it here.
void SetPackageModule(HMODULE module);
HMODULE PackageModule();

ResourceBytes LoadPackageResource(int id);
