#pragma once
// Writes a setup program: a copy of the prebuilt setup.exe with the package
// resources (BIN 101, 102, 121 and the digest 122, language 0x0804) put into it.
#include <cstddef>
#include <string>

struct PackageBlob {
    const void* Data = nullptr;
    size_t Size = 0;
    bool Present = false; // false leaves the resource out
};

// Puts the present blobs into the program file exe, in place, and sets its
// header checksum (start-up checks every byte against it). On failure error
// says why; callers work on a copy they delete.
bool AddPackageResources(const wchar_t* exe, const PackageBlob& payload, const PackageBlob& index,
                         const PackageBlob& config, const PackageBlob& digest, std::string* error);

// Sets the header checksum of a program file to the one its bytes give
// (UpdateResource leaves the old one).
bool SetProgramChecksum(const wchar_t* exe, std::string* error);

// Copies templateExe to outputExe and adds the resources; a failed output is
// deleted.
bool WriteSetupProgram(const char* templateExe, const char* outputExe, const PackageBlob& payload,
                       const PackageBlob& index, const PackageBlob& config,
                       const PackageBlob& digest, std::string* error);
