#include "tools/setup_pack/pack_output.h"

#include "package/resource_writer.h"

#include "package/package_digest.h"
#include "package/package_format.h"
#include "tools/setup_pack/pe_signature.h"
#include "tools/setup_pack/text_convert.h"

#include <cstring>

static std::string SystemError(const std::string& what, const std::wstring& path) {
    return what + " " + WideToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")";
}

static constexpr size_t kPayloadBuffer = 1u << 20;

std::wstring FolderOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos)
        return L".";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

PayloadFile::~PayloadFile() {
    if (view_)
        UnmapViewOfFile(view_);
    if (mapping_)
        CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        DeleteFileW(path_.c_str());
    }
}

bool PayloadFile::Create(const std::wstring& folder, std::string* error) {
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(folder.c_str(), L"spk", 0, name)) {
        *error = SystemError("cannot create a temporary file in", folder);
        return false;
    }
    path_ = name;
    file_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        *error = SystemError("cannot create", path_);
        return false;
    }
    buffer_.reserve(kPayloadBuffer);
    return true;
}

bool PayloadFile::WriteRaw(const uint8_t* data, size_t size, std::string* error) {
    size_t done = 0;
    while (done < size) {
        DWORD written = 0;
        DWORD want = static_cast<DWORD>(size - done < (1u << 30) ? size - done : (1u << 30));
        if (!WriteFile(file_, data + done, want, &written, nullptr) || written == 0) {
            *error = SystemError("cannot write", path_);
            return false;
        }
        done += written;
    }
    return true;
}

bool PayloadFile::Flush(std::string* error) {
    bool ok = WriteRaw(buffer_.data(), buffer_.size(), error);
    buffer_.clear();
    return ok;
}

bool PayloadFile::Write(const uint8_t* data, size_t size, std::string* error) {
    size_ += size;
    crc_ = ExtendCrc32(crc_, data, size);
    if (buffer_.size() + size > kPayloadBuffer && !Flush(error))
        return false;
    if (size >= kPayloadBuffer)
        return WriteRaw(data, size, error);
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
}

bool PayloadFile::Map(const void** data, uint64_t* size, std::string* error) {
    if (!Flush(error))
        return false;
    *size = size_;
    static const uint8_t kNothing = 0;
    if (size_ == 0) {
        *data = &kNothing;
        return true;
    }
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view_ == nullptr) {
        *error = SystemError("cannot map", path_);
        return false;
    }
    *data = view_;
    return true;
}

// Where a PE file's COFF header lies, or 0 when it is not a PE file.
static LONG CoffHeaderOffset(HANDLE file, IMAGE_FILE_HEADER* header) {
    IMAGE_DOS_HEADER dos = {};
    DWORD done = 0, signature = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    if (!ReadFile(file, &dos, sizeof dos, &done, nullptr) || done != sizeof dos ||
        dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return 0;
    SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN);
    if (!ReadFile(file, &signature, sizeof signature, &done, nullptr) ||
        signature != IMAGE_NT_SIGNATURE ||
        !ReadFile(file, header, sizeof *header, &done, nullptr) || done != sizeof *header)
        return 0;
    return dos.e_lfanew + static_cast<LONG>(sizeof signature);
}

// Rewriting the resources grows the sections over the linker's COFF symbol
// and string table at the end of the file but leaves the header pointing at
// the old place; long section names ("/4") then no longer resolve and tools
// that read the image refuse it. The table is carried over to the new end.
static bool CarrySymbolTable(const std::wstring& templateExe, const wchar_t* output) {
    HANDLE source = CreateFileW(templateExe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return false;
    IMAGE_FILE_HEADER header = {};
    std::vector<uint8_t> table;
    LARGE_INTEGER size = {};
    bool ok = true;
    if (CoffHeaderOffset(source, &header) != 0 && header.PointerToSymbolTable != 0 &&
        GetFileSizeEx(source, &size) && size.QuadPart > header.PointerToSymbolTable &&
        size.QuadPart - header.PointerToSymbolTable < (64 << 20)) {
        table.resize(static_cast<size_t>(size.QuadPart - header.PointerToSymbolTable));
        DWORD done = 0;
        SetFilePointer(source, static_cast<LONG>(header.PointerToSymbolTable), nullptr, FILE_BEGIN);
        ok = ReadFile(source, table.data(), static_cast<DWORD>(table.size()), &done, nullptr) &&
             done == table.size();
    }
    CloseHandle(source);
    if (!ok || table.empty())
        return ok;
    HANDLE file =
        CreateFileW(output, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LONG at = CoffHeaderOffset(file, &header);
    DWORD end = GetFileSize(file, nullptr);
    DWORD done = 0;
    ok = at != 0 && end != INVALID_FILE_SIZE &&
         SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
         WriteFile(file, table.data(), static_cast<DWORD>(table.size()), &done, nullptr) &&
         done == table.size();
    if (ok) {
        header.PointerToSymbolTable = end;
        SetFilePointer(file, at, nullptr, FILE_BEGIN);
        ok = WriteFile(file, &header, sizeof header, &done, nullptr) && done == sizeof header;
    }
    CloseHandle(file);
    return ok;
}

bool WriteSetupExe(const std::wstring& templateExe, const std::wstring& outputExe,
                   const ResourceBlob& payload, const ResourceBlob& index,
                   const ResourceBlob& config, const ResourceBlob& digest, bool* droppedSignature,
                   std::string* error) {
    for (const ResourceBlob* blob : {&payload, &index, &config, &digest}) {
        if (blob->Size > 0xFFFFFFFFull || static_cast<size_t>(blob->Size) != blob->Size) {
            *error = "a resource of 4 GiB or more cannot be written";
            return false;
        }
    }
    wchar_t temporary[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(FolderOf(outputExe).c_str(), L"spx", 0, temporary)) {
        *error = SystemError("cannot create a temporary file beside", outputExe);
        return false;
    }
    if (!CopyFileW(templateExe.c_str(), temporary, FALSE)) {
        *error = SystemError("cannot copy the template", templateExe);
        DeleteFileW(temporary);
        return false;
    }
    // UpdateResource knows nothing of a certificate table: on a signed
    // template it would leave a signature over bytes that changed.
    if (!RemoveSignature(temporary, droppedSignature, error)) {
        DeleteFileW(temporary);
        return false;
    }
    auto blob = [](const ResourceBlob& from) {
        return PackageBlob{from.Data, static_cast<size_t>(from.Size), true};
    };
    if (!AddPackageResources(temporary, blob(payload), blob(index), blob(config), blob(digest),
                             error)) {
        *error += ": " + WideToUtf8(outputExe);
        DeleteFileW(temporary);
        return false;
    }
    if (!CarrySymbolTable(templateExe, temporary)) {
        *error = SystemError("cannot finish the headers of", outputExe);
        DeleteFileW(temporary);
        return false;
    }
    if (!RefreshPeChecksum(temporary, error)) {
        DeleteFileW(temporary);
        return false;
    }
    if (!MoveFileExW(temporary, outputExe.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        *error = SystemError("cannot write", outputExe);
        DeleteFileW(temporary);
        return false;
    }
    return true;
}
