#include "install/directory_path.h"

#include <windows.h>

#include <cstring>

#include "core/text_util.h"

namespace {

// Last backslash that separates path levels, read character by character in
// the ANSI code page: the trail byte of a double-byte character may be 0x5C.
char* FindLastSeparator(char* text) {
    char* last = nullptr;
    for (char* p = text; *p != '\0';) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            p += 2;
            continue;
        }
        if (*p == '\\')
            last = p;
        ++p;
    }
    return last;
}

} // namespace

int EnsureDirectoryPath(const char* path, int fileMode) {
    EnsureFolderPath(path, fileMode);
    return 1;
}

FolderState EnsureFolderPath(const char* path, int fileMode) {
    if (path == nullptr)
        return FolderState::Missing;
    size_t length = strnlen(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FolderState::Missing;

    // The folder, its trailing backslash and the "*.*" probe must all fit;
    // the unused tail stays zero so the forward walk can restore separators.
    char buffer[MAX_PATH + 4];
    memset(buffer, 0, sizeof buffer);
    CopyBounded(buffer, sizeof buffer, path);
    char* separator = FindLastSeparator(buffer);
    if (separator == nullptr)
        return FolderState::Missing;
    if (fileMode) {
        memset(separator + 1, 0, sizeof buffer - (separator + 1 - buffer));
    } else if (separator[1] != '\0') {
        // Judged by character, not by byte: a name may end in a trail byte 0x5C.
        AppendBounded(buffer, sizeof buffer, "\\");
    }
    AppendBounded(buffer, sizeof buffer, "*.*");

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(buffer, &found);
    if (search != nullptr && search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return FolderState::Existed;
    }

    // Up from the deepest level until one can be created (its parent exists)...
    int failures = 0;
    bool created = false;
    for (separator = FindLastSeparator(buffer); separator != nullptr;
         separator = FindLastSeparator(buffer)) {
        *separator = '\0';
        created = CreateDirectoryA(buffer, nullptr) != 0;
        if (created)
            break;
        ++failures;
    }
    // ...then down again, bringing back one level per failed attempt. When
    // no level could be made, the last attempt is the "*.*" name and fails.
    for (int i = 0; i < failures; ++i) {
        buffer[strlen(buffer)] = '\\';
        bool made = CreateDirectoryA(buffer, nullptr) != 0;
        created = created && made;
    }
    return created ? FolderState::Created : FolderState::Missing;
}
