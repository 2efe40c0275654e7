#pragma once
// The files a build writes: the payload, gathered in a temporary file so it
// is held in memory only once, and the setup program made from a template.
#include "tools/setup_pack/parallel_deflate.h"

#include <windows.h>

#include <string>

// A temporary file beside the output that receives the payload; removed when
// the object goes away.
class PayloadFile : public StreamSink {
  public:
    PayloadFile() = default;
    PayloadFile(const PayloadFile&) = delete;
    PayloadFile& operator=(const PayloadFile&) = delete;
    ~PayloadFile() override;

    bool Create(const std::wstring& folder, std::string* error);
    bool Write(const uint8_t* data, size_t size, std::string* error) override;
    bool EndStream(size_t, uint64_t, std::string*) override { return true; }
    // Maps the whole file for reading; valid until the object goes away.
    bool Map(const void** data, uint64_t* size, std::string* error);
    uint64_t Size() const { return size_; }
    // CRC-32 of everything written, kept as the bytes pass (for the digest).
    uint32_t Crc() const { return crc_; }

  private:
    bool Flush(std::string* error);
    bool WriteRaw(const uint8_t* data, size_t size, std::string* error);

    std::wstring path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    const void* view_ = nullptr;
    uint64_t size_ = 0;
    uint32_t crc_ = 0;
    std::vector<uint8_t> buffer_;
};

struct ResourceBlob {
    const void* Data;
    uint64_t Size;
};

// Copies the template and puts the package resources into the copy,
// working on a temporary file beside the output and renaming it at the end,
// so a failure leaves no output (and any previous output unchanged). A signed
// template loses its signature first (droppedSignature tells): rewriting the
// resources would break it.
bool WriteSetupExe(const std::wstring& templateExe, const std::wstring& outputExe,
                   const ResourceBlob& payload, const ResourceBlob& index,
                   const ResourceBlob& config, const ResourceBlob& digest, bool* droppedSignature,
                   std::string* error);

// The folder part of a path ("." when it has none).
std::wstring FolderOf(const std::wstring& path);
