// bench-install worker|registered|floor|check SETUP.exe INSTALL_DIR WORK_DIR
// registered: the worker with ProgramMg set (uninstaller, record, entry).
// Prints "seconds: S", "bytes: B" and "peak_mb: M" for one installation, or
// for "check" the time of start-up's digest check of the package.
#include "app/package_digest_check.h"
#include "package/package_digest.h"
#include "package/package_reader.h"
#include "package/package_resources.h"
#include "tests/support/worker_harness.h"

#include <psapi.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

const char* const kGroupFolders[] = {"VTRServer\\", "VTRClient\\", "VTRServer\\Mysql\\"};

void MakeParents(const std::string& path) {
    for (size_t i = 3; i < path.size(); ++i) {
        if (path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
}

// The least any installer must do: inflate each entry in memory and write it
// with one call.
bool InstallFloor(const std::string& exe, const std::string& installDir, uint64_t* bytes) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return false;
    SetPackageModule(module);
    ResourceBytes index = LoadPackageResource(102);
    ResourceBytes payload = LoadPackageResource(101);
    PackageView package(index.Data, index.Size, payload.Data, payload.Size);
    if (package.Validate() != PackageFault::kOk)
        return false;
    std::vector<uint8_t> buffer;
    for (int group = 0; group < 3; ++group) {
        GroupRange range = package.Group(static_cast<PackageGroup>(group));
        for (uint32_t i = 0; i < range.Count; ++i) {
            PackageEntry entry;
            package.Entry(range.First + i, &entry);
            buffer.resize(entry.Size ? entry.Size : 1);
            uLongf length = entry.Size;
            if (uncompress(buffer.data(), &length, package.Stream(entry), entry.CompressedLength) !=
                Z_OK)
                return false;
            std::string target = installDir + kGroupFolders[group] + entry.RelativePath;
            MakeParents(target);
            HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return false;
            DWORD written = 0;
            WriteFile(file, buffer.data(), entry.Size, &written, nullptr);
            CloseHandle(file);
            *bytes += entry.Size;
        }
    }
    return true;
}

// Start-up's check of the program file (header checksum and digest), as the
// program runs it.
bool CheckDigest(const std::string& exe, uint64_t* bytes) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return false;
    SetPackageModule(module);
    if (!LoadPackageResource(kDigestResourceId).Found)
        return false;
    *bytes = LoadPackageResource(kPayloadResourceId).Size;
    wchar_t path[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, exe.c_str(), -1, path, MAX_PATH) == 0)
        return false;
    return ProgramFileIsIntact(path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fputs("usage: bench-install worker|registered|floor|check SETUP.exe INSTALL_DIR "
              "WORK_DIR\n",
              stderr);
        return 2;
    }
    std::string mode = argv[1], exe = argv[2], installDir = argv[3], workDir = argv[4];
    if (installDir.back() != '\\')
        installDir += '\\';
    uint64_t bytes = 0;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    bool ok;
    if (mode == "floor") {
        ok = InstallFloor(exe, installDir, &bytes);
    } else if (mode == "check") {
        ok = CheckDigest(exe, &bytes);
    } else {
        WorkerHarness harness;
        ok = harness.PrepareFromExe(exe, installDir, workDir);
        if (ok) {
            g_SetupContext.InstallServer = 1;
            g_SetupContext.InstallClient = 1;
            if (mode == "registered") {
                g_SetupContext.ProgramMg = 1;
                strcpy(g_SetupContext.AppName, "bench");
                strcpy(g_SetupContext.AppVersion, "1");
            }
            const PackageHeader& h = g_SetupContext.Header;
            bytes = uint64_t(h.ServerBytes) + h.ClientBytes + h.DatabaseBytes;
            ok = harness.Run(600000) && harness.ExitCode == 1 && g_SetupContext.Failed == 0;
        }
    }
    QueryPerformanceCounter(&end);
    if (!ok) {
        fprintf(stderr, "bench-install: %s run failed\n", mode.c_str());
        return 1;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("seconds: %.4f\nbytes: %llu\npeak_mb: %.1f\n", Seconds(start, end),
           static_cast<unsigned long long>(bytes), memory.PeakWorkingSetSize / 1048576.0);
    return 0;
}
