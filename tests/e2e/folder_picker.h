#pragma once
// Drives the classic folder picker (SHBrowseForFolder) another process shows:
// finds its dialog and shell tree, and walks the tree by item texts. Tree-view
// items do not hand their texts across processes, so they are read through a
// buffer in the picker's process.
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

class FolderPicker {
  public:
    explicit FolderPicker(DWORD processId);
    ~FolderPicker();
    FolderPicker(const FolderPicker&) = delete;
    FolderPicker& operator=(const FolderPicker&) = delete;

    // Waits for the picker: a visible dialog of the process with a tree view.
    bool Wait(DWORD timeoutMs = 10000);
    HWND Dialog() const { return dialog_; }
    HWND Tree() const { return tree_; }

    // Texts (code page 936) of the children of item (null: the top items),
    // expanding it first so the picker fills it in.
    std::vector<std::pair<HTREEITEM, std::string>> Children(HTREEITEM item);
    // Selects the folder D:\a\b by walking from the drive's item down; false
    // when a step is not found.
    bool SelectPath(const std::string& path);
    // Every item text within depth levels, indented, for failure messages.
    std::string Dump(int depth);

    void Press(int buttonId);

  private:
    std::string ItemText(HTREEITEM item);
    HTREEITEM FindDrive(char letter);
    DWORD processId_;
    HANDLE process_ = nullptr;
    void* remote_ = nullptr;
    HWND dialog_ = nullptr;
    HWND tree_ = nullptr;
};
