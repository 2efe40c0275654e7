#include "tools/setup_pack/pack_build.h"

#include "package/package_writer.h"
#include "package/resource_writer.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

struct FoundFile {
    std::wstring FullPath;
    std::string RelativePath; // GBK, backslash separated
};

bool ReadWholeFile(const std::wstring& path, std::string* out) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0xFFFFFFFFll;
    if (ok) {
        out->resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = size.QuadPart == 0 ||
             (ReadFile(file, &(*out)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
              read == size.QuadPart);
    }
    CloseHandle(file);
    return ok;
}

// Collects the files below root, subfolders included, sorted by their
// relative path so the same folders always give the same package.
bool WalkFolder(const std::wstring& root, const std::wstring& relative,
                std::vector<FoundFile>* files, std::string* error) {
    WIN32_FIND_DATAW found;
    std::wstring pattern = root + L"\\" + relative + (relative.empty() ? L"*" : L"\\*");
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        *error = "cannot read folder " + WideToUtf8(root + L"\\" + relative);
        return false;
    }
    std::vector<std::wstring> names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        std::wstring childRelative = relative.empty() ? name : relative + L"\\" + name;
        std::wstring full = root + L"\\" + childRelative;
        DWORD attributes = GetFileAttributesW(full.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (!WalkFolder(root, childRelative, files, error))
                return false;
            continue;
        }
        FoundFile file;
        file.FullPath = full;
        if (!WideToGbk(childRelative, &file.RelativePath)) {
            *error = "file name cannot be written in code page 936: " + WideToUtf8(full);
            return false;
        }
        files->push_back(file);
    }
    return true;
}

bool AddGroup(PackageBuilder* builder, PackageGroup group, const std::string& dir, int level,
              std::string* error) {
    if (dir.empty())
        return true;
    std::vector<FoundFile> files;
    if (!WalkFolder(Utf8ToWide(dir), L"", &files, error))
        return false;
    for (const FoundFile& file : files) {
        std::string bytes;
        if (!ReadWholeFile(file.FullPath, &bytes)) {
            *error = "cannot read " + WideToUtf8(file.FullPath);
            return false;
        }
        PackageFileTimes times;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(file.FullPath.c_str(), GetFileExInfoStandard, &data)) {
            times.Creation = {data.ftCreationTime.dwLowDateTime, data.ftCreationTime.dwHighDateTime};
            times.LastAccess = {data.ftLastAccessTime.dwLowDateTime,
                                data.ftLastAccessTime.dwHighDateTime};
            times.LastWrite = {data.ftLastWriteTime.dwLowDateTime,
                               data.ftLastWriteTime.dwHighDateTime};
        }
        if (!builder->AddFile(group, file.RelativePath, bytes.data(), bytes.size(), times, level,
                              error))
            return false;
    }
    return true;
}

} // namespace

bool RunPackBuild(const PackBuildOptions& options, std::string* error) {
    std::string configUtf8;
    if (!ReadWholeFile(Utf8ToWide(options.ConfigPath), &configUtf8)) {
        *error = "cannot read configuration " + options.ConfigPath;
        return false;
    }
    std::string config;
    if (!ConvertConfigText(configUtf8, &config, error))
        return false;

    PackageSettings settings;
    std::wstring serverProgram = Utf8ToWide(options.ServerProgram);
    std::wstring clientProgram = Utf8ToWide(options.ClientProgram);
    if (!WideToGbk(serverProgram, &settings.ServerProgram) ||
        !WideToGbk(clientProgram, &settings.ClientProgram)) {
        *error = "program name cannot be written in code page 936";
        return false;
    }
    settings.ServerRun = options.ServerRun;
    settings.ClientRun = options.ClientRun;
    settings.ServerRunArgs = options.ServerRunArgs;
    settings.ClientRunArgs = options.ClientRunArgs;

    PackageBuilder builder;
    if (!builder.Begin(settings, error) ||
        !AddGroup(&builder, PackageGroup::Server, options.ServerDir, options.Level, error) ||
        !AddGroup(&builder, PackageGroup::Client, options.ClientDir, options.Level, error) ||
        !AddGroup(&builder, PackageGroup::Database, options.DatabaseDir, options.Level, error))
        return false;

    const std::vector<uint8_t>& index = builder.Index();
    const std::vector<uint8_t>& payload = builder.Payload();
    PackageBlob payloadBlob{payload.data(), payload.size(), true};
    PackageBlob indexBlob{index.data(), index.size(), true};
    PackageBlob configBlob{config.data(), config.size(), true};
    return WriteSetupProgram(options.TemplateExe.c_str(), options.OutputExe.c_str(), payloadBlob,
                             indexBlob, configBlob, error);
}
