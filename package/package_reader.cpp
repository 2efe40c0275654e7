#include "package/package_reader.h"

#include "core/text_util.h"

#include <cstring>

PackageView::PackageView(const void* index, size_t indexSize, const void* payload,
                         size_t payloadSize)
    : index_(static_cast<const uint8_t*>(index)), indexSize_(index ? indexSize : 0),
      payload_(static_cast<const uint8_t*>(payload)), payloadSize_(payload ? payloadSize : 0) {}

PackageHeader PackageView::Header() const {
    PackageHeader header;
    memset(&header, 0, sizeof header);
    // memcpy from a null pointer is undefined even for zero bytes.
    if (indexSize_ != 0)
        memcpy(&header, index_, indexSize_ < sizeof header ? indexSize_ : sizeof header);
    return header;
}

uint32_t PackageView::StoredEntryCount() const {
    if (!HasHeader())
        return 0;
    return static_cast<uint32_t>((indexSize_ - sizeof(PackageHeader)) / sizeof(PackageEntry));
}

GroupRange PackageView::Group(PackageGroup group) const {
    PackageHeader h = Header();
    switch (group) {
    case PackageGroup::Server:
        return {0, h.ServerEntryCount};
    case PackageGroup::Client:
        return {h.ServerEntryCount, h.ClientEntryCount};
    case PackageGroup::Database:
        return {h.ServerEntryCount + h.ClientEntryCount, h.DatabaseEntryCount};
    }
    return {0, 0};
}

bool PackageView::Entry(uint32_t i, PackageEntry* out) const {
    if (i >= StoredEntryCount())
        return false;
    memcpy(out, index_ + sizeof(PackageHeader) + static_cast<size_t>(i) * sizeof(PackageEntry),
           sizeof(PackageEntry));
    return true;
}

const uint8_t* PackageView::Stream(const PackageEntry& entry) const {
    uint64_t end = static_cast<uint64_t>(entry.PayloadOffset) + entry.CompressedLength;
    if (payload_ == nullptr || end > payloadSize_)
        return nullptr;
    return payload_ + entry.PayloadOffset;
}

// Windows drops trailing dots and spaces from a name, so "...", ".. " or " "
// would become ".", ".." or an empty name: refuse every such component.
static bool IsDotComponent(const char* start, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (start[i] != '.' && start[i] != ' ')
            return false;
    }
    return true;
}

bool IsSafeRelativePath(const char* field, size_t fieldSize) {
    size_t length = strnlen(field, fieldSize);
    if (length == 0 || length == fieldSize)
        return false; // empty, or not terminated within its field
    if (field[0] == '\\' || field[0] == '/')
        return false; // absolute
    // A colon names a drive ("C:x") or an alternate data stream; neither belongs here.
    if (memchr(field, ':', length) != nullptr)
        return false;
    size_t componentStart = 0;
    for (size_t i = 0; i <= length;) {
        unsigned char b = static_cast<unsigned char>(field[i]);
        bool end = i == length;
        if (!end && IsGbkLeadByte(b) && i + 1 < length) {
            i += 2; // a trail byte 0x5C is part of the character, not a separator
            continue;
        }
        // Characters no Windows file name may hold; a wildcard would also
        // make the existence probe match other files.
        if (!end && (b < 0x20 || strchr("<>\"|?*", b) != nullptr))
            return false;
        if (end || b == '\\' || b == '/') {
            size_t componentLength = i - componentStart;
            if (componentLength == 0 || IsDotComponent(field + componentStart, componentLength))
                return false;
            componentStart = i + 1;
        }
        ++i;
    }
    return true;
}

PackageFault PackageView::Validate(uint32_t* entryOut) const {
    if (!HasHeader())
        return PackageFault::kIndexTooSmall;
    PackageHeader h = Header();
    uint64_t count =
        static_cast<uint64_t>(h.ServerEntryCount) + h.ClientEntryCount + h.DatabaseEntryCount;
    if (sizeof(PackageHeader) + count * sizeof(PackageEntry) != indexSize_)
        return PackageFault::kIndexSizeMismatch;
    for (uint32_t i = 0; i < count; ++i) {
        PackageEntry entry;
        Entry(i, &entry);
        if (entryOut)
            *entryOut = i;
        if (Stream(entry) == nullptr)
            return PackageFault::kStreamOutsidePayload;
        if (!IsSafeRelativePath(entry.RelativePath, sizeof entry.RelativePath))
            return PackageFault::kBadRelativePath;
    }
    return PackageFault::kOk;
}

const char* DescribePackageFault(PackageFault fault) {
    switch (fault) {
    case PackageFault::kOk:
        return "ok";
    case PackageFault::kIndexTooSmall:
        return "index shorter than its header";
    case PackageFault::kIndexSizeMismatch:
        return "index size does not match the entry counts";
    case PackageFault::kStreamOutsidePayload:
        return "entry stream lies outside the payload";
    case PackageFault::kBadRelativePath:
        return "entry path is empty, unterminated, absolute or climbs out of its folder";
    }
    return "unknown fault";
}
