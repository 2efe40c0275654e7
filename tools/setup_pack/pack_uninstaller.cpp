#include "tools/setup_pack/pack_uninstaller.h"

#include "package/package_format.h"
#include "package/program_image.h"
#include "package/resource_writer.h"
#include "tools/setup_pack/console_out.h"
#include "tools/setup_pack/digest_report.h"
#include "tools/setup_pack/pack_output.h"
#include "tools/setup_pack/package_file.h"
#include "tools/setup_pack/pe_signature.h"
#include "tools/setup_pack/text_convert.h"
#include "resources/uninstaller_resource.h"

#include <windows.h>

#include <vector>

namespace {

int Fail(const std::string& problem) {
    PrintError("setup-pack: " + problem);
    return 1;
}

std::string SystemError(const std::string& what, const std::wstring& path) {
    return what + " " + WideToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")";
}

bool ReadWhole(const std::wstring& path, std::vector<uint8_t>* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    DWORD got = 0;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1 << 30);
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        ok = bytes->empty() ||
             (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
              got == bytes->size());
    }
    CloseHandle(file);
    return ok;
}

} // namespace

int RunTakeUninstaller(const std::wstring& setupExe, const std::wstring& outputExe) {
    PackageFile package;
    std::string error;
    if (!package.Open(setupExe, &error))
        return Fail(error);
    ResourceView program = package.Resource(IDR_UNINSTALLER);
    if (!program.Found)
        return Fail("no uninstaller (BIN 131) in " + WideToUtf8(setupExe));
    HANDLE file = CreateFileW(outputExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, program.Data, static_cast<DWORD>(program.Size), &written, nullptr) &&
              written == program.Size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok) {
        DeleteFileW(outputExe.c_str());
        return Fail(SystemError("cannot write", outputExe));
    }
    PrintOut("uninstaller: " + std::to_string(program.Size) + " bytes to " + WideToUtf8(outputExe));
    return 0;
}

int RunPutUninstaller(const std::wstring& setupExe, const std::wstring& uninstallerExe,
                      const std::wstring& outputExe) {
    std::vector<uint8_t> program;
    ProgramLayout layout;
    if (!ReadWhole(uninstallerExe, &program))
        return Fail(SystemError("cannot read", uninstallerExe));
    if (!ReadProgramLayout(program.data(), program.size(), &layout))
        return Fail("not a Windows program: " + WideToUtf8(uninstallerExe));
    wchar_t temporary[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(FolderOf(outputExe).c_str(), L"spu", 0, temporary))
        return Fail(SystemError("cannot create a temporary file beside", outputExe));
    auto failWith = [&temporary](const std::string& problem) {
        DeleteFileW(temporary);
        return Fail(problem);
    };
    if (!CopyFileW(setupExe.c_str(), temporary, FALSE))
        return failWith(SystemError("cannot copy", setupExe));
    bool droppedSignature = false;
    std::string error;
    if (!RemoveSignature(temporary, &droppedSignature, &error))
        return failWith(error);
    HANDLE update = BeginUpdateResourceW(temporary, FALSE);
    bool ok = update != nullptr &&
              UpdateResourceW(update, L"BIN", MAKEINTRESOURCEW(IDR_UNINSTALLER), kPackageLanguage,
                              program.data(), static_cast<DWORD>(program.size()));
    if (update != nullptr && !EndUpdateResourceW(update, ok ? FALSE : TRUE))
        ok = false;
    if (!ok)
        return failWith(SystemError("cannot replace the uninstaller in", outputExe));
    if (!SetProgramChecksum(temporary, &error))
        return failWith(error);
    // The package resources must come through unchanged: the digest still
    // matches them.
    {
        PackageFile written;
        if (!written.Open(temporary, &error))
            return failWith(error);
        DigestReport digest =
            ExamineDigest(written.Digest(), written.Config(), written.Index(), written.Payload());
        if (digest.Damaged())
            return failWith("the package no longer matches its digest after the uninstaller "
                            "was replaced");
    }
    if (!MoveFileExW(temporary, outputExe.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return failWith(SystemError("cannot write", outputExe));
    if (droppedSignature)
        PrintError("setup-pack: note: " + WideToUtf8(setupExe) +
                   " was signed; its signature is dropped (sign the new program)");
    PrintOut("uninstaller: " + std::to_string(program.size()) + " bytes put into " +
             WideToUtf8(outputExe));
    return 0;
}
