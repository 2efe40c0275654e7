#include "package/resource_writer.h"

#include "package/package_digest.h"
#include "package/package_format.h"

#include <windows.h>

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
    return true;
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
