#include "tests/e2e/e2e_support.h"

#include "resources/resource_ids.h"
#include "tests/support/services.h"
#include "record/uninstall_names.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

const char kInstallDir[] = "D:\\澜枢软件\\";

static const char* const kServices[] = {"VTR NetWork Mysql", "VTR Personal Mysql"};

static std::string FileBytes(const std::string& path) {
    std::string bytes;
    ReadBytes(path, &bytes);
    return bytes;
}

TestPackage RunnablePackage(bool withServer) {
    TestPackage package = EmptySamplePackage();
    auto add = [&](PackageGroup group, const char* path, std::string bytes) {
        AddTestFile(&package, group, path, std::move(bytes));
    };
    if (withServer) {
        add(PackageGroup::Server, "VTRServer.exe", FileBytes(BinPath("VTRServer.exe")));
        add(PackageGroup::Server, "conf\\server.ini", "[server]\r\nport=8600\r\n");
    }
    add(PackageGroup::Client, "VTRClient.exe", FileBytes(BinPath("VTRClient.exe")));
    add(PackageGroup::Client, "client.ini", "[client]\r\nserver=127.0.0.1\r\n");
    add(PackageGroup::Database, "bin\\mysqld.exe", FileBytes(BinPath("mysqld.exe")));
    add(PackageGroup::Database, "my.ini", "[mysqld]\r\nport=3306\r\n");
    return package;
}

void AddBulkFiles(TestPackage* package, int count, size_t size) {
    // Client entries go before the database group's.
    auto at = package->Files.begin();
    while (at != package->Files.end() && at->Group != PackageGroup::Database)
        ++at;
    std::vector<TestFile> bulk;
    uint32_t state = 12345;
    for (int i = 0; i < count; ++i) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 24);
        }
        char path[64];
        snprintf(path, sizeof path, "data\\bulk%04d.bin", i);
        bulk.push_back(TestFile{PackageGroup::Client, path, std::move(bytes), MakeTimes(100 + i)});
    }
    package->Files.insert(at, bulk.begin(), bulk.end());
}

bool PrepareSetup(const TestPackage& package, const std::string& name, std::string* exePath,
                  std::string* workDir) {
    std::string base = std::string(TEST_SCRATCH_DIR) + "\\e2e";
    CreateDirectoryA(base.c_str(), nullptr);
    *exePath = base + "\\" + name + ".exe";
    *workDir = MakeScratchDir("work-" + name, base);
    return WriteTestSetup(package, *exePath);
}

static void RemoveLinks() {
    const int places[] = {CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_APPDATA};
    for (int place : places) {
        char folder[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathA(nullptr, folder, place, FALSE))
            continue;
        std::string base = folder;
        if (place == CSIDL_COMMON_PROGRAMS)
            RemoveTree(base + "\\澜枢中介管理软件");
        if (place == CSIDL_APPDATA)
            base += "\\Microsoft\\Internet Explorer\\Quick Launch";
        DeleteFileA((base + "\\澜枢软件服务器.lnk").c_str());
        DeleteFileA((base + "\\澜枢软件.lnk").c_str());
    }
}

static void RemoveServices() {
    for (const char* name : kServices)
        RemoveService(name);
}

// Programs and Features entries an installation made (all begin "MDPX ").
static void RemoveUninstallEntries() {
    for (const std::string& key : UninstallEntryKeys())
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyParent) + "\\" + key).c_str());
}

std::vector<std::string> UninstallEntryKeys() {
    std::vector<std::string> keys;
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyParent, 0, KEY_READ, &parent) !=
        ERROR_SUCCESS)
        return keys;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(parent, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (strncmp(name, "MDPX ", 5) == 0)
            keys.push_back(name);
    }
    RegCloseKey(parent);
    return keys;
}

void CleanInstallation() {
    RemoveServices();
    RemoveLinks();
    RemoveUninstallEntries();
    RemoveTree(kInstallDir);
}

bool ServiceExists(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

bool StartWizard(WizardDriver* driver, const std::string& exePath, const std::string& workDir) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!driver->Start(exePath, workDir))
            return false;
        if (driver->WaitForFrame())
            return driver->WaitForPage(0);
        // Seen once in a few hundred runs under Wine: the program ends at
        // once without any window. A second start tells that apart from a
        // program that never shows its wizard.
        if (!driver->HasExited())
            return false;
        printf("setup program ended without a window (exit code %d); starting it again\n",
               driver->WaitForExit(0));
    }
    return false;
}

bool GoToLocation(WizardDriver* driver, int answer) {
    driver->ClickFrameButton(IDOK);
    HWND box = nullptr;
    if (answer != 0) {
        box = driver->WaitForMessageBox();
        if (!box)
            return false;
        driver->AnswerMessageBox(box, answer);
    }
    // The page finishes its initialisation after the question: it checks the
    // server box and then shows the required space, which until then holds
    // the template's bare label. An answered box counts as gone for
    // FindMessageBox, so the box's own window is watched.
    const std::string label = "所需空间：";
    return driver->WaitForPage(1) &&
           WizardDriver::WaitUntil(
               [&] {
                   return (!box || !IsWindow(box)) &&
                          driver->PageText(IDC_REQUIRED_SPACE).size() > label.size();
               },
               5000);
}

bool PressNext(WizardDriver* driver, int page) {
    driver->ClickFrameButton(IDOK);
    return driver->WaitForPage(page);
}

bool PressBack(WizardDriver* driver, int page) {
    driver->ClickFrameButton(IDC_BACK);
    return driver->WaitForPage(page);
}

bool WaitForFinish(WizardDriver* driver, DWORD timeoutMs, std::vector<std::string>* reports) {
    return WizardDriver::WaitUntil(
        [&] {
            if (HWND box = driver->FindMessageBox()) {
                if (reports)
                    reports->push_back(driver->ItemText(box, 0xFFFF));
                driver->AnswerMessageBox(box, IDOK);
                Sleep(100);
            }
            return driver->PageIndex() == 5;
        },
        timeoutMs);
}

std::string RequiredText(uint64_t bytes) {
    char text[64];
    snprintf(text, sizeof text, "所需空间：%0.0fMB", static_cast<double>(bytes) / 1048576.0);
    return text;
}
