#pragma once
// Layout of the package carried in the setup program's resources:
//   BIN 101  payload: one zlib stream per file, back to back
//   BIN 102  index: PackageHeader, then one PackageEntry per file
//   BIN 121  configuration: INI text in code page 936
// All integers are little-endian; texts are NUL-terminated, zero-padded GBK.
#include <cstddef>
#include <cstdint>

enum : int {
    kPayloadResourceId = 101,
    kIndexResourceId = 102,
    kConfigResourceId = 121,
};
constexpr uint16_t kPackageLanguage = 0x0804; // Chinese (PRC)
constexpr const char* kPackageResourceType = "BIN";

constexpr size_t kPackageTextSize = 260;
constexpr size_t kRunArgsSize = 20;

#pragma pack(push, 1)
struct PackageFileTime {
    uint32_t Low;
    uint32_t High;
};

struct PackageHeader {
    uint32_t Reserved0; // not read by the installer; writers set 1
    uint32_t Reserved1; // not read by the installer; writers set 1
    char ServerProgram[kPackageTextSize];
    char ClientProgram[kPackageTextSize];
    uint32_t ClientRunFlag;
    uint32_t ServerRunFlag;
    char ClientRunArgs[kRunArgsSize];
    char ServerRunArgs[kRunArgsSize];
    uint32_t ClientBytes;
    uint32_t ServerBytes;
    uint32_t DatabaseBytes;
    uint32_t ServerEntryCount;
    uint32_t ClientEntryCount;
    uint32_t DatabaseEntryCount;
};

struct PackageEntry {
    uint32_t Ordinal;
    PackageFileTime CreationTime;
    PackageFileTime LastAccessTime;
    PackageFileTime LastWriteTime;
    uint32_t Size;
    char FileName[kPackageTextSize];
    char RelativePath[kPackageTextSize];
    uint32_t CompressedLength;
    uint32_t PayloadOffset;
};
#pragma pack(pop)

static_assert(sizeof(PackageFileTime) == 8, "FILETIME layout");
static_assert(sizeof(PackageHeader) == 600, "PackageHeader is 600 bytes");
static_assert(offsetof(PackageHeader, Reserved1) == 4, "");
static_assert(offsetof(PackageHeader, ServerProgram) == 8, "");
static_assert(offsetof(PackageHeader, ClientProgram) == 268, "");
static_assert(offsetof(PackageHeader, ClientRunFlag) == 528, "");
static_assert(offsetof(PackageHeader, ServerRunFlag) == 532, "");
static_assert(offsetof(PackageHeader, ClientRunArgs) == 536, "");
static_assert(offsetof(PackageHeader, ServerRunArgs) == 556, "");
static_assert(offsetof(PackageHeader, ClientBytes) == 576, "");
static_assert(offsetof(PackageHeader, ServerBytes) == 580, "");
static_assert(offsetof(PackageHeader, DatabaseBytes) == 584, "");
static_assert(offsetof(PackageHeader, ServerEntryCount) == 588, "");
static_assert(offsetof(PackageHeader, ClientEntryCount) == 592, "");
static_assert(offsetof(PackageHeader, DatabaseEntryCount) == 596, "");

static_assert(sizeof(PackageEntry) == 560, "PackageEntry is 560 bytes");
static_assert(offsetof(PackageEntry, CreationTime) == 4, "");
static_assert(offsetof(PackageEntry, LastAccessTime) == 12, "");
static_assert(offsetof(PackageEntry, LastWriteTime) == 20, "");
static_assert(offsetof(PackageEntry, Size) == 28, "");
static_assert(offsetof(PackageEntry, FileName) == 32, "");
static_assert(offsetof(PackageEntry, RelativePath) == 292, "");
static_assert(offsetof(PackageEntry, CompressedLength) == 552, "");
static_assert(offsetof(PackageEntry, PayloadOffset) == 556, "");

// The three groups, in the order they are stored and installed.
enum class PackageGroup : int { Server = 0, Client = 1, Database = 2 };
constexpr int kPackageGroupCount = 3;
