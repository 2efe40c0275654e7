// The uninstaller an installation leaves: its Programs and Features entry,
// the silent and the interactive run, what it keeps, and records it must not
// trust. Installations go through the wizard as a user's would.
#include "tests/e2e/e2e_support.h"

#include "record/record_trust.h"
#include "record/uninstall_record.h"
#include "resources/resource_ids.h"
#include "record/link_places.h"
#include "record/uninstall_names.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstring>

namespace {

const std::string kDir = kInstallDir;
const std::string kUninstaller = kDir + kUninstallerFileName;
const std::string kRecord = kDir + kUninstallRecordFileName;
const char kKeyName[] = "MDPX 澜枢软件";

std::string KeyPath() {
    return std::string(kUninstallKeyParent) + "\\" + kKeyName;
}

bool ReadValue(const char* name, std::string* text, DWORD* number) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    bool read = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                                 &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (read && type == REG_SZ && text)
        *text = buffer;
    if (read && type == REG_DWORD && number)
        memcpy(number, buffer, sizeof *number);
    return read && (type == REG_SZ ? text != nullptr : number != nullptr);
}

std::string StartMenuFolder() {
    char folder[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, FALSE);
    return std::string(folder) + "\\澜枢中介管理软件\\";
}

bool SameStamp(const std::string& path, const std::string& bytes) {
    std::string now;
    return ReadBytes(path, &now) && now == bytes;
}

// The uninstaller works from a temporary copy, a process of its own: its
// boxes are found by their caption.
HWND FindUninstallBox(const std::vector<HWND>& skip) {
    return FindMessageBoxByCaption(L"卸载", skip);
}

