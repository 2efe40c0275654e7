#include "install/placed_files.h"

#include "package/package_digest.h"
#include "package/stream_inflater.h"

#include <map>

namespace {

class StampingInflater : public StreamInflater {
  public:
    ContentStamp Stamp;
    void OutputWritten(const unsigned char* data, unsigned size) override {
        Stamp.Crc = ExtendCrc32(Stamp.Crc, data, size);
        Stamp.Size += size;
    }
};

// Written and read by the worker thread only.
std::map<std::string, ContentStamp>& Placed() {
    static std::map<std::string, ContentStamp> placed;
    return placed;
}

} // namespace

int InflateFileStamped(const char* inputPath, const char* outputPath, ContentStamp* stamp) {
    StampingInflater* inflater = new StampingInflater();
    int result = inflater->Run(inputPath, outputPath);
    *stamp = inflater->Stamp;
    delete inflater;
    return result;
}

void ForgetPlacedFiles() {
    Placed().clear();
}

void RememberPlacedFile(const char* target, const ContentStamp& stamp) {
    Placed()[target] = stamp;
}

bool FindPlacedFile(const std::string& target, ContentStamp* stamp) {
    auto found = Placed().find(target);
    if (found == Placed().end())
        return false;
    *stamp = found->second;
    return true;
}
