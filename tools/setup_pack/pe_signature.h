#pragma once
// The parts of a PE file's headers that signing touches: the security
// directory (file offset and size of the certificate table that signing
// appends after the sections) and the header checksum.
#include <cstdint>
#include <string>

struct SignatureInfo {
    bool Present = false;  // the security directory names a table
    uint32_t Offset = 0;   // file offset of the certificate table
    uint32_t Size = 0;     // its size in bytes
    uint64_t FileSize = 0; // size of the whole file
    uint32_t CheckSum = 0; // the header's checksum field
};

// Reads the headers of a PE file; false (with a reason) when it is not one.
bool ReadSignatureInfo(const std::wstring& path, SignatureInfo* info, std::string* error);

// Removes a signature in place: the certificate table is cut off the end of
// the file and the directory entry cleared, so rewriting the resources
// cannot leave a signature that no longer matches. removed tells whether
// there was one.
bool RemoveSignature(const std::wstring& path, bool* removed, std::string* error);

// Sets the header checksum to the file's true checksum (rewriting resources
// or headers makes it stale; start-up checks the file against it).
bool RefreshPeChecksum(const std::wstring& path, std::string* error);
