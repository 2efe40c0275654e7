// bench-install worker|registered|floor|check SETUP.exe INSTALL_DIR WORK_DIR
// registered: the worker with ProgramMg set (uninstaller, record, entry);
// floor: every entry inflated in memory, nothing written (the limit).
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

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// Inflates one stream into a block that is overwritten again and again;
// false unless the stream ends with exactly size bytes.
bool InflateDiscarding(const uint8_t* stream, uint32_t length, uint32_t size) {
    static uint8_t block[65536];
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(stream);
    z.avail_in = length;
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = block;
        z.avail_out = sizeof block;
        result = inflate(&z, Z_NO_FLUSH); // Z_BUF_ERROR: the input ended too soon
    }
    bool ok = result == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return ok;
}

// The limit of a single-threaded installation: every entry of the taken
// groups inflated in memory on one core, with nothing written anywhere.
bool InflateFloor(const std::string& exe, uint64_t* bytes) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return false;
    SetPackageModule(module);
    ResourceBytes index = LoadPackageResource(102);
    ResourceBytes payload = LoadPackageResource(101);
    PackageView package(index.Data, index.Size, payload.Data, payload.Size);
    if (package.Validate() != PackageFault::kOk)
        return false;
    for (int group = 0; group < 3; ++group) {
        GroupRange range = package.Group(static_cast<PackageGroup>(group));
        for (uint32_t i = 0; i < range.Count; ++i) {
            PackageEntry entry;
            package.Entry(range.First + i, &entry);
            if (!InflateDiscarding(package.Stream(entry), entry.CompressedLength, entry.Size))
                return false;
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
        ok = InflateFloor(exe, &bytes);
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
