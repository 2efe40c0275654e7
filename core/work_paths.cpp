#include "core/work_paths.h"

#include "core/text_util.h"

uint32_t WorkFolderNumber(uint32_t tick) {
    return (tick * 8392u) / 223u;
}

uint32_t ConfigFileNumber(uint32_t tick) {
    return tick * 65280u;
}

bool MakeWorkDirPath(char* out, size_t capacity, const char* tempPath, uint32_t tick) {
    return FormatFits(out, capacity, "%sMDPX%08X\\", tempPath,
                      static_cast<unsigned>(WorkFolderNumber(tick)));
}

bool MakeConfigPath(char* out, size_t capacity, const char* workDir, uint32_t tick) {
    return FormatFits(out, capacity, "%s%08X.tmp", workDir,
                      static_cast<unsigned>(ConfigFileNumber(tick)));
}