// Stops a service and waits (bounded) until it has.
void StopService(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (service != nullptr) {
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        WizardDriver::WaitUntil(
            [&] {
                return QueryServiceStatus(service, &status) &&
                       status.dwCurrentState == SERVICE_STOPPED;
            },
            10000);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// Every file of the package is gone from the install folder, except those named.
void ExpectInstalledFilesGone(const TestPackage& package, const std::vector<std::string>& kept) {
    for (const TestFile& file : package.Files) {
        const char* folder = file.Group == PackageGroup::Server   ? "VTRServer\\"
                             : file.Group == PackageGroup::Client ? "VTRClient\\"
                                                                  : "VTRServer\\Mysql\\";
        std::string path = folder + file.RelativePath;
        bool keep = std::find(kept.begin(), kept.end(), path) != kept.end();
        EXPECT_EQ(PathExists(kDir + path), keep) << path;
    }
    EXPECT_FALSE(PathExists(kUninstaller));
    EXPECT_FALSE(PathExists(kRecord));
}

class UninstallTest : public ::testing::Test {
  protected:
    void SetUp() override { CleanInstallation(); }
    void TearDown() override { CleanInstallation(); }

    // Welcome to Finish and closed; programMg false clears box 1023.
    void Install(const TestPackage& package, const char* name, bool programMg = true) {
        ASSERT_TRUE(PrepareSetup(package, name, &exe_, &work_));
        ASSERT_TRUE(StartWizard(&driver_, exe_, work_));
        ASSERT_TRUE(GoToLocation(&driver_, IDYES));
        ASSERT_TRUE(PressNext(&driver_, 2));
        if (!programMg)
            driver_.ClickPageControl(IDC_PROGRAMMG_BOX);
        EXPECT_EQ(driver_.IsChecked(IDC_PROGRAMMG_BOX), programMg);
        ASSERT_TRUE(PressNext(&driver_, 3));
        driver_.ClickFrameButton(IDOK);
        std::vector<std::string> reports;
        ASSERT_TRUE(WaitForFinish(&driver_, 120000, &reports));
        for (const std::string& report : reports)
            ADD_FAILURE() << "message box: " << report;
        driver_.ClickFrameButton(IDCANCEL);
        ASSERT_EQ(driver_.WaitForExit(5000), 0);
    }

    // The silent uninstall, then the wait for its copy to remove the program.
    int UninstallSilently() {
        int code = RunProcess("\"" + kUninstaller + "\" /S", 120000);
        WizardDriver::WaitUntil([] { return !PathExists(kUninstaller); }, 10000);
        return code;
    }

    std::string exe_, work_;
    WizardDriver driver_;
};

TEST_F(UninstallTest, InstallRegistersOneEntryAndSilentUninstallRemovesOnlyWhatItMade) {
    TestPackage package = RunnablePackage();
    Install(package, "uninstall-full");
    Install(package, "uninstall-again"); // a second installation: still one entry
    EXPECT_EQ(UninstallEntryKeys(), std::vector<std::string>{kKeyName});

    // The entry and each of its values.
    std::string text;
    DWORD number = 0;
    const struct {
        const char* Name;
        std::string Expected;
    } texts[] = {
        {"DisplayName", "澜枢软件 v2.0.0.1"},
        {"DisplayVersion", "v2.0.0.1"},
        {"Publisher", "澜枢软件"},
        {"InstallLocation", kDir.substr(0, kDir.size() - 1)},
        {"DisplayIcon", kUninstaller + ",0"},
        {"UninstallString", "\"" + kUninstaller + "\""},
        {"QuietUninstallString", "\"" + kUninstaller + "\" /S"},
    };
    for (const auto& value : texts) {
        text.clear();
        EXPECT_TRUE(ReadValue(value.Name, &text, nullptr)) << value.Name;
        EXPECT_EQ(text, value.Expected) << value.Name;
    }
    ASSERT_TRUE(ReadValue("InstallDate", &text, nullptr));
    SYSTEMTIME now;
    GetLocalTime(&now);
    char today[16];
    snprintf(today, sizeof today, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    EXPECT_EQ(text, today);
    for (const char* flag : {"NoModify", "NoRepair"}) {
        number = 0;
        EXPECT_TRUE(ReadValue(flag, nullptr, &number)) << flag;
        EXPECT_EQ(number, 1u) << flag;
    }
    uint64_t bytes = 0;
    for (const TestFile& file : package.Files)
        bytes += file.Bytes.size();
    ASSERT_TRUE(ReadValue("EstimatedSize", nullptr, &number));
    EXPECT_GE(number, bytes / 1024);
    EXPECT_LE(number, bytes / 1024 + 1024);

    // The program is small and carries no payload; the link leads to it.
    WIN32_FILE_ATTRIBUTE_DATA program;
    ASSERT_TRUE(GetFileAttributesExA(kUninstaller.c_str(), GetFileExInfoStandard, &program));
    EXPECT_LT(program.nFileSizeLow, 512u * 1024);
    EXPECT_TRUE(PathExists(kRecord));
    EXPECT_TRUE(PathExists(StartMenuFolder() + kUninstallLinkName));

    // The database changed one of its files; the user added one.
    const std::string changed = kDir + "VTRServer\\Mysql\\my.ini";
    const std::string added = kDir + "VTRServer\\Mysql\\data\\orders.ibd";
    ASSERT_TRUE(WriteBytes(changed, "[mysqld]\r\nport=3307\r\n"));
    CreateDirectoryA((kDir + "VTRServer\\Mysql\\data").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(added, "user data"));

    ASSERT_TRUE(ServiceExists("VTR NetWork Mysql"));
    EXPECT_EQ(UninstallSilently(), 0);
    EXPECT_FALSE(ServiceExists("VTR NetWork Mysql"));
    EXPECT_TRUE(UninstallEntryKeys().empty());
    EXPECT_FALSE(PathExists(StartMenuFolder())) << "Start-menu folder left";
    char desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    EXPECT_FALSE(PathExists(std::string(desktop) + "\\澜枢软件.lnk"));
    EXPECT_FALSE(PathExists(std::string(desktop) + "\\澜枢软件服务器.lnk"));
    EXPECT_FALSE(PathExists(kUninstaller));
    EXPECT_FALSE(PathExists(kRecord));
    // Kept: the changed and the new files; every other installed file is gone.
    EXPECT_TRUE(SameStamp(changed, "[mysqld]\r\nport=3307\r\n"));
    EXPECT_TRUE(SameStamp(added, "user data"));
    ExpectInstalledFilesGone(package, {"VTRServer\\Mysql\\my.ini"});
    // The folder that held only installed files went with them.
    EXPECT_FALSE(PathExists(kDir + "VTRServer\\conf"));
}

TEST_F(UninstallTest, ProgramMgClearedLeavesNoUninstallerAndNoEntry) {
    Install(RunnablePackage(), "uninstall-off", false);
    EXPECT_TRUE(PathExists(kDir + "VTRClient\\client.ini"));
    EXPECT_FALSE(PathExists(kUninstaller));
    EXPECT_FALSE(PathExists(kRecord));
    EXPECT_TRUE(UninstallEntryKeys().empty());
    EXPECT_FALSE(PathExists(StartMenuFolder() + kUninstallLinkName));
}

// A record changed after the installation (here: lines naming a file outside
// the install folder, with its true size) is not the one the entry vouches
// for: refused whole, nothing touched.
TEST_F(UninstallTest, ChangedRecordIsRefusedAndNothingIsTouched) {
    Install(RunnablePackage(), "uninstall-tampered");
    std::string outsideDir = MakeScratchDir("uninstall-outside");
    const std::string outside = outsideDir + "keep.txt";
    ASSERT_TRUE(WriteBytes(outside, "not the installer's"));
    std::string record;
    ASSERT_TRUE(ReadBytes(kRecord, &record));
    record += "F 19 00000000 ..\\uninstall-outside\\keep.txt\r\nS Spooler\r\n";
    ASSERT_TRUE(WriteBytes(kRecord, record));

    EXPECT_EQ(UninstallSilently(), 2);
    EXPECT_TRUE(SameStamp(outside, "not the installer's"));
    EXPECT_TRUE(PathExists(kDir + "VTRClient\\client.ini"));
    EXPECT_TRUE(PathExists(kUninstaller));
    EXPECT_TRUE(ServiceExists("VTR NetWork Mysql"));
    EXPECT_EQ(UninstallEntryKeys(), std::vector<std::string>{kKeyName});
    RemoveTree(outsideDir);
}

// Installing again over files the user changed keeps them the user's: the
// uninstall that follows leaves them, and removes the files nobody changed
// (listed unchanged by the earlier record) and the new ones.
TEST_F(UninstallTest, ReinstallOverUserEditedFilesThenUninstallKeepsThem) {
    TestPackage package = RunnablePackage();
    const char* grantTables[] = {"data\\mysql\\user.MYD", "data\\mysql\\user.MYI",
                                 "data\\mysql\\user.frm"};
    for (const char* table : grantTables)
        AddTestFile(&package, PackageGroup::Database, table, std::string("grants ") + table);
    Install(package, "uninstall-reinstall-1");
    const struct {
        std::string Path;
        std::string Bytes;
    } edited[] = {
        {"VTRServer\\Mysql\\my.ini", "[mysqld]\r\nport=3310\r\n"},
        {"VTRServer\\conf\\server.ini", "[server]\r\nport=8700\r\n"},
        {"VTRClient\\client.ini", "[client]\r\nserver=10.0.0.2\r\n"},
        {"VTRServer\\Mysql\\data\\mysql\\user.MYD", "the user's grants"},
    };
    for (const auto& file : edited)
        ASSERT_TRUE(WriteBytes(kDir + file.Path, file.Bytes)) << file.Path;
    StopService("VTR NetWork Mysql");
    Install(package, "uninstall-reinstall-2");
    for (const auto& file : edited)
        EXPECT_TRUE(SameStamp(kDir + file.Path, file.Bytes)) << "reinstall replaced " << file.Path;
    // The new record leaves the changed files out and keeps the others.
    std::string text;
    UninstallRecord record;
    ASSERT_TRUE(ReadBytes(kRecord, &text));
    ASSERT_EQ(ParseUninstallRecord(text.data(), text.size(), &record), RecordError::kOk);
    std::vector<std::string> listed;
    for (const RecordedFile& file : record.Files)
        listed.push_back(GbkFromWide(WideFrom(file.Path, CP_UTF8)));
    for (const auto& file : edited)
        EXPECT_EQ(std::count(listed.begin(), listed.end(), file.Path), 0) << file.Path;
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "VTRServer\\Mysql\\data\\mysql\\user.frm"),
              1);

    EXPECT_EQ(UninstallSilently(), 0);
    std::vector<std::string> kept;
    for (const auto& file : edited) {
        EXPECT_TRUE(SameStamp(kDir + file.Path, file.Bytes)) << "uninstall deleted " << file.Path;
        kept.push_back(file.Path);
    }
    ExpectInstalledFilesGone(package, kept);
}

TEST_F(UninstallTest, UnreadableRecordIsRefusedAndNothingIsTouched) {
    Install(RunnablePackage(), "uninstall-unreadable");
    ASSERT_TRUE(WriteBytes(kRecord, "MDPX-UNINSTALL 1\r\nF twelve bytes\r\n"));
    EXPECT_EQ(RunProcess("\"" + kUninstaller + "\" /S", 60000), 2);
    EXPECT_TRUE(PathExists(kDir + "VTRClient\\client.ini"));
    EXPECT_TRUE(ServiceExists("VTR NetWork Mysql"));
    EXPECT_FALSE(UninstallEntryKeys().empty());

    // Without the switch the refusal is said in a box, and still nothing goes.
    ASSERT_TRUE(driver_.Start(kUninstaller, kDir));
    HWND box = nullptr;
    ASSERT_TRUE(
        WizardDriver::WaitUntil([&] { return (box = FindUninstallBox({})) != nullptr; }, 15000));
    std::string message = driver_.ItemText(box, 0xFFFF);
    EXPECT_NE(message.find("无法读取卸载信息文件"), std::string::npos) << message;
    EXPECT_NE(message.find("第 2 行"), std::string::npos) << message;
    driver_.AnswerMessageBox(box, IDOK);
    EXPECT_EQ(driver_.WaitForExit(15000), 2);
    EXPECT_TRUE(PathExists(kUninstaller));
    EXPECT_TRUE(PathExists(kDir + "VTRClient\\client.ini"));
}

// Run by hand: the question names the product; No keeps everything, Yes
// removes it and the last box names what was kept and why.
TEST_F(UninstallTest, InteractiveQuestionNoKeepsEverythingYesRemovesAndNamesWhatStays) {
    Install(RunnablePackage(), "uninstall-interactive");
    const std::string added = kDir + "VTRClient\\notes.txt";
    ASSERT_TRUE(WriteBytes(added, "mine"));
    std::vector<HWND> seen;
    auto nextBox = [&]() {
        HWND box = nullptr;
        WizardDriver::WaitUntil([&] { return (box = FindUninstallBox(seen)) != nullptr; }, 30000);
        if (box)
            seen.push_back(box);
        return box;
    };

    ASSERT_TRUE(driver_.Start(kUninstaller, kDir));
    HWND question = nextBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(driver_.Text(question), "卸载 澜枢软件");
    std::string asked = driver_.ItemText(question, 0xFFFF);
    EXPECT_NE(asked.find("澜枢软件 v2.0.0.1"), std::string::npos) << asked;
    driver_.AnswerMessageBox(question, IDNO);
    EXPECT_EQ(driver_.WaitForExit(15000), 3);
    EXPECT_TRUE(PathExists(kUninstaller));
    EXPECT_TRUE(PathExists(kDir + "VTRClient\\client.ini"));
    EXPECT_TRUE(ServiceExists("VTR NetWork Mysql"));

    ASSERT_TRUE(driver_.Start(kUninstaller, kDir));
    question = nextBox();
    ASSERT_NE(question, nullptr);
    driver_.AnswerMessageBox(question, IDYES);
    HWND summary = nextBox();
    ASSERT_NE(summary, nullptr);
    std::string said = driver_.ItemText(summary, 0xFFFF);
    EXPECT_NE(said.find("已卸载"), std::string::npos) << said;
    EXPECT_NE(said.find("VTRClient\\notes.txt（安装后新建）"), std::string::npos) << said;
    driver_.AnswerMessageBox(summary, IDOK);
    EXPECT_EQ(driver_.WaitForExit(15000), 0);
    WizardDriver::WaitUntil([] { return !PathExists(kUninstaller); }, 10000);
    EXPECT_FALSE(PathExists(kUninstaller));
    EXPECT_TRUE(SameStamp(added, "mine"));
    EXPECT_FALSE(ServiceExists("VTR NetWork Mysql"));
    EXPECT_TRUE(UninstallEntryKeys().empty());
}

// Parts already gone by hand (a service, a whole group folder, a link): the
// rest goes and the run ends cleanly.
TEST_F(UninstallTest, WhatIsAlreadyGoneIsNoError) {
    Install(RunnablePackage(), "uninstall-gone");
    RemoveTree(kDir + "VTRClient\\");
    DeleteFileA((StartMenuFolder() + "澜枢软件.lnk").c_str());
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "VTR NetWork Mysql", SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WizardDriver::WaitUntil(
        [&] {
            return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
        },
        10000);
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    EXPECT_EQ(UninstallSilently(), 0);
    ExpectInstalledFilesGone(RunnablePackage(), {});
    EXPECT_TRUE(UninstallEntryKeys().empty());
    EXPECT_FALSE(PathExists(StartMenuFolder()));
}

} // namespace
