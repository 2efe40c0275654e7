#pragma once
// Command-line handling of setup-pack.
#include "tools/setup_pack/pack_build.h"

#include <string>
#include <vector>

extern const char kUsageText[];

enum class ParseOutcome { kRun, kHelp, kError };

// Parses the arguments after "build". TemplateExe keeps its preset value
// unless --template is given.
ParseOutcome ParseBuildArguments(const std::vector<std::wstring>& args, PackBuildOptions* options,
                                 std::string* error);
