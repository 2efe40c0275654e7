#include "tests/support/test_support.h"

#include "core/text_util.h"
#include "package/package_digest.h"
#include "package/program_image.h"
#include "package/resource_writer.h"

#include <gtest/gtest.h>

#include <cstring>

std::string BinPath(const std::string& name) {
    return std::string(TEST_BIN_DIR) + "\\" + name;
}

void RemoveTree(const std::string& path) {
    std::string base = path;
    // Only a real separator is dropped, not the trail byte 0x5C of a GBK character.
    if (!base.empty() && FindLastSeparatorGbk(base.c_str()) == static_cast<long>(base.size()) - 1)
        base.pop_back();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
                continue;
            std::string child = base + "\\" + found.cFileName;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(base.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(base.c_str());
}

std::string MakeScratchDir(const std::string& name, const std::string& base) {
    std::string dir = base;
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    dir += name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadBytes(const std::string& path, std::string* bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, '\0');
    DWORD read = 0;
    BOOL ok = size == 0 || ReadFile(file, &(*bytes)[0], size, &read, nullptr);
    CloseHandle(file);
    return ok && read == size;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

PackageFileTimes MakeTimes(uint32_t seed) {
    // 2012-09-13 00:00 UTC as a FILETIME, plus whole seconds per seed.
    const uint64_t base = 129919104000000000ull + static_cast<uint64_t>(seed) * 10000000ull * 3601;
    auto at = [&](uint64_t offset) {
        uint64_t t = base + offset * 10000000ull;
        return PackageFileTime{static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
    };
    return PackageFileTimes{at(0), at(60), at(120)};
}

std::string SampleConfigText() {
    return "2012-2-3\r\n"
           "[INFO]\r\nAppName=澜枢软件\r\nAppVersion=v2.0.0.1\r\n"
           "[SHORTCUT]\r\nStartMenu=1\r\nDesktop=1\r\nQuickStart=1\r\n"
           "[SETUP]\r\n;注册程序到添加删除程序管理\r\nProgramMg=1\r\nDB2=1\r\n"
           ";软件目录\r\nTagFolder=澜枢软件\r\n;服务器目录\r\nVirSer=VTRServer\r\n"
           ";客户端目录\r\nVirCli=VTRClient\r\n;数据库目录\r\nVirDB=VTRServer\\Mysql\r\n";
}

TestPackage EmptySamplePackage() {
    TestPackage package;
    package.Settings.ServerProgram = "VTRServer.exe";
    package.Settings.ClientProgram = "VTRClient.exe";
    package.Config = SampleConfigText();
    return package;
}

void AddTestFile(TestPackage* package, PackageGroup group, const char* path, std::string bytes) {
    uint32_t seed = static_cast<uint32_t>(package->Files.size()) + 1;
    package->Files.push_back(TestFile{group, path, std::move(bytes), MakeTimes(seed)});
}

TestPackage SmallSamplePackage() {
    TestPackage package = EmptySamplePackage();
    AddTestFile(&package, PackageGroup::Server, "VTRServer.exe", std::string(5000, 'S'));
    AddTestFile(&package, PackageGroup::Server, "conf\\server.ini", "[server]\r\nport=8600\r\n");
    AddTestFile(&package, PackageGroup::Client, "VTRClient.exe", std::string(7000, 'C'));
    AddTestFile(&package, PackageGroup::Client, "empty.dat", "");
    AddTestFile(&package, PackageGroup::Database, "bin\\mysqld.exe", std::string(3000, 'M'));
    AddTestFile(&package, PackageGroup::Database, "data\\mysql\\user.frm", "frm bytes");
    return package;
}

void BuildBlobs(const TestPackage& package, std::vector<uint8_t>* index,
                std::vector<uint8_t>* payload) {
    PackageBuilder builder;
    std::string error;
    ASSERT_TRUE(builder.Begin(package.Settings, &error)) << error;
    for (const TestFile& file : package.Files) {
        ASSERT_TRUE(builder.AddFile(file.Group, file.RelativePath, file.Bytes.data(),
                                    file.Bytes.size(), file.Times, 9, &error))
            << error;
    }
    *index = builder.Index();
    *payload = builder.Payload();
}

bool WriteTestSetup(const TestPackage& package, const std::string& outputExe,
                    const std::vector<uint8_t>* indexOverride,
                    const std::vector<uint8_t>* payloadOverride) {
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    if (indexOverride)
        index = *indexOverride;
    if (payloadOverride)
        payload = *payloadOverride;
    PackageBlob payloadBlob{payload.data(), payload.size(), package.IncludePayload};
    PackageBlob indexBlob{index.data(), index.size(), package.IncludeIndex};
    PackageBlob configBlob{package.Config.data(), package.Config.size(), package.IncludeConfig};
    std::vector<uint8_t> digest = TestPackageDigest(package, &index, &payload);
    PackageBlob digestBlob{digest.data(), digest.size(), package.IncludeDigest};
    std::string error;
    bool ok = WriteSetupProgram(BinPath("setup.exe").c_str(), outputExe.c_str(), payloadBlob,
                                indexBlob, configBlob, digestBlob, &error);
    EXPECT_TRUE(ok) << error;
    if (ok && !package.SetChecksum) {
        std::string bytes;
        ProgramLayout layout;
        ok = ReadBytes(outputExe, &bytes) &&
             ReadProgramLayout(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                               &layout);
        if (ok) {
            memset(&bytes[layout.CheckSumOffset], 0, 4);
            ok = WriteBytes(outputExe, bytes);
        }
        EXPECT_TRUE(ok) << "cannot clear the checksum of " << outputExe;
    }
    return ok;
}

bool FlipFileByte(const std::string& exe, uint64_t offset) {
    std::string file;
    if (!ReadBytes(exe, &file) || offset >= file.size())
        return false;
    file[offset] = static_cast<char>(file[offset] ^ 0x5A);
    return WriteBytes(exe, file);
}

bool FindProgramPlaces(const std::string& exe, ProgramPlaces* places) {
    std::string file;
    if (!ReadBytes(exe, &file))
        return false;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
    ProgramLayout layout;
    FileResource digest;
    if (!ReadProgramLayout(bytes, file.size(), &layout) ||
        !FindFileResource(bytes, file.size(), "BIN", 0, kDigestResourceId, &digest))
        return false;
    places->CheckSumOffset = layout.CheckSumOffset;
    places->DigestIdEntry = digest.IdEntryOffset;
    // The headers of the build's own architecture (the twin's are PE32+).
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (memcmp(section->Name, ".text", 6) == 0) {
            places->CodeMiddle = section->PointerToRawData + section->SizeOfRawData / 2;
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> ProgramResource(const std::string& exe, const char* type, int id) {
    std::vector<uint8_t> bytes;
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC info = module ? FindResourceA(module, MAKEINTRESOURCEA(id), type) : nullptr;
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const uint8_t* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (data)
        bytes.assign(data, data + SizeofResource(module, info));
    if (module)
        FreeLibrary(module);
    return bytes;
}

std::vector<uint8_t> TestPackageDigest(const TestPackage& package,
                                       const std::vector<uint8_t>* indexOverride,
                                       const std::vector<uint8_t>* payloadOverride) {
    std::vector<uint8_t> index, payload;
    if (!indexOverride || !payloadOverride)
        BuildBlobs(package, &index, &payload);
    const std::vector<uint8_t>& i = indexOverride ? *indexOverride : index;
    const std::vector<uint8_t>& p = payloadOverride ? *payloadOverride : payload;
    return EncodeDigest(ComputePackageDigest({package.Config.data(), package.Config.size()},
                                             {i.data(), i.size()}, {p.data(), p.size()}));
}

bool FlipResourceByte(const std::string& exe, const std::vector<uint8_t>& resource, size_t offset) {
    std::string file;
    if (resource.empty() || offset >= resource.size() || !ReadBytes(exe, &file))
        return false;
    std::string wanted(resource.begin(), resource.end());
    size_t at = file.find(wanted);
    if (at == std::string::npos || file.find(wanted, at + 1) != std::string::npos)
        return false;
    file[at + offset] = static_cast<char>(file[at + offset] ^ 0x5A);
    return WriteBytes(exe, file);
}

int RunProcess(const std::string& commandLine, DWORD timeoutMs,
               const std::vector<std::string>& extraEnvironment, const std::string& workingDir) {
    std::string environment;
    if (!extraEnvironment.empty()) {
        char* current = GetEnvironmentStringsA();
        for (const char* p = current; *p; p += strlen(p) + 1) {
            bool overridden = false;
            for (const std::string& entry : extraEnvironment) {
                size_t nameLength = entry.find('=') + 1;
                overridden |= _strnicmp(p, entry.c_str(), nameLength) == 0;
            }
            if (!overridden)
                environment.append(p, strlen(p) + 1);
        }
        FreeEnvironmentStringsA(current);
        for (const std::string& entry : extraEnvironment)
            environment.append(entry.c_str(), entry.size() + 1);
        environment.push_back('\0');
    }
    // Everything the program starts runs in a job with it, so a program that
    // hands its work to another process (the uninstaller's temporary copy)
    // counts as running until that process has ended too. Under Wine the
    // desktop process is started by whichever program first needs it: this
    // one asks for it now, so it does not land in the job.
    GetDesktopWindow();
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr)
        return -1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        environment.empty() ? nullptr : &environment[0],
                        workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process) ||
        !AssignProcessToJobObject(job, process.hProcess)) {
        if (process.hProcess != nullptr) {
            TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(job);
        return -1;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    DWORD started = GetTickCount();
    auto jobEnded = [job] {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        return QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                         sizeof accounting, nullptr) &&
               accounting.ActiveProcesses == 0;
    };
    bool ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    while (ended && !jobEnded()) {
        ended = GetTickCount() - started < timeoutMs;
        Sleep(10);
    }
    int result = -2;
    if (ended) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<int>(code);
    } else {
        TerminateJobObject(job, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return result;
}
