#pragma once
// What a program file says about itself: its header checksum and, when it
// is signed, whether the Authenticode signature still covers the file as it
// is (the image digest the signature holds against one computed here), who
// signed it and when the time stamp says it was signed. The chain of trust
// is the signing tools' business (osslsigncode verify, signtool verify).
#include <cstdint>
#include <string>

struct ProgramFileReport {
    uint32_t StoredCheckSum = 0;
    uint32_t ComputedCheckSum = 0;
    bool ChecksumMatches = false; // meaningful when StoredCheckSum != 0

    bool Signed = false;     // the security directory names a certificate table
    std::string Problem;     // why the signature does not cover the file (empty: it does)
    std::string Algorithm;   // of the image digest: "SHA-256", "SHA-1", ...
    std::string Subject;     // the signer's certificate subject ("CN=...")
    std::string Timestamp;   // "2026-12-09 17:00:00 UTC (RFC 3161)", empty without one
    std::string Description; // the program name in the signature (what the UAC prompt shows)
};

// False (with a reason) when the file cannot be read or is not a program.
bool ExamineProgramFile(const std::wstring& path, ProgramFileReport* report, std::string* error);
