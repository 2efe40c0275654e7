#include "tools/setup_pack/folder_walk.h"

#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr size_t kMaxRelativePath = 259; // RelativePath is a 260-byte field

PackageFileTime ToPackageTime(const FILETIME& time) {
    return {time.dwLowDateTime, time.dwHighDateTime};
}

int CompareIgnoringCase(const std::wstring& a, const std::wstring& b) {
    int result = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                      static_cast<int>(b.size()), TRUE);
    return result - CSTR_EQUAL;
}

struct Walker {
    std::wstring Root;
    uint64_t MaxFileSize;
    WalkResult* Result;
    std::string* Error;

    bool Fail(const std::string& message) {
        *Error = message;
        return false;
    }

    bool Walk(const std::wstring& relative) {
        std::wstring folder = relative.empty() ? Root : Root + L"\\" + relative;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return Fail("cannot read folder " + WideToUtf8(folder) + " (error " +
                        std::to_string(GetLastError()) + ")");
        std::vector<WIN32_FIND_DATAW> children;
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                children.push_back(found);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        std::sort(children.begin(), children.end(),
                  [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
                      return NameLess(a.cFileName, b.cFileName);
                  });
        for (size_t i = 1; i < children.size(); ++i) {
            if (CompareIgnoringCase(children[i - 1].cFileName, children[i].cFileName) == 0)
                return Fail("names differ only in case, which Windows cannot hold side by side: " +
                            WideToUtf8(folder + L"\\" + children[i].cFileName));
        }
        if (children.empty() && !relative.empty())
            Result->EmptyFolders.push_back(WideToUtf8(folder));
        for (const WIN32_FIND_DATAW& child : children) {
            std::wstring childRelative =
                relative.empty() ? child.cFileName : relative + L"\\" + child.cFileName;
            std::wstring full = Root + L"\\" + childRelative;
            FoundFile file;
            if (!WideToGbk(childRelative, &file.RelativePath))
                return Fail("name cannot be written in code page 936: " + WideToUtf8(full));
            // Checked before descending, which also ends a walk around a
            // folder link that points back up the tree.
            if (file.RelativePath.size() > kMaxRelativePath)
                return Fail("relative path is longer than 259 bytes in code page 936 (" +
                            std::to_string(file.RelativePath.size()) +
                            " bytes): " + WideToUtf8(full));
            if (child.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!Walk(childRelative))
                    return false;
                continue;
            }
            file.FullPath = full;
            file.Size = (static_cast<uint64_t>(child.nFileSizeHigh) << 32) | child.nFileSizeLow;
            if (file.Size > MaxFileSize)
                return Fail("file of 4 GiB or more cannot be packed (" + std::to_string(file.Size) +
                            " bytes): " + WideToUtf8(full));
            file.Times.Creation = ToPackageTime(child.ftCreationTime);
            file.Times.LastAccess = ToPackageTime(child.ftLastAccessTime);
            file.Times.LastWrite = ToPackageTime(child.ftLastWriteTime);
            Result->Files.push_back(file);
        }
        return true;
    }
};

} // namespace

bool NameLess(const std::wstring& a, const std::wstring& b) {
    int folded = CompareIgnoringCase(a, b);
    return folded != 0 ? folded < 0 : a < b;
}

bool WalkGroupFolder(const std::wstring& root, uint64_t maxFileSize, WalkResult* result,
                     std::string* error) {
    std::wstring trimmed = root;
    while (trimmed.size() > 1 && (trimmed.back() == L'\\' || trimmed.back() == L'/'))
        trimmed.pop_back();
    DWORD attributes = GetFileAttributesW(trimmed.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = "not a folder: " + WideToUtf8(root);
        return false;
    }
    Walker walker{trimmed, maxFileSize, result, error};
    return walker.Walk(L"");
}
