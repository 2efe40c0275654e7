#pragma once
// The "build" command: three folders and an INI into a setup program.
#include "package/package_writer.h"

#include <string>
#include <vector>

struct PackBuildOptions {
    std::string ConfigPath; // paths and names in UTF-8
    std::string ServerDir;  // empty: a single-PC package without a server group
    std::string ClientDir;
    std::string DatabaseDir;
    std::string ServerProgram;
    std::string ClientProgram;
    std::string ServerRunArgs = "Install";
    std::string ClientRunArgs = "Install";
    bool ServerRun = true;
    bool ClientRun = true;
    int Level = 9;
    int Jobs = 0;            // 0: one per processor
    std::string TemplateExe; // the prebuilt setup.exe
    std::string OutputExe;
    PackageLimits Limits; // lowered by tests only
};

// Checks everything it can before compressing; on any refusal nothing is
// written. Notes (such as skipped empty folders) are added to notes.
bool RunPackBuild(const PackBuildOptions& options, std::string* error,
                  std::vector<std::string>* notes = nullptr);

// Finds a program name among a group's relative paths, ignoring case and
// accepting "/" for "\"; returns the path as stored, or empty.
std::string FindProgram(const std::vector<std::string>& relativePaths, const std::string& name);

// Folds ASCII letters and "/" so names match the way Windows finds files;
// double-byte characters are compared as they are.
std::string FoldProgramName(const std::string& gbk);
