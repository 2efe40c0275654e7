#include "install/setup_config.h"

#include "core/config_values.h"
#include "core/drive_choice.h"
#include "core/text_util.h"

#include <cstring>

char* ChooseDefaultDrive(char* out) {
    char list[260] = {};
    const char* roots[64];
    unsigned types[64];
    size_t count = 0;
    DWORD length = GetLogicalDriveStringsA(sizeof list - 1, list);
    if (length > 0 && length < sizeof list) {
        for (const char* root = list; *root != '\0' && count < 64; root += strlen(root) + 1) {
            roots[count] = root;
            types[count] = GetDriveTypeA(root);
            ++count;
        }
    }
    long chosen = ChooseDriveIndex(types, count);
    FormatBounded(out, 260, "%s", chosen < 0 ? "C:\\" : roots[chosen]);
    return out;
}

static void ReadText(const char* path, const char* section, const char* key, char* field,
                     DWORD capacity) {
    GetPrivateProfileStringA(section, key, "", field, capacity, path);
}

static int32_t ReadInteger(const char* path, const char* section, const char* key) {
    char scratch[260] = {};
    GetPrivateProfileStringA(section, key, "", scratch, sizeof scratch, path);
    return ParseIniInteger(scratch);
}

static void ReadFolder(const char* path, const char* key, char* field, DWORD capacity) {
    ReadText(path, "SETUP", key, field, capacity);
    AppendFolderSeparator(field, capacity);
}

int LoadSetupConfig(SetupContext& context) {
    const char* path = context.ConfigPath;
    ReadText(path, "INFO", "AppName", context.AppName, sizeof context.AppName);
    ReadText(path, "INFO", "AppVersion", context.AppVersion, sizeof context.AppVersion);
    context.StartMenu = ReadInteger(path, "SHORTCUT", "StartMenu");
    context.Desktop = ReadInteger(path, "SHORTCUT", "Desktop");
    context.QuickStart = ReadInteger(path, "SHORTCUT", "QuickStart");
    context.ProgramMg = ReadInteger(path, "SETUP", "ProgramMg");
    context.DB2 = ReadInteger(path, "SETUP", "DB2");
    ReadFolder(path, "TagFolder", context.TagFolder, sizeof context.TagFolder);
    ReadFolder(path, "VirSer", context.VirSer, sizeof context.VirSer);
    ReadFolder(path, "VirCli", context.VirCli, sizeof context.VirCli);
    ReadFolder(path, "VirDB", context.VirDB, sizeof context.VirDB);
    return 1;
}
