#include "tools/setup_pack/package_file.h"

#include "package/package_digest.h"
#include "package/package_format.h"
#include "tools/setup_pack/text_convert.h"

PackageFile::~PackageFile() {
    if (module_)
        FreeLibrary(module_);
}

bool PackageFile::Open(const std::wstring& path, std::string* error) {
    // As a data file the image is neither run nor bound to this process's
    // architecture: a 32-bit setup program opens from the 64-bit tool.
    module_ = LoadLibraryExW(path.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module_ == nullptr) {
        *error = "cannot open " + WideToUtf8(path) + " as a Windows program (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    payload_ = Load(kPayloadResourceId);
    index_ = Load(kIndexResourceId);
    config_ = Load(kConfigResourceId);
    digest_ = Load(kDigestResourceId);
    return true;
}

ResourceView PackageFile::Load(int id) const {
    ResourceView view;
    HRSRC info = FindResourceW(module_, MAKEINTRESOURCEW(id), L"BIN");
    HGLOBAL loaded = info ? LoadResource(module_, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data) {
        view.Data = static_cast<const uint8_t*>(data);
        view.Size = SizeofResource(module_, info);
        view.Found = true;
    }
    return view;
}
