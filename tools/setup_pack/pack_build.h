#pragma once
// The "build" command: folders and an INI into a setup program.
#include <string>

struct PackBuildOptions {
    std::string ConfigPath;
    std::string ServerDir; // empty: a single-PC package without a server group
    std::string ClientDir;
    std::string DatabaseDir;
    std::string ServerProgram;
    std::string ClientProgram;
    std::string ServerRunArgs = "Install";
    std::string ClientRunArgs = "Install";
    bool ServerRun = true;
    bool ClientRun = true;
    int Level = 9;
    std::string TemplateExe; // the prebuilt setup.exe
    std::string OutputExe;
};

bool RunPackBuild(const PackBuildOptions& options, std::string* error);
