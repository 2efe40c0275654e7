#include "app/startup.h"

#include "app/frame_failure.h"
#include "app/package_digest_check.h"
#include "install/setup_context.h"
#include "core/work_paths.h"
#include "package/package_reader.h"
#include "package/package_resources.h"
#include "resources/resource_ids.h"
#include "wizard/wizard_frame.h"

#include <cstring>

const char kDamagedPackageText[] = "安装包已损坏，无法安装。";

// Writes the configuration resource to context.ConfigPath; returns the byte
// count written (0 when the file could not be created).
static DWORD WriteConfigCopy(SetupContext& context, const ResourceBytes& config) {
    HANDLE file = CreateFileA(context.ConfigPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    if (config.Found && config.Size > 0)
        WriteFile(file, config.Data, config.Size, &written, nullptr);
    CloseHandle(file);
    return written;
}

static bool PackageLooksSound(const ResourceBytes& index) {
    ResourceBytes payload = LoadPackageResource(kPayloadResourceId);
    PackageView view(index.Data, index.Size, payload.Data, payload.Size);
    return view.Validate() == PackageFault::kOk;
}

int RunSetup(HINSTANCE instance) {
    SetupContext& context = g_SetupContext;
    char tempPath[260] = {};
    GetTempPathA(sizeof tempPath, tempPath);

    // A temporary path too long for either name ends the program like the
    // other start-up failures: nothing is created under a cut name.
    if (!MakeWorkDirPath(context.WorkDir, sizeof context.WorkDir, tempPath, GetTickCount()))
        return 0;
    CreateDirectoryA(context.WorkDir, nullptr);

    ResourceBytes config = LoadPackageResource(kConfigResourceId);
    if (!MakeConfigPath(context.ConfigPath, sizeof context.ConfigPath, context.WorkDir,
                        GetTickCount()))
        return 0;
    if (WriteConfigCopy(context, config) <= 3)
        return 0;

    ResourceBytes index = LoadPackageResource(kIndexResourceId);
    if (!index.Found || index.Size <= 2)
        return 0;
    // The index is untrusted input: a short index, counts that disagree with
    // its size, streams outside the payload or paths that leave their folder
    // are refused before anything is shown or written; so is a package that
    // differs from its digest (a damaged download).
    if (!PackageLooksSound(index) || !PackageMatchesDigest()) {
        MessageBoxA(nullptr, kDamagedPackageText, "", MB_OK | MB_ICONERROR);
        return 0;
    }
    memcpy(&context.Header, index.Data, sizeof context.Header);
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_WIZARD_FRAME), nullptr, WizardFrameProc,
                        0) == -1)
        ReportFrameFailure(GetLastError());
    return 0;
}
