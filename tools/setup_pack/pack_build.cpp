#include "tools/setup_pack/pack_build.h"

#include "package/package_digest.h"
#include "tools/setup_pack/folder_walk.h"
#include "tools/setup_pack/pack_output.h"
#include "tools/setup_pack/parallel_deflate.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

namespace {

bool ReadSmallFile(const std::wstring& path, std::string* out, std::string* error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error =
            "cannot read " + WideToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (16 << 20);
    if (ok) {
        out->resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = size.QuadPart == 0 ||
             (ReadFile(file, &(*out)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
              read == size.QuadPart);
    }
    CloseHandle(file);
    if (!ok)
        *error = "cannot read " + WideToUtf8(path) + " (missing, unreadable or over 16 MiB)";
    return ok;
}

} // namespace

std::string FoldProgramName(const std::string& gbk) {
    std::string folded = gbk;
    for (size_t i = 0; i < folded.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(folded[i]);
        if (b >= 0x81 && b <= 0xFE && i + 1 < folded.size()) {
            ++i;
            continue;
        }
        if (b == '/')
            folded[i] = '\\';
        else if (b >= 'A' && b <= 'Z')
            folded[i] = static_cast<char>(b + 32);
    }
    return folded;
}

namespace {

struct GroupPlan {
    PackageGroup Group;
    const char* Name;
    std::string Dir;
    WalkResult Walk;
};

// Records each finished stream as the next entry of the index.
class IndexSink : public StreamSink {
  public:
    IndexSink(PayloadFile* payload, PackageBuilder* builder, const std::vector<GroupPlan>* groups)
        : payload_(payload), builder_(builder) {
        for (const GroupPlan& plan : *groups)
            for (const FoundFile& file : plan.Walk.Files)
                files_.push_back({plan.Group, &file});
    }
    bool Write(const uint8_t* data, size_t size, std::string* error) override {
        return payload_->Write(data, size, error);
    }
    bool EndStream(size_t index, uint64_t length, std::string* error) override {
        const FoundFile& file = *files_[index].File;
        if (!builder_->AddStreamed(files_[index].Group, file.RelativePath, file.Size, file.Times,
                                   length, error)) {
            *error = GbkForDisplay(*error);
            return false;
        }
        return true;
    }
    std::vector<DeflateInput> Inputs() const {
        std::vector<DeflateInput> inputs;
        for (const auto& item : files_)
            inputs.push_back({item.File->FullPath, item.File->Size});
        return inputs;
    }

