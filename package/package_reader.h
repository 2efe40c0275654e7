#pragma once
// Read-only view of a package's index and payload as they lie in memory.
// Nothing here reads outside the two byte ranges it was given.
#include "package/package_format.h"

#include <cstddef>
#include <cstdint>

// Why a package is refused; kOk when every safety rule holds.
enum class PackageFault {
    kOk,
    kIndexTooSmall,        // shorter than a header
    kIndexSizeMismatch,    // not 600 + 560 x (sum of the counts)
    kStreamOutsidePayload, // an entry's stream runs past the payload
    kBadRelativePath,      // empty, unterminated, absolute, drive, or only dots and spaces
};

struct GroupRange {
    uint32_t First; // index of the group's first entry
    uint32_t Count;
};

class PackageView {
  public:
    PackageView(const void* index, size_t indexSize, const void* payload, size_t payloadSize);

    // Checks the layout and every entry; entryOut receives the first bad entry.
    PackageFault Validate(uint32_t* entryOut = nullptr) const;

    bool HasHeader() const { return indexSize_ >= sizeof(PackageHeader); }
    // Copy of the header (zero-filled beyond a short index).
    PackageHeader Header() const;
    // Entry count the index really holds: whole entries after the header.
    uint32_t StoredEntryCount() const;
    GroupRange Group(PackageGroup group) const;
    // Entry i, copied out (the index need not be aligned); false when absent.
    bool Entry(uint32_t i, PackageEntry* out) const;
    // The entry's compressed bytes, or null when they lie outside the payload.
    const uint8_t* Stream(const PackageEntry& entry) const;

  private:
    const uint8_t* index_;
    size_t indexSize_;
    const uint8_t* payload_;
    size_t payloadSize_;
};

// The path rules applied to each RelativePath field (bytes of the field).
bool IsSafeRelativePath(const char* field, size_t fieldSize);

const char* DescribePackageFault(PackageFault fault);
