#include "wizard/wizard_pages.h"

#include "core/text_util.h"

#include <mbstring.h>

uint32_t RequiredBytes(const PackageHeader& header, uint32_t installServer,
                       uint32_t installClient) {
    // Without a server group the database goes with the client side, which
    // cannot be left out.
    if (header.ServerBytes == 0)
        return header.ClientBytes + header.DatabaseBytes;
    uint32_t bytes = 0;
    if (installServer)
        bytes += header.ServerBytes + header.DatabaseBytes;
    if (installClient)
        bytes += header.ClientBytes;
    return bytes;
}

void FormatRequiredSpace(char* buf, size_t capacity, uint32_t bytes) {
    FormatBounded(buf, capacity, "所需空间：%0.0fMB", static_cast<double>(bytes) / 1048576.0);
}

void FormatAvailableSpace(char* buf, size_t capacity, uint64_t freeBytes) {
    int mebibytes = static_cast<int>(static_cast<uint32_t>(freeBytes >> 20));
    FormatBounded(buf, capacity, "可用空间：%0.0fG", mebibytes * 0.0009765625);
}

void ApplyTagFolder(char* dir, size_t capacity, const char* tagFolder) {
    if (tagFolder[0] == '\0')
        return;
    const unsigned char* found = _mbsstr(reinterpret_cast<const unsigned char*>(dir),
                                         reinterpret_cast<const unsigned char*>(tagFolder));
    if (!found)
        AppendBounded(dir, capacity, tagFolder);
}
