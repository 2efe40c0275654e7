#include "install/scratch_files.h"

#include "core/text_util.h"

#include <windows.h>

bool FolderAcceptsNewFiles(const char* folder) {
    // A name of our own, made and removed at once: asking for write access to
    // the folder is not enough (a share or medium may refuse the file itself).
    for (DWORD attempt = 0; attempt < 16; ++attempt) {
        char probe[MAX_PATH];
        if (!FormatFits(probe, sizeof probe, "%sstp%08lX.tmp", folder,
                        static_cast<unsigned long>(GetCurrentProcessId() * 16 + attempt)))
            return false;
        HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool ScratchFilePath(char* out, size_t capacity, const char* name, const char* fallbackFolder) {
    if (FolderAcceptsNewFiles(""))
        return FormatFits(out, capacity, "%s", name);
    return FormatFits(out, capacity, "%s%s", fallbackFolder, name);
}
