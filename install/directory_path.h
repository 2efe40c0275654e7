#pragma once
// Makes sure a folder exists, creating missing ancestors. fileMode non-zero:
// path names a file whose folder must exist; zero: path names a folder.
// Always returns 1; a folder that could not be made shows up when used.
int EnsureDirectoryPath(const char* path, int fileMode);

// What EnsureFolderPath found or did for the folder itself.
enum class FolderState {
    Existed, // the probe found it; nothing was created
    Created, // this call created it, so it is empty
    Missing, // it could not be made (or the probe could not see it)
};

// EnsureDirectoryPath that also says what became of the folder.
FolderState EnsureFolderPath(const char* path, int fileMode);
