#include "message_boxes.h"

#include "resources/resource_ids.h"

#include <cstring>

namespace {

struct BoxSearch {
    DWORD ProcessId;
    const std::set<HWND>* Answered;
    std::vector<HWND> Found;
    bool FirstOnly;
};

BOOL CALLBACK CollectNewBoxes(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->ProcessId || !IsWindowVisible(window) || !IsMessageBox(window) ||
        search->Answered->count(window) != 0)
        return TRUE;
    search->Found.push_back(window);
    return search->FirstOnly ? FALSE : TRUE;
}

std::vector<HWND> NewBoxes(DWORD processId, const std::set<HWND>& answered, bool firstOnly) {
    BoxSearch search{processId, &answered, {}, firstOnly};
    EnumWindows(CollectNewBoxes, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

} // namespace

bool IsMessageBox(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return strcmp(name, "#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr &&
           GetDlgItem(window, IDC_HEADER_BAND) == nullptr;
}

std::string MessageBoxWindowText(HWND window) {
    if (!window)
        return std::string();
    // Sent, as the driver reads texts: GetWindowTextA reads another
    // process's windows from a copy not every control keeps. Bounded by the
    // timeout, since the box's thread may be suspended or hung. Not
    // SMTO_ABORTIFHUNG: a thread that waited on a child for more than five
    // seconds counts as hung until its box's loop first asks for a message,
    // and a box found in that moment would read as empty.
    std::wstring wide(4096, L'\0');
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(&wide[0]),
                             SMTO_NORMAL, 5000, &length))
        return std::string();
    if (length == 0)
        return std::string();
    int size = WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(length), nullptr, 0,
                                   nullptr, nullptr);
    std::string text(size, '\0');
    WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(length), &text[0], size, nullptr,
                        nullptr);
    return text;
}

void MessageBoxAnswerer::Watch(DWORD processId) {
    processId_ = processId;
    answered_.clear();
}

HWND MessageBoxAnswerer::FindNew() const {
    std::vector<HWND> found = NewBoxes(processId_, answered_, true);
    return found.empty() ? nullptr : found.front();
}

AnsweredBox MessageBoxAnswerer::Read(HWND box) const {
    AnsweredBox read;
    read.Window = box;
    read.Owner = GetWindow(box, GW_OWNER);
    read.Caption = MessageBoxWindowText(box);
    read.Text = MessageBoxWindowText(GetDlgItem(box, 0xFFFF));
    return read;
}

void MessageBoxAnswerer::Answer(HWND box, int buttonId) {
    answered_.insert(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

std::vector<AnsweredBox> MessageBoxAnswerer::AnswerAll(int buttonId) {
    std::vector<AnsweredBox> boxes;
    for (HWND box : NewBoxes(processId_, answered_, false)) {
        boxes.push_back(Read(box));
        Answer(box, buttonId);
    }
    return boxes;
}
