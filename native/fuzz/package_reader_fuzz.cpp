// The package index and payload as untrusted bytes. Input layout: a 32-bit
// little-endian index length (held to what is there), the index, the payload.
#include "package/package_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

// Inflates at most a little more than the entry claims, like the installer
// would stop at a file that grows past its size.
void InflateStream(const uint8_t* stream, uint32_t length, uint32_t size) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return;
    uint8_t out[4096];
    z.next_in = const_cast<uint8_t*>(stream);
    z.avail_in = length;
    uint64_t produced = 0;
    int result = Z_OK;
    while (result == Z_OK && produced <= static_cast<uint64_t>(size) + sizeof out) {
        z.next_out = out;
        z.avail_out = sizeof out;
        result = inflate(&z, Z_NO_FLUSH);
        produced += sizeof out - z.avail_out;
        if (z.avail_out == sizeof out && z.avail_in == 0)
            break;
    }
    inflateEnd(&z);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t indexLength = 0;
    if (size >= 4)
        memcpy(&indexLength, data, 4);
    size_t rest = size >= 4 ? size - 4 : 0;
    if (indexLength > rest)
        indexLength = static_cast<uint32_t>(rest);
    // Separate heap blocks of the exact lengths, so a read past either end is caught.
    std::vector<uint8_t> index(data + (size - rest), data + (size - rest) + indexLength);
    std::vector<uint8_t> payload(data + (size - rest) + indexLength, data + size);
    PackageView view(index.data(), index.size(), payload.data(), payload.size());

    uint32_t bad = 0;
    PackageFault fault = view.Validate(&bad);
    if (DescribePackageFault(fault) == nullptr)
        abort();
    PackageHeader header = view.Header();
    uint32_t stored = view.StoredEntryCount();
    if (fault == PackageFault::kOk) {
        uint64_t claimed = static_cast<uint64_t>(header.ServerEntryCount) +
                           header.ClientEntryCount + header.DatabaseEntryCount;
        if (claimed != stored)
            abort(); // a valid index holds exactly the entries it counts
    } else if (fault != PackageFault::kIndexTooSmall && fault != PackageFault::kIndexSizeMismatch &&
               bad >= stored) {
        abort(); // a bad entry is one that exists
    }

    // Walk the groups as the installer does, valid or not: nothing may read
    // outside the two blocks.
    for (PackageGroup group :
         {PackageGroup::Server, PackageGroup::Client, PackageGroup::Database}) {
        GroupRange range = view.Group(group);
        for (uint32_t k = 0; k < range.Count && k < 64; ++k) {
            PackageEntry entry;
            if (!view.Entry(range.First + k, &entry)) {
                if (fault == PackageFault::kOk)
                    abort(); // every counted entry of a valid index exists
                break;
            }
            bool safe = IsSafeRelativePath(entry.RelativePath, sizeof entry.RelativePath);
            const uint8_t* stream = view.Stream(entry);
            if (fault == PackageFault::kOk && (!safe || stream == nullptr))
                abort();
            size_t pathLength = strnlen(entry.RelativePath, sizeof entry.RelativePath);
            if (safe && (entry.RelativePath[0] == '\\' || entry.RelativePath[0] == '/' ||
                         memchr(entry.RelativePath, ':', pathLength) != nullptr))
                abort(); // bytes after the terminator do not count
            if (stream != nullptr)
                InflateStream(stream, entry.CompressedLength, entry.Size);
        }
    }
    return 0;
}
