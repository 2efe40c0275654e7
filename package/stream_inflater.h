#pragma once
// Inflater: one zlib stream, in a file or in memory, becomes one plain file.
#include <cstdint>
#include <cstdio>
#include <zlib.h>

class StreamInflater : public z_stream {
  public:
    // Results besides zlib's own codes.
    static constexpr int kWriteFailed = -1;
    static constexpr int kAborted = -7;
    static constexpr int kOpenFailed = -8;

    StreamInflater();
    virtual ~StreamInflater() = default;
    StreamInflater(const StreamInflater&) = delete;
    StreamInflater& operator=(const StreamInflater&) = delete;

    // Hooks; the base class does nothing with them.
    virtual void ReportProgress(int percent);
    virtual void ReportStatus(const char* text);
    // Each block of output once it is written to the file.
    virtual void OutputWritten(const unsigned char* data, unsigned size);

    // Asked between blocks; true ends the run at once with kAborted, both
    // files closed. Null asks nothing.
    using StopCheck = bool (*)();
    StopCheck stopCheck = nullptr;

    // 0 on success, -7 when aborted, -1 when a write failed, else zlib's
    // result; a file that cannot be opened gives kOpenFailed.
    int Run(const char* inputPath, const char* outputPath);
    // The same for a stream held in memory, written to a stream the caller
    // opened and closes; the output is flushed before the result is given.
    int Run(const uint8_t* stream, uint32_t length, FILE* outputStream);

    int ProgressPercent() const;

  protected:
    int abortRequested;
    FILE* input;
    FILE* output;
    int32_t inputLength;
    int lastResult;
    unsigned char inputBuffer[4096];
    // Larger than an input block: the zeros of a table space come out of a
    // few input bytes, and each block written costs a system call.
    unsigned char outputBuffer[65536];

  private:
    const uint8_t* memoryInput = nullptr; // what is left of an in-memory stream
    uint32_t memoryLeft = 0;

    unsigned RefillInput();
    unsigned DrainOutput();
    int InflateOpenStreams();
};

// Unpacks the zlib stream in inputPath into outputPath; result as Run.
int InflateFile(const char* inputPath, const char* outputPath,
                StreamInflater::StopCheck stopCheck = nullptr);
