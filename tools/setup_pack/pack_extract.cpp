#include "tools/setup_pack/pack_inspect.h"

#include "package/package_reader.h"
#include "tools/setup_pack/console_out.h"
#include "tools/setup_pack/digest_report.h"
#include "tools/setup_pack/package_file.h"
#include "tools/setup_pack/pack_verify.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <cstring>

namespace {

// Creates every folder of path below base (base itself must exist).
bool MakeFolders(const std::wstring& base, const std::wstring& relativeFolder) {
    std::wstring path = base;
    size_t start = 0;
    while (start < relativeFolder.size()) {
        size_t cut = relativeFolder.find(L'\\', start);
        if (cut == std::wstring::npos)
            cut = relativeFolder.size();
        path += L"\\" + relativeFolder.substr(start, cut - start);
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        start = cut + 1;
    }
    return true;
}

std::string ExtractOne(const PackageView& view, const PackageEntry& entry,
                       const std::wstring& groupFolder) {
    if (!IsSafeRelativePath(entry.RelativePath, sizeof entry.RelativePath))
        return "relative path is not safe; skipped";
    const uint8_t* stream = view.Stream(entry);
    if (stream == nullptr)
        return "stream lies outside the payload; skipped";
    std::wstring relative;
    if (!GbkToWideStrict(entry.RelativePath, &relative))
        return "relative path is not valid code page 936; skipped";
    for (wchar_t& c : relative)
        if (c == L'/')
            c = L'\\';
    size_t cut = relative.rfind(L'\\');
    if (cut != std::wstring::npos && !MakeFolders(groupFolder, relative.substr(0, cut)))
        return "cannot create its folder (error " + std::to_string(GetLastError()) + ")";
    std::wstring path = groupFolder + L"\\" + relative;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cannot create " + WideToUtf8(path) + " (error " + std::to_string(GetLastError()) +
               ")";
    std::string problem = InflateEntry(
        stream, entry.CompressedLength, entry.Size, [&](const uint8_t* data, size_t n) {
            DWORD written = 0;
            return WriteFile(file, data, static_cast<DWORD>(n), &written, nullptr) && written == n;
        });
    FILETIME created = {entry.CreationTime.Low, entry.CreationTime.High};
    FILETIME accessed = {entry.LastAccessTime.Low, entry.LastAccessTime.High};
    FILETIME written = {entry.LastWriteTime.Low, entry.LastWriteTime.High};
    if (problem.empty() && !SetFileTime(file, &created, &accessed, &written))
        problem = "cannot set its times";
    CloseHandle(file);
    return problem;
}

} // namespace

int RunExtract(const std::wstring& setupExe, const std::wstring& folder, bool ignoreDigest) {
    PackageFile package;
    std::string error;
    if (!package.Open(setupExe, &error)) {
        PrintError("setup-pack: " + error);
        return 1;
    }
    ResourceView index = package.Index();
    ResourceView payload = package.Payload();
    PackageView view(index.Data, index.Size, payload.Data, payload.Size);
    if (!view.HasHeader()) {
        PrintError("setup-pack: no package index in " + WideToUtf8(setupExe));
        return 1;
    }
    // A program that differs from its digest is damaged: what it would give
    // is not what was packed, so nothing is written unless asked for.
    DigestReport digest = ExamineDigest(package.Digest(), package.Config(), index, payload);
    for (const std::string& fault : DigestFaults(digest))
        PrintError("setup-pack: " + fault);
    if (digest.Damaged() && !ignoreDigest) {
        PrintError("setup-pack: " + WideToUtf8(setupExe) +
                   " is damaged; nothing extracted (--ignore-digest extracts it anyway)");
        return 1;
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    PackageHeader header = view.Header();
    std::wstring groupFolders[kPackageGroupCount];
    const wchar_t* names[] = {L"server", L"client", L"database"};
    for (int g = 0; g < kPackageGroupCount; ++g) {
        groupFolders[g] = folder + L"\\" + names[g];
        if (!CreateDirectoryW(groupFolders[g].c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            PrintError("setup-pack: cannot create " + WideToUtf8(groupFolders[g]));
            return 1;
        }
    }
    uint64_t declared = static_cast<uint64_t>(header.ServerEntryCount) + header.ClientEntryCount +
                        header.DatabaseEntryCount;
    uint32_t count = view.StoredEntryCount();
    int failures = digest.Damaged() ? 1 : 0;
    if (declared != count) {
        PrintError("setup-pack: the counts call for " + std::to_string(declared) +
                   " entries but the index holds " + std::to_string(count));
        ++failures;
    }
    if (declared < count)
        count = static_cast<uint32_t>(declared);
    for (uint32_t i = 0; i < count; ++i) {
        PackageEntry entry;
        view.Entry(i, &entry);
        PackageGroup group = GroupOfEntry(header, i);
        std::string problem = ExtractOne(view, entry, groupFolders[static_cast<int>(group)]);
        if (!problem.empty()) {
            std::string path(entry.RelativePath,
                             strnlen(entry.RelativePath, sizeof entry.RelativePath));
            PrintError("setup-pack: entry " + std::to_string(i) + " (" + GroupName(group) + " " +
                       GbkForDisplay(path) + "): " + problem);
            ++failures;
        }
    }
    PrintOut("extracted: " + std::to_string(count) + " entries, " + std::to_string(failures) +
             " problem(s)");
    return failures == 0 ? 0 : 1;
}
