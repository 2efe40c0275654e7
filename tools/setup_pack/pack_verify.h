#pragma once
// Checks a package's index, payload and configuration as they lie in memory.
#include "package/package_format.h"
#include "tools/setup_pack/package_file.h"

#include <functional>
#include <string>
#include <vector>

struct VerifyReport {
    std::vector<std::string> Faults;   // UTF-8, one line each
    std::vector<std::string> Warnings; // not faults: what a careful writer avoids
};

VerifyReport VerifyPackage(const ResourceView& index, const ResourceView& payload,
                           const ResourceView& config);

// Inflates one zlib stream of exactly `length` bytes that must give exactly
// `size` bytes, handing the output to sink in pieces. Returns an empty text,
// or what is wrong with the stream.
std::string InflateEntry(const uint8_t* stream, size_t length, uint64_t size,
                         const std::function<bool(const uint8_t*, size_t)>& sink);

// "server", "client" or "database".
const char* GroupName(PackageGroup group);
// The group an entry belongs to by its position (Database past the counts).
PackageGroup GroupOfEntry(const PackageHeader& header, uint32_t entry);
