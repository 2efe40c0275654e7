#pragma once
// Writes a setup program: a copy of the prebuilt setup.exe with the three
// package resources (BIN 101, 102, 121, language 0x0804) put into it.
#include <cstddef>
#include <string>

struct PackageBlob {
    const void* Data = nullptr;
    size_t Size = 0;
    bool Present = false; // false leaves the resource out
};

bool WriteSetupProgram(const char* templateExe, const char* outputExe, const PackageBlob& payload,
                       const PackageBlob& index, const PackageBlob& config, std::string* error);
