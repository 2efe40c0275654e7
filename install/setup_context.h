#pragma once
// The one record that carries a setup run from start-up to exit. Field order
// and sizes are fixed; there is exactly one instance, zero-filled at start.
#include <windows.h>

#include <cstdint>

#include "package/package_format.h"

struct SetupContext {
    HWND MainWindow;   // the wizard frame
    HWND LogList;      // installing page's log list (1024)
    HWND StatusLine;   // installing page's status text (1026)
    HFONT CaptionFont; // bold caption font of the page shown
    HANDLE WorkerThread;
    HANDLE CancelEvent; // null until the user confirms cancelling
    char WorkDir[260];
    char ConfigPath[260];
    char InstallDir[520]; // browsed folder (259) + TagFolder (259) + NUL
    PackageHeader Header;
    int32_t Desktop;
    int32_t QuickStart;
    int32_t StartMenu;
    int32_t ProgramMg;
    uint32_t DatabaseSelected;
    char TagFolder[260];
    char VirSer[260];
    char VirCli[260];
    char VirDB[260];
    uint32_t Failed;
    char ErrorText[260];
    uint32_t InstallServer;
    uint32_t InstallClient;
    int32_t DB2;
    char AppName[260];
    char AppVersion[20];
    int32_t PageIndex;
    HWND CurrentPage;
};

extern SetupContext g_SetupContext;
