#include "tests/support/links.h"

#include <objbase.h>
#include <shlobj.h>

std::string SpecialFolderPath(int csidl) {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)))
        return std::string();
    return path;
}

bool ReadLink(const std::string& linkPath, LinkContents* contents) {
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (ok) {
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
        ok = SUCCEEDED(file->Load(wide, STGM_READ));
        char text[MAX_PATH] = {};
        if (ok && SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)))
            contents->path = text;
        text[0] = '\0';
        if (ok && SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
            contents->workingDir = text;
        text[0] = '\0';
        if (ok && SUCCEEDED(link->GetArguments(text, MAX_PATH)))
            contents->arguments = text;
        file->Release();
    }
    link->Release();
    return ok;
}

ScopedQuickLaunch::ScopedQuickLaunch() {
    path_ = SpecialFolderPath(CSIDL_APPDATA) + "\\";
    for (const char* level : {"Microsoft", "Internet Explorer", "Quick Launch"}) {
        path_ += level;
        if (CreateDirectoryA(path_.c_str(), nullptr))
            made_.push_back(path_);
        path_ += "\\";
    }
}

ScopedQuickLaunch::~ScopedQuickLaunch() {
    // Deepest first; only folders made here, and only when left empty.
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
        RemoveDirectoryA(it->c_str());
}
