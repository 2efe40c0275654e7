#pragma once
// Value rules of the configuration INI, independent of how it is read.
#include <cstddef>
#include <cstdint>

// Like atoi: leading blanks, an optional sign, decimal digits up to the first
// other character; no digits give 0. Overflow wraps in 32 bits instead of
// being undefined.
int32_t ParseIniInteger(const char* text);

// Folder values end in a backslash unless empty. Only the last byte is
// looked at, so a double-byte character with trail byte 0x5C counts as one.
// A value that fills its field keeps its length: nothing is cut.
void AppendFolderSeparator(char* field, size_t capacity);
