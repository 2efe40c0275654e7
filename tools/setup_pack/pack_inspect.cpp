#include "tools/setup_pack/pack_inspect.h"

#include "install/setup_config.h"
#include "package/package_reader.h"
#include "tools/setup_pack/console_out.h"
#include "tools/setup_pack/digest_report.h"
#include "tools/setup_pack/package_file.h"
#include "tools/setup_pack/pack_verify.h"
#include "tools/setup_pack/pe_signature.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

std::string FormatFileTime(unsigned low, unsigned high) {
    FILETIME time = {low, high};
    SYSTEMTIME parts;
    char text[64];
    if (!FileTimeToSystemTime(&time, &parts)) {
        snprintf(text, sizeof text, "raw:%08X%08X", high, low);
        return text;
    }
    uint64_t ticks = (static_cast<uint64_t>(high) << 32) | low;
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%07u", parts.wYear, parts.wMonth,
             parts.wDay, parts.wHour, parts.wMinute, parts.wSecond,
             static_cast<unsigned>(ticks % 10000000u));
    return text;
}

static std::string Field(const char* field, size_t size) {
    return GbkForDisplay(std::string(field, strnlen(field, size)));
}

// The configuration read through the installer's own code, from a copy in
// the temporary folder.
static void PrintConfigValues(const ResourceView& config) {
    if (!config.Found) {
        PrintOut("config: missing");
        return;
    }
    PrintOut("config.bytes: " + std::to_string(config.Size));
    static SetupContext context;
    char folder[MAX_PATH] = {};
    if (!GetTempPathA(sizeof folder, folder) ||
        !GetTempFileNameA(folder, "spi", 0, context.ConfigPath)) {
        PrintOut("config: cannot write a temporary copy to read");
        return;
    }
    HANDLE file = CreateFileA(context.ConfigPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, config.Data, static_cast<DWORD>(config.Size), &written, nullptr);
        CloseHandle(file);
    }
    LoadSetupConfig(context);
    DeleteFileA(context.ConfigPath);
    PrintOut("config.INFO.AppName: " + GbkForDisplay(context.AppName));
    PrintOut("config.INFO.AppVersion: " + Field(context.AppVersion, sizeof context.AppVersion));
    PrintOut("config.SHORTCUT.StartMenu: " + std::to_string(context.StartMenu));
    PrintOut("config.SHORTCUT.Desktop: " + std::to_string(context.Desktop));
    PrintOut("config.SHORTCUT.QuickStart: " + std::to_string(context.QuickStart));
    PrintOut("config.SETUP.ProgramMg: " + std::to_string(context.ProgramMg));
    PrintOut("config.SETUP.DB2: " + std::to_string(context.DB2));
    PrintOut("config.SETUP.TagFolder: " + Field(context.TagFolder, sizeof context.TagFolder));
    PrintOut("config.SETUP.VirSer: " + Field(context.VirSer, sizeof context.VirSer));
    PrintOut("config.SETUP.VirCli: " + Field(context.VirCli, sizeof context.VirCli));
    PrintOut("config.SETUP.VirDB: " + Field(context.VirDB, sizeof context.VirDB));
}

// The signature is only located here: checking it is the signing tools' job.
static void PrintSignature(const std::wstring& setupExe) {
    SignatureInfo signature;
    std::string error;
    if (!ReadSignatureInfo(setupExe, &signature, &error))
        PrintOut("signature: unknown, " + error);
    else if (!signature.Present)
        PrintOut("signature: none");
    else
        PrintOut("signature: certificate table of " + std::to_string(signature.Size) +
                 " bytes at offset " + std::to_string(signature.Offset) +
                 " (check it with osslsigncode verify or signtool verify)");
}

