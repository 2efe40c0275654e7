#include "package/package_resources.h"

#include "package/package_format.h"

static HMODULE g_packageModule;

void SetPackageModule(HMODULE module) {
    g_packageModule = module;
}

HMODULE PackageModule() {
    return g_packageModule ? g_packageModule : GetModuleHandleA(nullptr);
}

ResourceBytes LoadPackageResource(int id) {
    ResourceBytes bytes;
    HMODULE module = PackageModule();
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), kPackageResourceType);
    if (info == nullptr)
        return bytes;
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr)
        return bytes;
    bytes.Data = LockResource(loaded);
    bytes.Size = bytes.Data ? SizeofResource(module, info) : 0;
    bytes.Found = bytes.Data != nullptr;
    return bytes;
}
