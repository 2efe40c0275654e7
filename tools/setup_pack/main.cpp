// setup-pack: makes, inspects, verifies and unpacks setup programs.
#include "tools/setup_pack/console_out.h"
#include "tools/setup_pack/pack_build.h"
#include "tools/setup_pack/pack_inspect.h"
#include "tools/setup_pack/pack_options.h"
#include "tools/setup_pack/pack_uninstaller.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <string>
#include <vector>

static std::string DefaultTemplate() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length < MAX_PATH ? length : 0);
    size_t cut = folder.find_last_of(L"\\/");
    folder = cut == std::wstring::npos ? L"" : folder.substr(0, cut + 1);
    return WideToUtf8(folder + L"setup.exe");
}

static void PrintUsage() {
    std::string text = kUsageText;
    text.pop_back(); // PrintOut adds the last newline
    PrintOut(text);
}

static int Usage(const std::string& problem) {
    PrintError("setup-pack: " + problem);
    PrintError("run setup-pack --help for the options");
    return 2;
}

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage("no command given");
    const std::wstring& command = args[0];
    if (command == L"--help" || command == L"-h" || command == L"help") {
        PrintUsage();
        return 0;
    }
    if (command == L"build") {
        PackBuildOptions options;
        options.TemplateExe = DefaultTemplate();
        std::string error;
        std::vector<std::wstring> rest(args.begin() + 1, args.end());
        switch (ParseBuildArguments(rest, &options, &error)) {
        case ParseOutcome::kHelp:
            PrintUsage();
            return 0;
        case ParseOutcome::kError:
            return Usage(error);
        case ParseOutcome::kRun:
            break;
        }
        std::vector<std::string> notes;
        bool ok = RunPackBuild(options, &error, &notes);
        for (const std::string& note : notes)
            PrintError("setup-pack: note: " + note);
        if (!ok) {
            PrintError("setup-pack: " + error);
            return 1;
        }
        return 0;
    }
    if ((command == L"inspect" || command == L"verify") && args.size() == 2)
        return command == L"inspect" ? RunInspect(args[1]) : RunVerify(args[1]);
    if (command == L"extract") {
        std::vector<std::wstring> operands;
        bool ignoreDigest = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == L"--ignore-digest")
                ignoreDigest = true;
            else
                operands.push_back(args[i]);
        }
        if (operands.size() == 2)
            return RunExtract(operands[0], operands[1], ignoreDigest);
    }
    if (command == L"take-uninstaller" && args.size() == 3)
        return RunTakeUninstaller(args[1], args[2]);
    if (command == L"put-uninstaller" && args.size() == 4)
        return RunPutUninstaller(args[1], args[2], args[3]);
    if (command == L"inspect" || command == L"verify" || command == L"extract" ||
        command == L"take-uninstaller" || command == L"put-uninstaller")
        return Usage("wrong number of arguments for " + WideToUtf8(command));
    return Usage("unknown command " + WideToUtf8(command));
}