int RunInspect(const std::wstring& setupExe) {
    PackageFile package;
    std::string error;
    if (!package.Open(setupExe, &error)) {
        PrintError("setup-pack: " + error);
        return 1;
    }
    ResourceView index = package.Index();
    ResourceView payload = package.Payload();
    PrintOut("payload.bytes: " + (payload.Found ? std::to_string(payload.Size) : "missing"));
    PrintOut("index.bytes: " + (index.Found ? std::to_string(index.Size) : "missing"));
    PackageView view(index.Data, index.Size, payload.Data, payload.Size);
    if (view.HasHeader()) {
        PackageHeader h = view.Header();
        PrintOut("header.words: " + std::to_string(h.Reserved0) + " " +
                 std::to_string(h.Reserved1));
        PrintOut("ServerProgram: " + Field(h.ServerProgram, sizeof h.ServerProgram));
        PrintOut("ClientProgram: " + Field(h.ClientProgram, sizeof h.ClientProgram));
        PrintOut("ClientRunFlag: " + std::to_string(h.ClientRunFlag));
        PrintOut("ServerRunFlag: " + std::to_string(h.ServerRunFlag));
        PrintOut("ClientRunArgs: " + Field(h.ClientRunArgs, sizeof h.ClientRunArgs));
        PrintOut("ServerRunArgs: " + Field(h.ServerRunArgs, sizeof h.ServerRunArgs));
        PrintOut("ClientBytes: " + std::to_string(h.ClientBytes));
        PrintOut("ServerBytes: " + std::to_string(h.ServerBytes));
        PrintOut("DatabaseBytes: " + std::to_string(h.DatabaseBytes));
        PrintOut("ServerEntryCount: " + std::to_string(h.ServerEntryCount));
        PrintOut("ClientEntryCount: " + std::to_string(h.ClientEntryCount));
        PrintOut("DatabaseEntryCount: " + std::to_string(h.DatabaseEntryCount));
        PrintOut("# group ordinal path size compressed offset created accessed written");
        uint32_t stored = view.StoredEntryCount();
        for (uint32_t i = 0; i < stored; ++i) {
            PackageEntry e;
            view.Entry(i, &e);
            PrintOut(std::string("entry: ") + GroupName(GroupOfEntry(h, i)) + " " +
                     std::to_string(e.Ordinal) + " " +
                     Field(e.RelativePath, sizeof e.RelativePath) + " " + std::to_string(e.Size) +
                     " " + std::to_string(e.CompressedLength) + " " +
                     std::to_string(e.PayloadOffset) + " " +
                     FormatFileTime(e.CreationTime.Low, e.CreationTime.High) + " " +
                     FormatFileTime(e.LastAccessTime.Low, e.LastAccessTime.High) + " " +
                     FormatFileTime(e.LastWriteTime.Low, e.LastWriteTime.High));
        }
    } else {
        PrintOut("header: missing");
    }
    PrintConfigValues(package.Config());
    DigestReport digest = ExamineDigest(package.Digest(), package.Config(), index, payload);
    for (const std::string& line : DigestLines(digest))
        PrintOut(line);
    PrintSignature(setupExe);
    return 0;
}

int RunVerify(const std::wstring& setupExe) {
    PackageFile package;
    std::string error;
    if (!package.Open(setupExe, &error)) {
        PrintError("setup-pack: " + error);
        return 1;
    }
    VerifyReport report = VerifyPackage(package.Index(), package.Payload(), package.Config());
    DigestReport digest =
        ExamineDigest(package.Digest(), package.Config(), package.Index(), package.Payload());
    for (const std::string& fault : DigestFaults(digest))
        report.Faults.push_back(fault);
    if (!digest.Present)
        report.Warnings.push_back("no digest resource (BIN 122): the installer cannot refuse a "
                                  "damaged download before it installs");
    for (const std::string& warning : report.Warnings)
        PrintOut("warning: " + warning);
    for (const std::string& fault : report.Faults)
        PrintOut("fault: " + fault);
    if (!report.Faults.empty()) {
        PrintError("setup-pack: " + std::to_string(report.Faults.size()) + " fault(s) in " +
                   WideToUtf8(setupExe));
        return 1;
    }
    PrintOut("ok: " + WideToUtf8(setupExe));
    return 0;
}
