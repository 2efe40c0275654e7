#include "tools/setup_pack/pe_signature.h"

#include "package/program_image.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <cstring>

namespace {

// Where the fields signing touches lie in the file.
struct HeaderPlaces {
    uint32_t CheckSum = 0;          // offset of the optional header's CheckSum
    uint32_t SecurityDirectory = 0; // offset of IMAGE_DIRECTORY_ENTRY_SECURITY
};

std::string Problem(const std::string& what, const std::wstring& path) {
    return what + " " + WideToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")";
}

bool ReadAt(HANDLE file, uint64_t offset, void* out, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD done = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, out, size, &done, nullptr) && done == size;
}

bool WriteAt(HANDLE file, uint64_t offset, const void* data, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD done = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           WriteFile(file, data, size, &done, nullptr) && done == size;
}

// Both PE32 and PE32+ (the 64-bit twin's programs) are understood.
bool FindHeaderPlaces(HANDLE file, HeaderPlaces* places) {
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(file, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0)
        return false;
    uint32_t signature = 0;
    IMAGE_FILE_HEADER coff;
    uint16_t magic = 0;
    uint32_t optional = static_cast<uint32_t>(dos.e_lfanew) + 4 + sizeof coff;
    if (!ReadAt(file, static_cast<uint32_t>(dos.e_lfanew), &signature, sizeof signature) ||
        signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(file, static_cast<uint32_t>(dos.e_lfanew) + 4, &coff, sizeof coff) ||
        !ReadAt(file, optional, &magic, sizeof magic))
        return false;
    uint32_t directories, directoryCount;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        directories = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        directoryCount = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        directories = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        directoryCount = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
    } else {
        return false;
    }
    uint32_t count = 0;
    uint32_t securityEnd =
        directories + (IMAGE_DIRECTORY_ENTRY_SECURITY + 1) * sizeof(IMAGE_DATA_DIRECTORY);
    if (!ReadAt(file, optional + directoryCount, &count, sizeof count) ||
        count <= IMAGE_DIRECTORY_ENTRY_SECURITY || coff.SizeOfOptionalHeader < securityEnd)
        return false;
    // CheckSum lies at the same offset in both optional header kinds.
    static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum) ==
                      offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum),
                  "CheckSum offset");
    places->CheckSum = optional + offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum);
    places->SecurityDirectory =
        optional + directories + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    return true;
}

bool ReadInfo(HANDLE file, HeaderPlaces* places, SignatureInfo* info) {
    LARGE_INTEGER size;
    IMAGE_DATA_DIRECTORY security;
    if (!FindHeaderPlaces(file, places) || !GetFileSizeEx(file, &size) ||
        !ReadAt(file, places->SecurityDirectory, &security, sizeof security) ||
        !ReadAt(file, places->CheckSum, &info->CheckSum, sizeof info->CheckSum))
        return false;
    info->FileSize = static_cast<uint64_t>(size.QuadPart);
    // The security directory holds a file offset, not an address.
    info->Present = security.VirtualAddress != 0 && security.Size != 0;
    info->Offset = security.VirtualAddress;
    info->Size = security.Size;
    return true;
}

// Opens the program and reads its header places and signature; on failure
// says why and returns INVALID_HANDLE_VALUE.
HANDLE OpenProgram(const std::wstring& path, bool forWriting, HeaderPlaces* places,
                   SignatureInfo* info, std::string* error) {
    HANDLE file =
        CreateFileW(path.c_str(), forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                    forWriting ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = Problem("cannot open", path);
        return file;
    }
    if (!ReadInfo(file, places, info)) {
        CloseHandle(file);
        *error = "not a Windows program: " + WideToUtf8(path);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

} // namespace

bool ReadSignatureInfo(const std::wstring& path, SignatureInfo* info, std::string* error) {
    HeaderPlaces places;
    HANDLE file = OpenProgram(path, false, &places, info, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool RemoveSignature(const std::wstring& path, bool* removed, std::string* error) {
    *removed = false;
    HeaderPlaces places;
    SignatureInfo info;
    HANDLE file = OpenProgram(path, true, &places, &info, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    if (info.Present) {
        // Signing appends the table at the very end; a table elsewhere is
        // left as inert bytes once nothing points at it.
        IMAGE_DATA_DIRECTORY none = {0, 0};
        uint64_t end = static_cast<uint64_t>(info.Offset) + info.Size;
        bool atEnd = end == info.FileSize || (end < info.FileSize && info.FileSize - end < 8);
        LARGE_INTEGER cut;
        cut.QuadPart = info.Offset;
        ok = WriteAt(file, places.SecurityDirectory, &none, sizeof none) &&
             (!atEnd || (SetFilePointerEx(file, cut, nullptr, FILE_BEGIN) && SetEndOfFile(file)));
        if (!ok)
            *error = Problem("cannot remove the signature of", path);
        *removed = ok;
    }
    CloseHandle(file);
    return ok;
}

bool RefreshPeChecksum(const std::wstring& path, std::string* error) {
    HeaderPlaces places;
    SignatureInfo info;
    HANDLE file = OpenProgram(path, true, &places, &info, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    // Set even where the template left it 0: start-up checks every byte of
    // a program whose checksum is set.
    if (info.FileSize > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        uint32_t sum = 0;
        if (view)
            sum = ComputePeChecksum(static_cast<const uint8_t*>(view), info.FileSize,
                                    places.CheckSum);
        if (view)
            UnmapViewOfFile(view);
        if (mapping)
            CloseHandle(mapping);
        ok = view != nullptr && WriteAt(file, places.CheckSum, &sum, sizeof sum);
        if (!ok)
            *error = Problem("cannot update the header checksum of", path);
    }
    CloseHandle(file);
    return ok;
}
