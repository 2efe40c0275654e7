#include "package/stream_inflater.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#endif

namespace {

// Length of an open file from its descriptor; the read position is untouched.
// Lengths beyond the 32-bit field are held at its maximum (progress only).
int32_t StreamLength(FILE* stream) {
#ifdef _WIN32
    long long length = _filelengthi64(_fileno(stream));
#else
    struct stat info;
    long long length =
        fstat(fileno(stream), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
#endif
    if (length < 0)
        return 0;
    if (length > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(length);
}

} // namespace

StreamInflater::StreamInflater()
    : z_stream(), abortRequested(0), input(nullptr), output(nullptr), inputLength(0),
      lastResult(0) {
    zalloc = nullptr;
    zfree = nullptr;
    opaque = nullptr;
}

void StreamInflater::ReportProgress(int) {}

void StreamInflater::ReportStatus(const char*) {}

void StreamInflater::OutputWritten(const unsigned char*, unsigned) {}

unsigned StreamInflater::RefillInput() {
    if (avail_in == 0) {
        next_in = inputBuffer;
        avail_in = static_cast<uInt>(fread(inputBuffer, 1, sizeof inputBuffer, input));
    }
    return avail_in;
}

unsigned StreamInflater::DrainOutput() {
    unsigned pending = static_cast<unsigned>(sizeof outputBuffer) - avail_out;
    if (pending == 0)
        return 0;
    if (fwrite(outputBuffer, 1, pending, output) < pending) {
        lastResult = kWriteFailed;
        return 0;
    }
    OutputWritten(outputBuffer, pending);
    next_out = outputBuffer;
    avail_out = sizeof outputBuffer;
    return pending;
}

int StreamInflater::ProgressPercent() const {
    if (inputLength == 0)
        return 100;
    if (inputLength <= 10000000)
        return static_cast<int>(static_cast<uint32_t>(total_in) * 100u /
                                static_cast<uint32_t>(inputLength));
    return static_cast<int>(static_cast<uint32_t>(total_in) /
                            static_cast<uint32_t>(inputLength / 100));
}

int StreamInflater::Run(const char* inputPath, const char* outputPath) {
    abortRequested = 0;
    lastResult = 0;
    avail_in = 0;
    next_out = outputBuffer;
    avail_out = sizeof outputBuffer;

    // Neither stream is touched unless both opened; the target is not created
    // (or truncated) when there is no input to fill it.
    input = fopen(inputPath, "rb");
    if (input == nullptr)
        return kOpenFailed;
    output = fopen(outputPath, "wb");
    if (output == nullptr) {
        fclose(input);
        input = nullptr;
        return kOpenFailed;
    }
    inputLength = StreamLength(input);

    // A failed initialisation shows as Z_STREAM_ERROR from the first inflate.
    inflateInit(this);

    // A failed write stays the result even when the retry of phase 2 gets
    // its bytes into stdio's buffer: zlib's code for that pass would hide it,
    // and bytes the failed write did store would be in the file twice.
    bool writeFailed = false;
    if (!abortRequested) {
        for (;;) {
            if (RefillInput() == 0)
                break;
            lastResult = inflate(this, Z_NO_FLUSH);
            DrainOutput();
            writeFailed |= lastResult == kWriteFailed;
            if (lastResult != Z_OK)
                break;
            ReportProgress(ProgressPercent());
            if (abortRequested)
                break;
        }
    }
    if (!abortRequested) {
        for (;;) {
            lastResult = inflate(this, Z_FINISH);
            unsigned written = DrainOutput();
            writeFailed |= lastResult == kWriteFailed;
            if (written == 0 || lastResult != Z_OK || abortRequested)
                break;
        }
    }
    if (writeFailed)
        lastResult = kWriteFailed;
    ReportProgress(ProgressPercent());
    inflateEnd(this);

    bool inflated = lastResult == Z_OK || lastResult == Z_STREAM_END;
    // stdio may still hold the tail of the file; a failed flush is a failed write.
    if (!abortRequested && inflated && fflush(output) != 0) {
        lastResult = kWriteFailed;
        inflated = false;
    }
    if (abortRequested) {
        ReportStatus("User Abort");
    } else if (!inflated) {
        ReportStatus("Zlib Error");
    } else {
        ReportStatus("Success");
        lastResult = Z_OK;
    }

    fclose(input);
    input = nullptr;
    if (fclose(output) != 0 && lastResult == Z_OK)
        lastResult = kWriteFailed;
    output = nullptr;
    return abortRequested ? kAborted : lastResult;
}

int InflateFile(const char* inputPath, const char* outputPath) {
    StreamInflater* inflater = new StreamInflater();
    int result = inflater->Run(inputPath, outputPath);
    delete inflater;
    return result;
}