  private:
    struct Item {
        PackageGroup Group;
        const FoundFile* File;
    };
    PayloadFile* payload_;
    PackageBuilder* builder_;
    std::vector<Item> files_;
};

// Reading a file moves its last access time on systems that keep it (Linux
// under Wine does); putting back the recorded time keeps a second build of
// the same tree byte-identical. Files that refuse are left as they are.
void RestoreAccessTimes(const std::vector<GroupPlan>& groups) {
    for (const GroupPlan& plan : groups) {
        for (const FoundFile& file : plan.Walk.Files) {
            HANDLE handle = CreateFileW(file.FullPath.c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
            if (handle == INVALID_HANDLE_VALUE)
                continue;
            FILETIME access = {file.Times.LastAccess.Low, file.Times.LastAccess.High};
            SetFileTime(handle, nullptr, &access, nullptr);
            CloseHandle(handle);
        }
    }
}

bool ResolveProgram(const GroupPlan& plan, const std::string& utf8Name, const char* option,
                    std::string* stored, std::string* error) {
    std::string gbk;
    if (utf8Name.empty()) {
        *error = std::string(option) + " is required with the " + plan.Name + " folder";
        return false;
    }
    if (!WideToGbk(Utf8ToWide(utf8Name), &gbk)) {
        *error = std::string(option) + " cannot be written in code page 936: " + utf8Name;
        return false;
    }
    std::vector<std::string> paths;
    for (const FoundFile& file : plan.Walk.Files)
        paths.push_back(file.RelativePath);
    *stored = FindProgram(paths, gbk);
    if (stored->empty()) {
        *error = std::string(plan.Name) + " program " + utf8Name + " is not a file of " + plan.Dir;
        return false;
    }
    return true;
}

} // namespace

std::string FindProgram(const std::vector<std::string>& relativePaths, const std::string& name) {
    std::string wanted = FoldProgramName(name);
    for (const std::string& path : relativePaths)
        if (!wanted.empty() && FoldProgramName(path) == wanted)
            return path;
    return std::string();
}

bool RunPackBuild(const PackBuildOptions& options, std::string* error,
                  std::vector<std::string>* notes) {
    if (options.Level < 1 || options.Level > 9) {
        *error = "--level must be 1 to 9";
        return false;
    }
    std::string configBytes, config;
    if (!ReadSmallFile(Utf8ToWide(options.ConfigPath), &configBytes, error) ||
        !ConvertConfigText(configBytes, &config, error))
        return false;
    // The installer gives up on a configuration of 3 bytes or fewer.
    if (config.size() <= 3) {
        *error = "configuration is too short for the installer to accept: " + options.ConfigPath;
        return false;
    }
    DWORD templateAttributes = GetFileAttributesW(Utf8ToWide(options.TemplateExe).c_str());
    if (templateAttributes == INVALID_FILE_ATTRIBUTES ||
        (templateAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = "template setup program not found: " + options.TemplateExe;
        return false;
    }

    std::vector<GroupPlan> groups;
    if (!options.ServerDir.empty())
        groups.push_back({PackageGroup::Server, "server", options.ServerDir, {}});
    groups.push_back({PackageGroup::Client, "client", options.ClientDir, {}});
    groups.push_back({PackageGroup::Database, "database", options.DatabaseDir, {}});
    for (GroupPlan& plan : groups) {
        if (plan.Dir.empty()) {
            *error = std::string("--") + plan.Name + " is required";
            return false;
        }
        if (!WalkGroupFolder(Utf8ToWide(plan.Dir), options.Limits.MaxFileSize, &plan.Walk, error))
            return false;
        uint64_t total = 0;
        for (const FoundFile& file : plan.Walk.Files)
            total += file.Size;
        if (total > options.Limits.MaxGroupBytes) {
            *error = std::string(plan.Name) + " files total " + std::to_string(total) +
                     " bytes, more than a package's 32-bit byte total holds";
            return false;
        }
        if (notes) {
            for (const std::string& folder : plan.Walk.EmptyFolders)
                notes->push_back("empty folder not packaged (the package holds files only): " +
                                 folder);
        }
    }

    PackageSettings settings;
    settings.ServerRun = options.ServerRun;
    settings.ClientRun = options.ClientRun;
    if (!options.ServerDir.empty()) {
        if (!ResolveProgram(groups[0], options.ServerProgram, "--server-program",
                            &settings.ServerProgram, error))
            return false;
    } else if (!options.ServerProgram.empty()) {
        *error = "--server-program needs --server";
        return false;
    }
    if (!ResolveProgram(groups[groups.size() - 2], options.ClientProgram, "--client-program",
                        &settings.ClientProgram, error))
        return false;
    if (!WideToGbk(Utf8ToWide(options.ServerRunArgs), &settings.ServerRunArgs) ||
        !WideToGbk(Utf8ToWide(options.ClientRunArgs), &settings.ClientRunArgs)) {
        *error = "run arguments cannot be written in code page 936";
        return false;
    }
    PackageBuilder builder;
    builder.SetLimits(options.Limits);
    if (!builder.Begin(settings, error)) {
        *error = GbkForDisplay(*error);
        return false;
    }

    std::wstring output = Utf8ToWide(options.OutputExe);
    PayloadFile payload;
    if (!payload.Create(FolderOf(output), error))
        return false;
    IndexSink sink(&payload, &builder, &groups);
    int jobs = options.Jobs;
    if (jobs <= 0) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        jobs = static_cast<int>(system.dwNumberOfProcessors);
        jobs = jobs < 1 ? 1 : jobs > 64 ? 64 : jobs;
    }
    bool deflated = DeflateFiles(sink.Inputs(), options.Level, jobs, &sink, error);
    RestoreAccessTimes(groups);
    if (!deflated)
        return false;

    const void* payloadData = nullptr;
    uint64_t payloadSize = 0;
    if (!payload.Map(&payloadData, &payloadSize, error))
        return false;
    const std::vector<uint8_t>& index = builder.Index();
    PackageDigest digest;
    digest.Parts[kDigestConfig] = MakeDigestPart(kConfigResourceId, {config.data(), config.size()});
    digest.Parts[kDigestIndex] = MakeDigestPart(kIndexResourceId, {index.data(), index.size()});
    digest.Parts[kDigestPayload] = {kPayloadResourceId, static_cast<uint32_t>(payloadSize),
                                    payload.Crc()};
    std::vector<uint8_t> digestBytes = EncodeDigest(digest);
    bool droppedSignature = false;
    bool written =
        WriteSetupExe(Utf8ToWide(options.TemplateExe), output, {payloadData, payloadSize},
                      {index.data(), index.size()}, {config.data(), config.size()},
                      {digestBytes.data(), digestBytes.size()}, &droppedSignature, error);
    if (droppedSignature && notes)
        notes->push_back("the template " + options.TemplateExe +
                         " was signed; its signature is dropped because the resources change. "
                         "Sign the new program.");
    return written;
}
