#pragma once
// Helpers of the setup-pack tests: trees of files on the test drive and runs
// of setup-pack.exe with their output.
#include "package/package_writer.h"

#include <string>
#include <vector>

// Writes a file (path in UTF-8; folders made as needed) and stamps its times.
void PutFile(const std::string& utf8Path, const std::string& bytes, const PackageFileTimes& times);

struct PackRun {
    int ExitCode = -1;
    std::string Out; // stdout and stderr, UTF-8
};
// Runs setup-pack.exe with the given UTF-8 arguments (each quoted).
PackRun RunPack(const std::vector<std::string>& args);

// True when the file exists (UTF-8 path).
bool FileExistsUtf8(const std::string& utf8Path);
bool ReadFileUtf8(const std::string& utf8Path, std::string* bytes);
// The three times of a file, read back.
bool ReadTimes(const std::string& utf8Path, PackageFileTimes* times);

// A UTF-8 INI like the shipped one (LF line ends, no BOM).
std::string SampleIniUtf8();
