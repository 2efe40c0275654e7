// fault-worker SETUP.exe INSTALL_DIR WORK_DIR RESULT_FILE
// Installs the package of SETUP.exe (both sides) with the real worker, as the
// Installing page does, and writes what the run ended with to RESULT_FILE:
//   exit=<worker exit code>  failed=<Failed>  error=<ErrorText>
//   box=<caption>\t<text>    (one line per message box, each answered OK)
// The process exits 0 when the worker ended, 3 when it did not end in time.
#include "tests/support/worker_harness.h"

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        fputs("usage: fault-worker SETUP.exe INSTALL_DIR WORK_DIR RESULT_FILE\n", stderr);
        return 2;
    }
    std::string exe = argv[1], installDir = argv[2], workDir = argv[3];
    if (!installDir.empty() && installDir.back() != '\\')
        installDir += '\\';
    if (!workDir.empty() && workDir.back() != '\\')
        workDir += '\\';
    WorkerHarness harness;
    if (!harness.PrepareFromExe(exe, installDir, workDir)) {
        fputs("fault-worker: cannot load the package\n", stderr);
        return 2;
    }
    bool ended = harness.Run(120000);
    FILE* result = fopen(argv[4], "wb");
    if (result != nullptr) {
        fprintf(result, "exit=%lu\nfailed=%u\nerror=%s\n",
                static_cast<unsigned long>(harness.ExitCode), g_SetupContext.Failed,
                g_SetupContext.ErrorText);
        for (const auto& box : harness.Boxes)
            fprintf(result, "box=%s\t%s\n", box.second.c_str(), box.first.c_str());
        fclose(result);
    }
    return ended ? 0 : 3;
}
