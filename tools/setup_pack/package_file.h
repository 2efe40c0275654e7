#pragma once
// A built setup program opened as data, with its package resources.
#include <windows.h>

#include <cstdint>
#include <string>

struct ResourceView {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    bool Found = false;
};

class PackageFile {
  public:
    PackageFile() = default;
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;
    ~PackageFile();

    // Loads the program as a data file; the resources are then read in place.
    bool Open(const std::wstring& path, std::string* error);
    ResourceView Payload() const { return payload_; }
    ResourceView Index() const { return index_; }
    ResourceView Config() const { return config_; }
    ResourceView Digest() const { return digest_; }
    // Any other BIN resource (the uninstaller, 131).
    ResourceView Resource(int id) const { return Load(id); }

  private:
    ResourceView Load(int id) const;

    HMODULE module_ = nullptr;
    ResourceView payload_, index_, config_, digest_;
};
