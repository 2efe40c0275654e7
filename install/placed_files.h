#pragma once
// What the installation run itself placed: each new file with its size and
// the CRC-32 of its content, taken from the inflater's output blocks as they
// are written (the file is not read again). The uninstall record is built
// from this, so a file that was found already there is never taken for one
// the run made.
#include <cstdint>
#include <string>

struct ContentStamp {
    uint64_t Size = 0;
    uint32_t Crc = 0;
};

// InflateFile that also stamps the output; result as InflateFile.
int InflateFileStamped(const char* inputPath, const char* outputPath, ContentStamp* stamp);

// The run's list, by full target path (as the worker names it).
void ForgetPlacedFiles();
void RememberPlacedFile(const char* target, const ContentStamp& stamp);
bool FindPlacedFile(const std::string& target, ContentStamp* stamp);
