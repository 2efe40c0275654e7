#pragma once
// File-to-file inflater: one zlib stream in a file becomes one plain file.
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

    // 0 on success, -7 when aborted, -1 when a write failed, else zlib's
    // result; a file that cannot be opened gives kOpenFailed.
    int Run(const char* inputPath, const char* outputPath);

    int ProgressPercent() const;

  protected:
    int abortRequested;
    FILE* input;
    FILE* output;
    int32_t inputLength;
    int lastResult;
    unsigned char inputBuffer[4096];
    unsigned char outputBuffer[4096];

  private:
    unsigned RefillInput();
    unsigned DrainOutput();
};

// Unpacks the zlib stream in inputPath into outputPath; result as Run.
int InflateFile(const char* inputPath, const char* outputPath);
