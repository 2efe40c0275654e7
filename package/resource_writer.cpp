#include "package/resource_writer.h"

#include "package/package_format.h"

#include <windows.h>

static std::string SystemMessage(const char* what, const char* path) {
    return std::string(what) + " " + path + " (error " + std::to_string(GetLastError()) + ")";
}

bool WriteSetupProgram(const char* templateExe, const char* outputExe, const PackageBlob& payload,
                       const PackageBlob& index, const PackageBlob& config, std::string* error) {
    for (const PackageBlob* blob : {&payload, &index, &config}) {
        if (blob->Present && (static_cast<unsigned long long>(blob->Size) >> 32) != 0) {
            *error = "resource of 4 GiB or more";
            return false;
        }
    }
    if (!CopyFileA(templateExe, outputExe, FALSE)) {
        *error = SystemMessage("cannot copy", templateExe);
        return false;
    }
    HANDLE update = BeginUpdateResourceA(outputExe, FALSE);
    if (update == nullptr) {
        *error = SystemMessage("cannot open resources of", outputExe);
        DeleteFileA(outputExe);
        return false;
    }
    struct {
        const PackageBlob* blob;
        int id;
    } parts[] = {
        {&payload, kPayloadResourceId}, {&index, kIndexResourceId}, {&config, kConfigResourceId}};
    for (const auto& part : parts) {
        if (!part.blob->Present)
            continue;
        // UpdateResource treats a null pointer as "delete"; an empty resource
        // still needs a valid address.
        static const char empty = 0;
        const void* data = part.blob->Size ? part.blob->Data : &empty;
        if (!UpdateResourceA(update, kPackageResourceType, MAKEINTRESOURCEA(part.id),
                             kPackageLanguage, const_cast<void*>(data),
                             static_cast<DWORD>(part.blob->Size))) {
            *error = SystemMessage("cannot add a resource to", outputExe);
            EndUpdateResourceA(update, TRUE);
            DeleteFileA(outputExe);
            return false;
        }
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        *error = SystemMessage("cannot write resources of", outputExe);
        DeleteFileA(outputExe);
        return false;
    }
    return true;
}
