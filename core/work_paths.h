#pragma once
// Names of the temporary work folder and of the INI copy written into it.
#include <cstddef>
#include <cstdint>

// ((tick * 8392) mod 2^32) / 223: never above 0x0125E227.
uint32_t WorkFolderNumber(uint32_t tick);
// (tick * 65280) mod 2^32: the hexadecimal name always ends in "00".
uint32_t ConfigFileNumber(uint32_t tick);

// tempPath + "MDPX" + 8 hex digits + "\". False when it does not fit.
bool MakeWorkDirPath(char* out, size_t capacity, const char* tempPath, uint32_t tick);
// workDir + 8 hex digits + ".tmp". False when it does not fit.
bool MakeConfigPath(char* out, size_t capacity, const char* workDir, uint32_t tick);
