// setup-pack: makes a setup program from three folders and an INI.
#include "tools/setup_pack/pack_build.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static const char kUsage[] =
    "usage: setup-pack build --config setup.ini [--server DIR] --client DIR --database DIR\n"
    "         [--server-program NAME] --client-program NAME [--server-run-args TEXT]\n"
    "         [--client-run-args TEXT] [--no-server-run] [--no-client-run] [--level 1-9]\n"
    "         [--template setup.exe] -o OUT.exe\n";

static std::string DefaultTemplate() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    return std::string(path) + "setup.exe";
}

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "build") != 0) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 || strcmp(argv[1], "--help") != 0 ? 2 : 0;
    }
    PackBuildOptions options;
    options.TemplateExe = DefaultTemplate();
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "setup-pack: %s needs a value\n", arg.c_str());
                exit(2);
            }
            *out = argv[++i];
        };
        std::string level;
        if (arg == "--config") value(&options.ConfigPath);
        else if (arg == "--server") value(&options.ServerDir);
        else if (arg == "--client") value(&options.ClientDir);
        else if (arg == "--database") value(&options.DatabaseDir);
        else if (arg == "--server-program") value(&options.ServerProgram);
        else if (arg == "--client-program") value(&options.ClientProgram);
        else if (arg == "--server-run-args") value(&options.ServerRunArgs);
        else if (arg == "--client-run-args") value(&options.ClientRunArgs);
        else if (arg == "--no-server-run") options.ServerRun = false;
        else if (arg == "--no-client-run") options.ClientRun = false;
        else if (arg == "--template") value(&options.TemplateExe);
        else if (arg == "-o") value(&options.OutputExe);
        else if (arg == "--level") {
            value(&level);
            options.Level = atoi(level.c_str());
        } else {
            fprintf(stderr, "setup-pack: unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    std::string error;
    if (!RunPackBuild(options, &error)) {
        fprintf(stderr, "setup-pack: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
