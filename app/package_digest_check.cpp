#include "app/package_digest_check.h"

#include "install/setup_context.h"
#include "package/package_digest.h"
#include "package/package_format.h"
#include "package/package_resources.h"
#include "package/program_image.h"

#include <string>
#include <vector>

namespace {

const int kPartIds[kDigestPartCount] = {kConfigResourceId, kIndexResourceId, kPayloadResourceId};

// A file mapped read-only for the length of the check.
class MappedProgram {
  public:
    MappedProgram() = default;
    MappedProgram(const MappedProgram&) = delete;
    MappedProgram& operator=(const MappedProgram&) = delete;
    ~MappedProgram() {
        if (view_)
            UnmapViewOfFile(view_);
        if (mapping_)
            CloseHandle(mapping_);
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }

    bool Open(const wchar_t* path) {
        // The loader holds the running program open; sharing everything
        // keeps this open from failing beside it.
        file_ =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        LARGE_INTEGER size;
        if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size) || size.QuadPart == 0 ||
            static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
            return false;
        mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0) : nullptr;
        size_ = static_cast<uint64_t>(size.QuadPart);
        return view_ != nullptr;
    }
    const uint8_t* Data() const { return static_cast<const uint8_t*>(view_); }
    // The bytes at offset, read into buffer: a read copies them from the
    // cache, where touching the mapping costs a page fault for each page.
    // The mapped bytes when the read fails.
    const uint8_t* Bytes(uint64_t offset, uint8_t* buffer, DWORD size) const {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (ReadFile(file_, buffer, size, &read, &at) && read == size)
            return buffer;
        return Data() + offset;
    }
    uint64_t Size() const { return size_; }

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    const void* view_ = nullptr;
    uint64_t size_ = 0;
};

