#pragma once
// Lists the files of one group folder in the order they are packed.
#include "package/package_writer.h"

#include <cstdint>
#include <string>
#include <vector>

struct FoundFile {
    std::wstring FullPath;
    std::string RelativePath; // GBK, backslash separated
    uint64_t Size = 0;
    PackageFileTimes Times;
};

struct WalkResult {
    std::vector<FoundFile> Files;
    std::vector<std::string> EmptyFolders; // UTF-8, for notes to the user
};

// Walks root and its subfolders depth first, names in ordinal order ignoring
// case (then by case), so the same tree always gives the same list. Refuses
// names that code page 936 cannot hold, relative paths longer than 259
// bytes, files larger than maxFileSize and names that differ only in case.
bool WalkGroupFolder(const std::wstring& root, uint64_t maxFileSize, WalkResult* result,
                     std::string* error);

// Orders two names the way WalkGroupFolder does.
bool NameLess(const std::wstring& a, const std::wstring& b);
