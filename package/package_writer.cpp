#include "package/package_writer.h"

#include <cstring>
#include <zlib.h>

bool CompressZlib(const void* data, size_t size, int level, std::vector<uint8_t>* out) {
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (deflateInit(&stream, level) != Z_OK)
        return false;
    out->resize(deflateBound(&stream, static_cast<uLong>(size)));
    stream.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out->data();
    stream.avail_out = static_cast<uInt>(out->size());
    int result = deflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

static bool CopyField(char* field, size_t fieldSize, const std::string& text, const char* what,
                      std::string* error) {
    if (text.size() >= fieldSize || text.find('\0') != std::string::npos) {
        *error = std::string(what) + " does not fit its " + std::to_string(fieldSize) +
                 "-byte field: " + text;
        return false;
    }
    memset(field, 0, fieldSize);
    memcpy(field, text.data(), text.size());
    return true;
}

bool PackageBuilder::Begin(const PackageSettings& settings, std::string* error) {
    memset(&header_, 0, sizeof header_);
    entries_.clear();
    payload_.clear();
    payloadLength_ = 0;
    lastGroup_ = 0;
    header_.Reserved0 = 1;
    header_.Reserved1 = 1;
    header_.ServerRunFlag = settings.ServerRun ? 1 : 0;
    header_.ClientRunFlag = settings.ClientRun ? 1 : 0;
    bool ok = CopyField(header_.ServerProgram, sizeof header_.ServerProgram, settings.ServerProgram,
                        "server program name", error) &&
              CopyField(header_.ClientProgram, sizeof header_.ClientProgram, settings.ClientProgram,
                        "client program name", error) &&
              CopyField(header_.ServerRunArgs, sizeof header_.ServerRunArgs, settings.ServerRunArgs,
                        "server run arguments", error) &&
              CopyField(header_.ClientRunArgs, sizeof header_.ClientRunArgs, settings.ClientRunArgs,
                        "client run arguments", error);
    return ok;
}

static std::string LastComponent(const std::string& path) {
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(path[i]);
        if (b >= 0x81 && b <= 0xFE && i + 1 < path.size()) {
            ++i; // skip the trail byte, which may be 0x5C
            continue;
        }
        if (b == '\\')
            cut = i;
    }
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool PackageBuilder::Record(PackageGroup group, const std::string& relativePath, uint64_t size,
                            const PackageFileTimes& times, uint64_t streamLength,
                            std::string* error) {
    int groupIndex = static_cast<int>(group);
    if (groupIndex < lastGroup_) {
        *error = "entries must be added server first, then client, then database: " + relativePath;
        return false;
    }
    if (size > limits_.MaxFileSize) {
        *error = "file of 4 GiB or more: " + relativePath;
        return false;
    }
    if (payloadLength_ + streamLength > limits_.MaxPayloadSize) {
        *error = "payload would pass the 32-bit offsets at: " + relativePath;
        return false;
    }
    uint32_t* totals[] = {&header_.ServerBytes, &header_.ClientBytes, &header_.DatabaseBytes};
    if (static_cast<uint64_t>(*totals[groupIndex]) + size > limits_.MaxGroupBytes) {
        *error = "group byte total would pass 32 bits at: " + relativePath;
        return false;
    }
    PackageEntry entry;
    memset(&entry, 0, sizeof entry);
    if (!CopyField(entry.RelativePath, sizeof entry.RelativePath, relativePath, "relative path",
                   error) ||
        !CopyField(entry.FileName, sizeof entry.FileName, LastComponent(relativePath), "file name",
                   error))
        return false;
    entry.Ordinal = static_cast<uint32_t>(entries_.size());
    entry.CreationTime = times.Creation;
    entry.LastAccessTime = times.LastAccess;
    entry.LastWriteTime = times.LastWrite;
    entry.Size = static_cast<uint32_t>(size);
    entry.CompressedLength = static_cast<uint32_t>(streamLength);
    entry.PayloadOffset = static_cast<uint32_t>(payloadLength_);
    payloadLength_ += streamLength;
    entries_.push_back(entry);
    lastGroup_ = groupIndex;
    *totals[groupIndex] += static_cast<uint32_t>(size);
    uint32_t* counts[] = {&header_.ServerEntryCount, &header_.ClientEntryCount,
                          &header_.DatabaseEntryCount};
    ++*counts[groupIndex];
    return true;
}

bool PackageBuilder::AddCompressed(PackageGroup group, const std::string& relativePath,
                                   uint64_t size, const PackageFileTimes& times,
                                   const uint8_t* stream, size_t streamLength, std::string* error) {
    if (!Record(group, relativePath, size, times, streamLength, error))
        return false;
    payload_.insert(payload_.end(), stream, stream + streamLength);
    return true;
}

bool PackageBuilder::AddStreamed(PackageGroup group, const std::string& relativePath, uint64_t size,
                                 const PackageFileTimes& times, uint64_t streamLength,
                                 std::string* error) {
    return Record(group, relativePath, size, times, streamLength, error);
}

bool PackageBuilder::AddFile(PackageGroup group, const std::string& relativePath, const void* data,
                             size_t size, const PackageFileTimes& times, int level,
                             std::string* error) {
    std::vector<uint8_t> stream;
    if (!CompressZlib(data, size, level, &stream)) {
        *error = "compression failed: " + relativePath;
        return false;
    }
    return AddCompressed(group, relativePath, size, times, stream.data(), stream.size(), error);
}

const std::vector<uint8_t>& PackageBuilder::Index() const {
    index_.resize(sizeof(PackageHeader) + entries_.size() * sizeof(PackageEntry));
    memcpy(index_.data(), &header_, sizeof header_);
    if (!entries_.empty())
        memcpy(index_.data() + sizeof header_, entries_.data(),
               entries_.size() * sizeof(PackageEntry));
    return index_;
}
