#include "package/resource_writer.h"

#include "package/package_digest.h"
#include "package/package_format.h"
#include "package/program_image.h"

#include <windows.h>

#include <cstring>

static std::string SystemMessage(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

bool AddPackageResources(const wchar_t* exe, const PackageBlob& payload, const PackageBlob& index,
                         const PackageBlob& config, const PackageBlob& digest, std::string* error) {
    for (const PackageBlob* blob : {&payload, &index, &config, &digest}) {
        if (blob->Present && (static_cast<unsigned long long>(blob->Size) >> 32) != 0) {
            *error = "a resource of 4 GiB or more cannot be written";
            return false;
        }
    }
    HANDLE update = BeginUpdateResourceW(exe, FALSE);
    if (update == nullptr) {
        *error = SystemMessage("cannot open the program's resources");
        return false;
    }
    struct {
        const PackageBlob* blob;
        int id;
    } parts[] = {{&payload, kPayloadResourceId},
                 {&index, kIndexResourceId},
                 {&config, kConfigResourceId},
                 {&digest, kDigestResourceId}};
    for (const auto& part : parts) {
        if (!part.blob->Present)
            continue;
        // UpdateResource treats a null pointer as "delete"; an empty resource
        // still needs a valid address.
        static const char empty = 0;
        const void* data = part.blob->Size ? part.blob->Data : &empty;
        if (!UpdateResourceW(update, L"BIN", MAKEINTRESOURCEW(part.id), kPackageLanguage,
                             const_cast<void*>(data), static_cast<DWORD>(part.blob->Size))) {
            *error = SystemMessage("cannot add a resource to the program");
            EndUpdateResourceW(update, TRUE);
            return false;
        }
    }
    if (!EndUpdateResourceW(update, FALSE)) {
        *error = SystemMessage("cannot write the program's resources");
        return false;
    }
    return SetProgramChecksum(exe, error);
}

bool SetProgramChecksum(const wchar_t* exe, std::string* error) {
    HANDLE file = CreateFileW(exe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = SystemMessage("cannot open the program to set its checksum");
        return false;
    }
    LARGE_INTEGER size = {};
    HANDLE mapping = GetFileSizeEx(file, &size) && size.QuadPart > 0
                         ? CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr)
                         : nullptr;
    uint8_t* view =
        mapping ? static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    ProgramLayout layout;
    bool ok = false;
    if (view == nullptr) {
        *error = SystemMessage("cannot map the program to set its checksum");
    } else if (!ReadProgramLayout(view, static_cast<uint64_t>(size.QuadPart), &layout)) {
        *error = "not a Windows program: its checksum cannot be set";
    } else {
        uint32_t sum =
            ComputePeChecksum(view, static_cast<uint64_t>(size.QuadPart), layout.CheckSumOffset);
        memcpy(view + layout.CheckSumOffset, &sum, sizeof sum);
        ok = FlushViewOfFile(view, 0) != FALSE;
        if (!ok)
            *error = SystemMessage("cannot write the program's checksum");
    }
    if (view)
        UnmapViewOfFile(view);
    if (mapping)
        CloseHandle(mapping);
    CloseHandle(file);
    return ok;
}

bool WriteSetupProgram(const char* templateExe, const char* outputExe, const PackageBlob& payload,
                       const PackageBlob& index, const PackageBlob& config,
                       const PackageBlob& digest, std::string* error) {
    if (!CopyFileA(templateExe, outputExe, FALSE)) {
        *error = SystemMessage((std::string("cannot copy ") + templateExe).c_str());
        return false;
    }
    wchar_t wideOutput[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, outputExe, -1, wideOutput, MAX_PATH) == 0 ||
        !AddPackageResources(wideOutput, payload, index, config, digest, error)) {
        if (error->empty())
            *error = std::string("path too long: ") + outputExe;
        DeleteFileA(outputExe);
        return false;
    }
    return true;
}
