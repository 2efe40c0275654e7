#include "package/program_image.h"

#include <cstring>

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kSectionHeaderSize = 40;

// Little-endian reads that fail instead of reading past the end.
bool U16(const uint8_t* file, uint64_t size, uint64_t at, uint32_t* value) {
    if (at > size || size - at < 2)
        return false;
    *value = static_cast<uint32_t>(file[at]) | (static_cast<uint32_t>(file[at + 1]) << 8);
    return true;
}

bool U32(const uint8_t* file, uint64_t size, uint64_t at, uint32_t* value) {
    if (at > size || size - at < 4)
        return false;
    *value = static_cast<uint32_t>(file[at]) | (static_cast<uint32_t>(file[at + 1]) << 8) |
             (static_cast<uint32_t>(file[at + 2]) << 16) |
             (static_cast<uint32_t>(file[at + 3]) << 24);
    return true;
}

struct Headers {
    uint64_t Optional = 0;    // the optional header
    uint64_t Directories = 0; // its data directory array
    uint32_t DirectoryCount = 0;
    uint64_t Sections = 0; // the section table
    uint32_t SectionCount = 0;
};

bool ReadHeaders(const uint8_t* file, uint64_t size, Headers* headers) {
    uint32_t magic = 0, lfanew = 0, signature = 0, sections = 0, optionalSize = 0;
    if (!U16(file, size, 0, &magic) || magic != 0x5A4D || !U32(file, size, 0x3C, &lfanew) ||
        !U32(file, size, lfanew, &signature) || signature != 0x00004550 ||
        !U16(file, size, uint64_t(lfanew) + 6, &sections) ||
        !U16(file, size, uint64_t(lfanew) + 20, &optionalSize))
        return false;
    uint64_t optional = uint64_t(lfanew) + 24;
    uint32_t kind = 0;
    if (!U16(file, size, optional, &kind))
        return false;
    uint32_t countAt, directoriesAt;
    if (kind == 0x10B) { // PE32
        countAt = 92;
        directoriesAt = 96;
    } else if (kind == 0x20B) { // PE32+
        countAt = 108;
        directoriesAt = 112;
    } else {
        return false;
    }
    uint32_t count = 0;
    if (!U32(file, size, optional + countAt, &count))
        return false;
    // Only the entries the optional header really holds count.
    uint32_t room = optionalSize > directoriesAt ? (optionalSize - directoriesAt) / 8 : 0;
    headers->Optional = optional;
    headers->Directories = optional + directoriesAt;
    headers->DirectoryCount = count < room ? count : room;
    headers->Sections = optional + optionalSize;
    headers->SectionCount = sections;
    return headers->Directories + uint64_t(headers->DirectoryCount) * 8 <= size;
}

// The file offset of an address, and how many bytes of the file the section
// holds from there.
bool RvaToOffset(const uint8_t* file, uint64_t size, const Headers& headers, uint32_t rva,
                 uint64_t* offset, uint64_t* available) {
    for (uint32_t i = 0; i < headers.SectionCount; ++i) {
        uint64_t at = headers.Sections + uint64_t(i) * kSectionHeaderSize;
        uint32_t address = 0, rawSize = 0, rawPointer = 0;
        if (!U32(file, size, at + 12, &address) || !U32(file, size, at + 16, &rawSize) ||
            !U32(file, size, at + 20, &rawPointer))
            return false;
        if (rva < address || rva - address >= rawSize)
            continue;
        uint64_t start = uint64_t(rawPointer) + (rva - address);
        uint64_t end = uint64_t(rawPointer) + rawSize;
        if (end > size)
            end = size;
        if (start >= end)
            return false;
        *offset = start;
        *available = end - start;
        return true;
    }
    return false;
}

// One level of the resource tree.
struct Directory {
    const uint8_t* File;
    uint64_t Size;
    uint64_t Base;  // file offset of the resource section's root
    uint64_t Limit; // end of the resource section in the file
};

bool NameMatches(const Directory& tree, uint32_t nameOffset, const char* wanted) {
    uint64_t at = tree.Base + nameOffset;
    uint32_t length = 0;
    if (at >= tree.Limit || !U16(tree.File, tree.Limit, at, &length) || length != strlen(wanted))
        return false;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t c = 0;
        if (!U16(tree.File, tree.Limit, at + 2 + 2 * uint64_t(i), &c))
            return false;
        uint32_t w = static_cast<unsigned char>(wanted[i]);
        auto upper = [](uint32_t x) { return x >= 'a' && x <= 'z' ? x - 32 : x; };
        if (upper(c) != upper(w))
            return false;
    }
    return true;
}

// Finds the entry of a directory (at offset `directory` from the root) by
// name or id; with wantedName and id both "any", the first entry. Returns
// the entry's file offset and its OffsetToData.
bool FindEntry(const Directory& tree, uint32_t directory, const char* wantedName, uint32_t wantedId,
               bool any, uint64_t* entryOffset, uint32_t* target) {
    uint64_t at = tree.Base + directory;
    uint32_t named = 0, ids = 0;
    if (at >= tree.Limit || !U16(tree.File, tree.Limit, at + 12, &named) ||
        !U16(tree.File, tree.Limit, at + 14, &ids))
        return false;
    for (uint32_t i = 0; i < named + ids; ++i) {
        uint64_t entry = at + 16 + uint64_t(i) * 8;
        uint32_t name = 0, data = 0;
        if (!U32(tree.File, tree.Limit, entry, &name) ||
            !U32(tree.File, tree.Limit, entry + 4, &data))
            return false;
        bool match = any;
        if (!match && (name & kHighBit))
            match = wantedName != nullptr && NameMatches(tree, name & ~kHighBit, wantedName);
        else if (!match)
            match = wantedName == nullptr && name == wantedId;
        if (match) {
            *entryOffset = entry;
            *target = data;
            return true;
        }
    }
    return false;
}

} // namespace

