#include "tools/setup_pack/pack_options.h"

#include "tools/setup_pack/text_convert.h"

const char kUsageText[] =
    "usage: setup-pack build --config setup.ini [--server DIR] --client DIR --database DIR\n"
    "                        [--server-program NAME] --client-program NAME\n"
    "                        [--server-run-args TEXT] [--client-run-args TEXT]\n"
    "                        [--no-server-run] [--no-client-run] [--level 1-9] [--jobs N]\n"
    "                        [--template setup.exe] -o OUT.exe\n"
    "       setup-pack inspect SETUP.exe\n"
    "       setup-pack verify SETUP.exe\n"
    "       setup-pack extract [--ignore-digest] SETUP.exe DIR\n"
    "       setup-pack take-uninstaller SETUP.exe UNINSTALLER.exe\n"
    "       setup-pack put-uninstaller SETUP.exe UNINSTALLER.exe OUT.exe\n"
    "       setup-pack --help\n"
    "\n"
    "build   packs three folders and a configuration into a copy of the prebuilt setup.exe.\n"
    "  --config FILE          INI text in UTF-8 (a byte-order mark is allowed); stored as code\n"
    "                         page 936 with CR LF line ends. A line 936 cannot hold is refused.\n"
    "  --server DIR           files of the server group (subfolders included). Without it the\n"
    "                         package is a single-PC edition with no server group.\n"
    "  --client DIR           files of the client group.\n"
    "  --database DIR         files of the database group.\n"
    "  --server-program NAME  the server program, a path relative to --server (needed with it).\n"
    "  --client-program NAME  the client program, a path relative to --client.\n"
    "                         Program names must name a packed file (case is ignored).\n"
    "  --server-run-args TEXT argument of the server program's set-up run (default Install,\n"
    "  --client-run-args TEXT at most 19 bytes in code page 936); likewise for the client.\n"
    "  --no-server-run        do not run the server program after installing.\n"
    "  --no-client-run        do not run the client program after installing.\n"
    "  --level N              zlib compression level, 1 (fastest) to 9 (smallest); default 9.\n"
    "  --jobs N               compression threads (1-64); default one per processor. The output\n"
    "                         does not depend on it.\n"
    "  --template FILE        the prebuilt setup program; default setup.exe beside setup-pack.\n"
    "  -o FILE                the setup program to write (replaced only when all went well).\n"
    "  Files are packed in a fixed order (depth first, names compared ignoring case) with their\n"
    "  creation, last access and last write times, so the same folders, times and options give\n"
    "  the same bytes. Empty folders are not packed (the format holds files only). Refused,\n"
    "  with nothing written: names code page 936 cannot hold, relative paths over 259 bytes,\n"
    "  names that differ only in case, files of 4 GiB or more, a payload or group total past\n"
    "  32 bits, program names that are not packed files.\n"
    "\n"
    "  The program also gets a digest (BIN 122: sizes and CRC-32s of the configuration, index\n"
    "  and payload) that the installer checks before its first page. A signed template loses\n"
    "  its signature (the resources change); sign the new program afterwards.\n"
    "\n"
    "inspect prints the header, one line per entry (group, ordinal, path, size, compressed\n"
    "        length, offset, creation, last access and last write time in UTC), the\n"
    "        configuration values as the installer reads them, the digest and whether each\n"
    "        resource matches it, the header checksum, and for a signed program where the\n"
    "        signature lies, its signer, description and time stamp.\n"
    "verify  checks the digest (naming each resource that differs), the index, every stream\n"
    "        (size and checksum), the configuration, the header checksum (start-up refuses a\n"
    "        program whose set checksum differs) and whether a signature still covers the file\n"
    "        (its image digest against the file's); prints each fault and exits with 1 when\n"
    "        there is any. Whether the signer is trusted is for osslsigncode or signtool.\n"
    "extract unpacks the groups into DIR\\server, DIR\\client and DIR\\database with their times.\n"
    "        A program that does not match its digest is refused unless --ignore-digest.\n"
    "take-uninstaller writes the uninstaller the program carries (BIN 131) to a file, to be\n"
    "        signed; put-uninstaller writes a copy of the program carrying the given one, with\n"
    "        its checksum set (a signature of SETUP.exe is dropped: sign OUT.exe afterwards).\n"
    "\n"
    "Exit status: 0 done, 1 refused or faults found, 2 wrong usage.\n";

static bool ParseNumber(const std::wstring& text, int low, int high, int* out) {
    if (text.empty() || text.size() > 4)
        return false;
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + (c - L'0');
    }
    if (value < low || value > high)
        return false;
    *out = value;
    return true;
}

ParseOutcome ParseBuildArguments(const std::vector<std::wstring>& args, PackBuildOptions* options,
                                 std::string* error) {
    struct TextOption {
        const wchar_t* Name;
        std::string* Target;
    } texts[] = {{L"--config", &options->ConfigPath},
                 {L"--server", &options->ServerDir},
                 {L"--client", &options->ClientDir},
                 {L"--database", &options->DatabaseDir},
                 {L"--server-program", &options->ServerProgram},
                 {L"--client-program", &options->ClientProgram},
                 {L"--server-run-args", &options->ServerRunArgs},
                 {L"--client-run-args", &options->ClientRunArgs},
                 {L"--template", &options->TemplateExe},
                 {L"-o", &options->OutputExe}};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--help" || arg == L"-h")
            return ParseOutcome::kHelp;
        if (arg == L"--no-server-run") {
            options->ServerRun = false;
            continue;
        }
        if (arg == L"--no-client-run") {
            options->ClientRun = false;
            continue;
        }
        bool known = false;
        for (const TextOption& option : texts)
            known |= arg == option.Name;
        known |= arg == L"--level" || arg == L"--jobs";
        if (!known) {
            *error = "unknown option " + WideToUtf8(arg) + " (see --help)";
            return ParseOutcome::kError;
        }
        if (i + 1 >= args.size()) {
            *error = WideToUtf8(arg) + " needs a value";
            return ParseOutcome::kError;
        }
        const std::wstring& value = args[++i];
        if (arg == L"--level") {
            if (!ParseNumber(value, 1, 9, &options->Level)) {
                *error = "--level must be a number from 1 to 9, not " + WideToUtf8(value);
                return ParseOutcome::kError;
            }
            continue;
        }
        if (arg == L"--jobs") {
            if (!ParseNumber(value, 1, 64, &options->Jobs)) {
                *error = "--jobs must be a number from 1 to 64, not " + WideToUtf8(value);
                return ParseOutcome::kError;
            }
            continue;
        }
        for (const TextOption& option : texts)
            if (arg == option.Name)
                *option.Target = WideToUtf8(value);
    }
    const char* missing = options->ConfigPath.empty()      ? "--config"
                          : options->ClientDir.empty()     ? "--client"
                          : options->DatabaseDir.empty()   ? "--database"
                          : options->ClientProgram.empty() ? "--client-program"
                          : options->OutputExe.empty()     ? "-o"
                                                           : nullptr;
    if (missing) {
        *error = std::string(missing) + " is required (see --help)";
        return ParseOutcome::kError;
    }
    return ParseOutcome::kRun;
}
