#pragma once
// What a built setup program's digest resource says and whether its
// configuration, index and payload still match it (verify, inspect, extract).
#include "package/package_digest.h"
#include "tools/setup_pack/package_file.h"

#include <string>
#include <vector>

struct DigestReport {
    bool Present = false;                     // the program holds BIN 122
    DigestFormat Format = DigestFormat::kOk;  // whether it could be read
    PackageDigest Stored = {};                // what it says, when readable
    DigestPart Actual[kDigestPartCount] = {}; // what the resources hold
    bool Mismatched[kDigestPartCount] = {};

    // Present and unreadable, or present and not matching: start-up refuses it.
    bool Damaged() const;
};

DigestReport ExamineDigest(const ResourceView& digest, const ResourceView& config,
                           const ResourceView& index, const ResourceView& payload);

// One line per resource that differs, naming it ("payload (BIN 101) does not
// match the digest: ..."), or the reason the digest cannot be read.
std::vector<std::string> DigestFaults(const DigestReport& report);

// "key: value" lines for inspect.
std::vector<std::string> DigestLines(const DigestReport& report);
