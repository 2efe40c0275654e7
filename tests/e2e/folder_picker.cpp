#include "tests/e2e/folder_picker.h"

#include "tools/wizard_driver/wizard_driver.h"

#include <commctrl.h>

#include <cctype>
#include <cstring>

namespace {

const size_t kTextChars = 260;

struct PickerSearch {
    DWORD ProcessId;
    HWND Dialog;
    HWND Tree;
};

BOOL CALLBACK FindTreeChild(HWND child, LPARAM parameter) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (strcmp(name, WC_TREEVIEWA) != 0)
        return TRUE;
    reinterpret_cast<PickerSearch*>(parameter)->Tree = child;
    return FALSE;
}

BOOL CALLBACK FindPicker(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<PickerSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (owner != search->ProcessId || !IsWindowVisible(window) || strcmp(name, "#32770") != 0)
        return TRUE;
    search->Tree = nullptr;
    EnumChildWindows(window, FindTreeChild, parameter);
    if (search->Tree == nullptr)
        return TRUE;
    search->Dialog = window;
    return FALSE;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

FolderPicker::FolderPicker(DWORD processId) : processId_(processId) {
    process_ =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process_ != nullptr)
        remote_ = VirtualAllocEx(process_, nullptr, sizeof(TVITEMW) + kTextChars * sizeof(wchar_t),
                                 MEM_COMMIT, PAGE_READWRITE);
}

FolderPicker::~FolderPicker() {
    if (remote_ != nullptr)
        VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
    if (process_ != nullptr)
        CloseHandle(process_);
}

bool FolderPicker::Wait(DWORD timeoutMs) {
    return WizardDriver::WaitUntil(
        [&] {
            PickerSearch search{processId_, nullptr, nullptr};
            EnumWindows(FindPicker, reinterpret_cast<LPARAM>(&search));
            dialog_ = search.Dialog;
            tree_ = search.Tree;
            return dialog_ != nullptr;
        },
        timeoutMs);
}

std::string FolderPicker::ItemText(HTREEITEM item) {
    if (remote_ == nullptr)
        return "";
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote_) + sizeof(TVITEMW));
    TVITEMW request = {};
    request.mask = TVIF_TEXT | TVIF_HANDLE;
    request.hItem = item;
    request.pszText = remoteText;
    request.cchTextMax = kTextChars;
    wchar_t text[kTextChars] = {};
    if (!WriteProcessMemory(process_, remote_, &request, sizeof request, nullptr) ||
        !WriteProcessMemory(process_, remoteText, text, sizeof text, nullptr))
        return "";
    SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote_));
    if (!ReadProcessMemory(process_, remoteText, text, sizeof text - sizeof(wchar_t), nullptr))
        return "";
    return ToGbk(text);
}

std::vector<std::pair<HTREEITEM, std::string>> FolderPicker::Children(HTREEITEM item) {
    std::vector<std::pair<HTREEITEM, std::string>> children;
    HTREEITEM child;
    if (item == nullptr) {
        child = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    } else {
        // The picker fills an item in when it is first expanded.
        SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        child = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
    }
    while (child != nullptr) {
        children.emplace_back(child, ItemText(child));
        child = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
    }
    return children;
}

// A drive shows as "Name (D:)" or "D:\"; it lies two levels below the top
// (the desktop, then the computer).
HTREEITEM FolderPicker::FindDrive(char letter) {
    std::string colon = Lower(std::string(1, letter) + ":");
    for (const auto& top : Children(nullptr)) {
        for (const auto& place : Children(top.first)) {
            // Only the computer holds drives; the network and the like are
            // not opened.
            if (place.second.find(':') != std::string::npos)
                continue;
            std::vector<std::pair<HTREEITEM, std::string>> inside;
            bool computer = false;
            std::string name = Lower(place.second);
            if (name.find("computer") != std::string::npos ||
                name.find("电脑") != std::string::npos || name.find("计算机") != std::string::npos)
                computer = true;
            if (!computer)
                continue;
            for (const auto& drive : Children(place.first)) {
                std::string text = Lower(drive.second);
                if (text.find("(" + colon + ")") != std::string::npos || text.rfind(colon, 0) == 0)
                    return drive.first;
            }
        }
    }
    return nullptr;
}

bool FolderPicker::SelectPath(const std::string& path) {
    if (path.size() < 3 || path[1] != ':')
        return false;
    HTREEITEM item = FindDrive(path[0]);
    size_t start = 3;
    while (item != nullptr && start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        HTREEITEM next = nullptr;
        for (const auto& child : Children(item))
            if (Lower(child.second) == Lower(name))
                next = child.first;
        item = next;
    }
    if (item == nullptr)
        return false;
    return SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

std::string FolderPicker::Dump(int depth) {
    std::string out;
    std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int level) {
        for (const auto& child : Children(item)) {
            out += std::string(level * 2, ' ') + child.second + "\n";
            if (level + 1 < depth)
                walk(child.first, level + 1);
        }
    };
    walk(nullptr, 0);
    return out;
}

void FolderPicker::Press(int buttonId) {
    HWND button = GetDlgItem(dialog_, buttonId);
    PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}
