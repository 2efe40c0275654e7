#pragma once
// Makes sure a folder exists, creating missing ancestors. fileMode non-zero:
// path names a file whose folder must exist; zero: path names a folder.
// Always returns 1; a folder that could not be made shows up when used.
int EnsureDirectoryPath(const char* path, int fileMode);
