// The file inflater on arbitrary bytes. The input's first byte picks when to
// ask for an abort (0: never); the rest is the file's content. A run that
// reports success must have written exactly what zlib makes of the stream.
#include "package/stream_inflater.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {

class FuzzInflater : public StreamInflater {
  public:
    int abortAt = 0;
    int reports = 0;
    void ReportProgress(int percent) override {
        if (percent < 0 || percent > 100)
            abort();
        if (++reports == abortAt)
            abortRequested = 1;
    }
    void ReportStatus(const char* text) override {
        if (text == nullptr || *text == '\0')
            abort();
    }
};

// What zlib makes of the stream up to its end; false when it does not end.
bool Reference(const uint8_t* data, size_t size, std::string* out) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char chunk[16384];
    int result;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        result = inflate(&z, Z_NO_FLUSH);
        out->append(reinterpret_cast<char*>(chunk), sizeof chunk - z.avail_out);
    } while (result == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        abort();
    char chunk[16384];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

std::string ScratchPath(const char* suffix) {
    const char* dir = getenv("FUZZ_SCRATCH_DIR");
    return std::string(dir ? dir : "/tmp") + "/inflater-" + std::to_string(getpid()) + suffix;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const std::string input = ScratchPath(".z");
    static const std::string output = ScratchPath(".out");
    FILE* f = fopen(input.c_str(), "wb");
    if (f == nullptr)
        abort();
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);

    FuzzInflater inflater;
    inflater.abortAt = data[0] & 0x0F;
    int result = inflater.Run(input.c_str(), output.c_str());
    if (result == StreamInflater::kAborted && inflater.abortAt == 0)
        abort(); // nobody asked
    if (result == 0) {
        std::string expected;
        if (!Reference(data + 1, size - 1, &expected) || ReadAll(output) != expected)
            abort(); // success reported for a stream zlib does not accept, or other bytes
    }
    remove(input.c_str());
    remove(output.c_str());
    return 0;
}
