#pragma once
// Builds the index and payload blobs of a package. Entries are added in the
// order they will be stored (all server entries, then client, then database);
// the builder keeps the counts, byte totals, ordinals and offsets consistent.
#include "package/package_format.h"

#include <cstdint>
#include <string>
#include <vector>

struct PackageSettings {
    std::string ServerProgram; // GBK, relative to the server group folder
    std::string ClientProgram; // GBK, relative to the client group folder
    bool ServerRun = true;
    bool ClientRun = true;
    std::string ServerRunArgs = "Install";
    std::string ClientRunArgs = "Install";
};

struct PackageFileTimes {
    PackageFileTime Creation{};
    PackageFileTime LastAccess{};
    PackageFileTime LastWrite{};
};

// Upper bounds the builder enforces. The defaults are what the 32-bit fields
// can hold; tests lower them to reach the refusals without 4 GiB of data.
struct PackageLimits {
    uint64_t MaxFileSize = 0xFFFFFFFFull;    // largest Size of one entry
    uint64_t MaxPayloadSize = 0xFFFFFFFFull; // largest payload (offsets are 32-bit)
    uint64_t MaxGroupBytes = 0xFFFFFFFFull;  // largest byte total of a group
};

// One zlib (RFC 1950) stream of data at the given level (1..9).
bool CompressZlib(const void* data, size_t size, int level, std::vector<uint8_t>* out);

class PackageBuilder {
  public:
    // Fails (returning false with a message) on a text that does not fit its field.
    bool Begin(const PackageSettings& settings, std::string* error);

    // Adds an entry whose zlib stream is already made.
    bool AddCompressed(PackageGroup group, const std::string& relativePath, uint64_t size,
                       const PackageFileTimes& times, const uint8_t* stream, size_t streamLength,
                       std::string* error);
    // Adds an entry whose stream the caller stores itself, directly after the
    // previous one: the builder keeps the offsets but no payload bytes. Do not
    // mix with AddCompressed or AddFile in one package.
    bool AddStreamed(PackageGroup group, const std::string& relativePath, uint64_t size,
                     const PackageFileTimes& times, uint64_t streamLength, std::string* error);
    // Compresses data and adds it.
    bool AddFile(PackageGroup group, const std::string& relativePath, const void* data, size_t size,
                 const PackageFileTimes& times, int level, std::string* error);

    // The index as it stands: header and every entry added so far.
    const std::vector<uint8_t>& Index() const;
    const std::vector<uint8_t>& Payload() const { return payload_; }
    std::vector<uint8_t> TakePayload() { return std::move(payload_); }
    const PackageHeader& Header() const { return header_; }
    // Length of the payload so far, stored or streamed.
    uint64_t PayloadLength() const { return payloadLength_; }

    void SetLimits(const PackageLimits& limits) { limits_ = limits; }
    const PackageLimits& Limits() const { return limits_; }

  private:
    PackageHeader header_{};
    std::vector<PackageEntry> entries_;
    mutable std::vector<uint8_t> index_;
    std::vector<uint8_t> payload_;
    int lastGroup_ = 0;
    uint64_t payloadLength_ = 0;
    PackageLimits limits_;

    bool Record(PackageGroup group, const std::string& relativePath, uint64_t size,
                const PackageFileTimes& times, uint64_t streamLength, std::string* error);
};