std::wstring PackageFilePath() {
    std::vector<wchar_t> path(32768);
    DWORD length =
        GetModuleFileNameW(PackageModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return std::wstring();
    return std::wstring(path.data(), length);
}

ResourceSpan Span(const ResourceBytes& bytes) {
    ResourceSpan span;
    span.Data = bytes.Data;
    span.Size = bytes.Found ? bytes.Size : 0;
    return span;
}

// The digest check through the loaded resources, for a file that cannot be
// read as bytes.
bool ResourcesMatchDigest(const ResourceBytes& stored, CheckProgressWindow* progress) {
    if (!stored.Found)
        return true;
    PackageDigest digest;
    if (DecodeDigest(stored.Data, stored.Size, &digest) != DigestFormat::kOk)
        return false;
    ResourceSpan parts[kDigestPartCount];
    for (int i = 0; i < kDigestPartCount; ++i)
        parts[i] = Span(LoadPackageResource(kPartIds[i]));
    bool mismatched[kDigestPartCount];
    return CheckPackageDigest(
        digest, parts,
        [progress](uint64_t done, uint64_t total) { UpdateCheckProgress(progress, done, total); },
        true, mismatched);
}

// Where the digest and its parts lie in the file.
struct FilePlaces {
    bool HasDigest = false;
    FileResource Digest;
    bool HasPart[kDigestPartCount] = {};
    FileResource Parts[kDigestPartCount];
};

// False when the walk over the file's resource directory and the loader
// disagree: the loader's resources are then checked apart.
bool FindPlaces(const MappedProgram& file, FilePlaces* places) {
    places->HasDigest = FindFileResource(file.Data(), file.Size(), kPackageResourceType, 0,
                                         kDigestResourceId, &places->Digest);
    if (places->HasDigest != LoadPackageResource(kDigestResourceId).Found)
        return false;
    for (int i = 0; i < kDigestPartCount; ++i) {
        places->HasPart[i] = FindFileResource(file.Data(), file.Size(), kPackageResourceType, 0,
                                              kPartIds[i], &places->Parts[i]);
        ResourceBytes loaded = LoadPackageResource(kPartIds[i]);
        if (places->HasPart[i] != loaded.Found ||
            (loaded.Found && loaded.Size != places->Parts[i].Size))
            return false;
    }
    return true;
}

// One pass over the file: the header checksum over every byte (when it is
// set) and the CRC-32 of each digest part over its own bytes.
bool FileMatches(const MappedProgram& file, const ProgramLayout& layout, const FilePlaces& places,
                 CheckProgressWindow* progress) {
    const bool checksumSet = layout.StoredCheckSum != 0;
    PackageDigest digest;
    if (places.HasDigest && DecodeDigest(file.Data() + places.Digest.Offset, places.Digest.Size,
                                         &digest) != DigestFormat::kOk)
        return false;
    uint64_t first = checksumSet ? 0 : file.Size(), end = checksumSet ? file.Size() : 0;
    for (int i = 0; places.HasDigest && i < kDigestPartCount; ++i) {
        uint32_t size = places.HasPart[i] ? places.Parts[i].Size : 0;
        // A size that differs needs no reading: the part is damaged.
        if (size != digest.Parts[i].Size)
            return false;
        if (size > 0) {
            first = places.Parts[i].Offset < first ? places.Parts[i].Offset : first;
            uint64_t partEnd = places.Parts[i].Offset + size;
            end = partEnd > end ? partEnd : end;
        }
    }
    PeChecksum checksum(layout.CheckSumOffset);
    uint32_t crc[kDigestPartCount] = {};
    // Pieces start on 4-byte boundaries, as the checksum needs. Reads of
    // 256 KB stay in the cache between the two sums and cost few calls.
    const DWORD kReadSize = 256u << 10;
    std::vector<uint8_t> buffer(kReadSize);
    for (uint64_t at = first; at < end; at += kReadSize) {
        DWORD size = end - at < kReadSize ? static_cast<DWORD>(end - at) : kReadSize;
        const uint8_t* bytes = file.Bytes(at, buffer.data(), size);
        if (checksumSet)
            checksum.Add(bytes, size);
        for (int i = 0; places.HasDigest && i < kDigestPartCount; ++i) {
            if (!places.HasPart[i])
                continue;
            uint64_t from = places.Parts[i].Offset, to = from + places.Parts[i].Size;
            from = from > at ? from : at;
            to = to < at + size ? to : at + size;
            if (from < to)
                crc[i] = ExtendCrc32(crc[i], bytes + (from - at), static_cast<size_t>(to - from));
        }
        UpdateCheckProgress(progress, at + size - first, end - first);
    }
    if (checksumSet && !PeChecksumMatches(layout.StoredCheckSum, checksum.Value(), file.Size()))
        return false;
    for (int i = 0; places.HasDigest && i < kDigestPartCount; ++i)
        if (crc[i] != digest.Parts[i].Crc)
            return false;
    return true;
}

} // namespace

bool ProgramFileIsIntact(const wchar_t* programPath, const CheckProgressPace& pace) {
    std::wstring path = programPath ? programPath : PackageFilePath();
    CheckProgressWindow progress;
    BeginCheckProgress(&progress, pace, g_SetupContext.ConfigPath);
    MappedProgram file;
    ProgramLayout layout;
    FilePlaces places;
    bool intact;
    ResourceBytes stored = LoadPackageResource(kDigestResourceId);
    if (path.empty() || !file.Open(path.c_str()) ||
        !ReadProgramLayout(file.Data(), file.Size(), &layout))
        intact = ResourcesMatchDigest(stored, &progress);
    else if (FindPlaces(file, &places))
        intact = FileMatches(file, layout, places, &progress);
    else // the checksum alone over the file, the digest over the loaded resources
        intact = FileMatches(file, layout, FilePlaces(), &progress) &&
                 ResourcesMatchDigest(stored, &progress);
    EndCheckProgress(&progress);
    return intact;
}