bool ReadProgramLayout(const uint8_t* file, uint64_t size, ProgramLayout* layout) {
    Headers headers;
    if (!ReadHeaders(file, size, &headers) || headers.DirectoryCount <= kSecurityDirectory)
        return false;
    uint64_t security = headers.Directories + kSecurityDirectory * 8;
    uint32_t offset = 0, length = 0;
    if (!U32(file, size, headers.Optional + 64, &layout->StoredCheckSum) ||
        !U32(file, size, security, &offset) || !U32(file, size, security + 4, &length))
        return false;
    layout->CheckSumOffset = static_cast<uint32_t>(headers.Optional + 64);
    layout->SecurityEntryOffset = static_cast<uint32_t>(security);
    // The entry holds a file offset, not an address.
    layout->CertificateOffset = length ? offset : 0;
    layout->CertificateSize = offset ? length : 0;
    return true;
}

bool FindFileResource(const uint8_t* file, uint64_t size, const char* typeName, uint32_t typeId,
                      uint32_t id, FileResource* resource) {
    Headers headers;
    uint32_t rva = 0, length = 0;
    if (!ReadHeaders(file, size, &headers) || headers.DirectoryCount <= kResourceDirectory ||
        !U32(file, size, headers.Directories + kResourceDirectory * 8, &rva) ||
        !U32(file, size, headers.Directories + kResourceDirectory * 8 + 4, &length) || rva == 0)
        return false;
    uint64_t base = 0, available = 0;
    if (!RvaToOffset(file, size, headers, rva, &base, &available))
        return false;
    Directory tree{file, size, base, base + available};
    uint64_t typeEntry = 0, idEntry = 0, languageEntry = 0;
    uint32_t types = 0, languages = 0, data = 0;
    // Type, then id, then language: two subdirectories and a data entry.
    if (!FindEntry(tree, 0, typeName, typeId, false, &typeEntry, &types) || !(types & kHighBit) ||
        !FindEntry(tree, types & ~kHighBit, nullptr, id, false, &idEntry, &languages) ||
        !(languages & kHighBit) ||
        !FindEntry(tree, languages & ~kHighBit, nullptr, 0, true, &languageEntry, &data) ||
        (data & kHighBit))
        return false;
    uint32_t dataRva = 0, dataSize = 0;
    if (!U32(file, tree.Limit, base + data, &dataRva) ||
        !U32(file, tree.Limit, base + data + 4, &dataSize))
        return false;
    uint64_t offset = 0;
    if (!RvaToOffset(file, size, headers, dataRva, &offset, &available) ||
        (dataSize > 0 && available < dataSize))
        return false;
    resource->Offset = offset;
    resource->Size = dataSize;
    resource->IdEntryOffset = idEntry;
    return true;
}

void PeChecksum::Add(const uint8_t* data, size_t size) {
    // Windows programs are little-endian, and so is every machine that runs
    // them: a 32-bit word is two 16-bit words, the high one counting 65536
    // times, and 65536 is 1 modulo 65535, so summing 32-bit words and
    // folding once gives the end-around-carry sum of 16-bit words.
    uint64_t sum = 0;
    size_t whole = size & ~size_t(3);
    for (size_t i = 0; i < whole; i += 4) {
        uint32_t word;
        memcpy(&word, data + i, 4);
        sum += word;
    }
    if (size > whole) { // an odd last word counts with a zero high byte
        uint32_t word = 0;
        memcpy(&word, data + whole, size - whole);
        sum += word;
    }
    // The CheckSum field counts as zero: take its bytes out with the weight
    // they were added with (pieces start on 4-byte boundaries).
    for (uint32_t k = 0; k < 4; ++k) {
        uint64_t at = uint64_t(field_) + k;
        if (at >= size_ && at - size_ < size)
            sum -= uint64_t(data[at - size_]) << (8 * (at & 3));
    }
    sum_ += sum;
    size_ += size;
}

uint32_t PeChecksum::Value() const {
    uint64_t sum = sum_;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + size_);
}

uint32_t ComputePeChecksum(const uint8_t* file, uint64_t size, uint32_t checkSumOffset) {
    PeChecksum checksum(checkSumOffset);
    // size_t may be 32 bits: feed the file in pieces it can hold.
    const uint64_t piece = uint64_t(1) << 30;
    for (uint64_t at = 0; at < size; at += piece)
        checksum.Add(file + at, static_cast<size_t>(size - at < piece ? size - at : piece));
    return checksum.Value();
}

bool PeChecksumMatches(uint32_t stored, uint32_t computed, uint64_t fileSize) {
    if (stored == computed)
        return true;
    uint32_t ours = computed - static_cast<uint32_t>(fileSize);
    uint32_t theirs = stored - static_cast<uint32_t>(fileSize);
    return (ours == 0xFFFF && theirs == 0) || (ours == 0 && theirs == 0xFFFF);
}
