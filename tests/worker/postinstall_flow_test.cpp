// The post-install flow as the worker runs it after unpacking, with every
// shortcut setting on, both sides, the network database service and both
// set-up runs: what the user finds in the Start menu, on the desktop and in
// Quick Launch, what the installing list says, and how far the bar goes.
#include "tests/support/links.h"
#include "tests/support/services.h"
#include "tests/support/worker_harness.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>

namespace {

const char kNetworkService[] = "VTR NetWork Mysql";
const char kFolderName[] = "澜枢中介管理软件";
const char kServerLink[] = "澜枢软件服务器.lnk";
const char kClientLink[] = "澜枢软件.lnk";

std::string BinBytes(const char* name) {
    std::string bytes;
    EXPECT_TRUE(ReadBytes(BinPath(name), &bytes)) << name;
    return bytes;
}

class PostInstallFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        startMenu = SpecialFolderPath(CSIDL_COMMON_PROGRAMS) + "\\" + kFolderName + "\\";
        desktop = SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\";
        quickLaunch = std::make_unique<ScopedQuickLaunch>();
        RemoveWhatTheRunMakes();
    }
    void TearDown() override {
        RemoveWhatTheRunMakes();
        quickLaunch.reset();
    }
    void RemoveWhatTheRunMakes() {
        RemoveService(kNetworkService);
        RemoveTree(startMenu);
        for (const std::string& folder : {desktop, quickLaunch->Path()}) {
            DeleteFileA((folder + kServerLink).c_str());
            DeleteFileA((folder + kClientLink).c_str());
        }
    }

    std::string startMenu, desktop;
    std::unique_ptr<ScopedQuickLaunch> quickLaunch;
};

TEST_F(PostInstallFlowTest, EveryShortcutSettingOnWithBothSidesAndBothSetupRuns) {
    std::string install = MakeScratchDir("worker_postinstall");
    TestPackage package = EmptySamplePackage();
    AddTestFile(&package, PackageGroup::Server, "VTRServer.exe", BinBytes("VTRServer.exe"));
    AddTestFile(&package, PackageGroup::Server, "conf\\server.ini", "[server]\r\n");
    AddTestFile(&package, PackageGroup::Client, "VTRClient.exe", BinBytes("VTRClient.exe"));
    AddTestFile(&package, PackageGroup::Database, "bin\\mysqld.exe", BinBytes("mysqld.exe"));
    AddTestFile(&package, PackageGroup::Database, "my.ini", "[mysqld]\r\n");
    ASSERT_TRUE(package.Settings.ServerRun && package.Settings.ClientRun);
    WorkerHarness harness;
    harness.Prepare(package, install);
    g_SetupContext.StartMenu = 1;
    g_SetupContext.Desktop = 1;
    g_SetupContext.QuickStart = 1;
    g_SetupContext.DB2 = 1;
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    for (const auto& box : harness.Boxes)
        ADD_FAILURE() << "message box: [" << box.second << "] " << box.first;
    EXPECT_EQ(ServiceState(kNetworkService), static_cast<DWORD>(SERVICE_RUNNING));

    // Five entries, and per side one step for its links and one for its set-up run.
    EXPECT_EQ(harness.ProgressMaximum(), 5 + 2 + 2);
    EXPECT_EQ(harness.ProgressPosition(), 5 + 2 + 2);

    const std::string programs[] = {install + "VTRServer\\VTRServer.exe",
                                    install + "VTRClient\\VTRClient.exe"};
    const char* const names[] = {kServerLink, kClientLink};
    std::vector<std::string> expectedLog;
    for (int side = 0; side < 2; ++side) {
        // Start menu, desktop, Quick Launch: the order of the log lines too.
        for (const std::string& folder : {startMenu, desktop, quickLaunch->Path()}) {
            std::string link = folder + names[side];
            expectedLog.push_back("创建快捷方式：" + link);
            LinkContents contents;
            ASSERT_TRUE(ReadLink(link, &contents)) << link;
            EXPECT_EQ(_stricmp(contents.path.c_str(), programs[side].c_str()), 0)
                << link << " starts " << contents.path;
            std::string folderOfProgram = programs[side].substr(0, programs[side].rfind('\\'));
            EXPECT_EQ(_stricmp(contents.workingDir.c_str(), folderOfProgram.c_str()), 0)
                << link << " works in " << contents.workingDir;
            EXPECT_EQ(contents.arguments, "") << link;
        }
        expectedLog.push_back("注册：\"" + programs[side] + "\" Install");
    }
    EXPECT_EQ(FolderEntries(startMenu).size(), 2u) << "only the two links in " << startMenu;

    std::vector<std::string> log = harness.LogLines();
    ASSERT_EQ(log.size(), package.Files.size() + expectedLog.size());
    for (size_t i = 0; i < expectedLog.size(); ++i)
        EXPECT_EQ(log[package.Files.size() + i], expectedLog[i]) << "log line " << i;

    std::string record;
    EXPECT_TRUE(ReadBytes(install + "VTRServer\\setup-runs.log", &record));
    EXPECT_EQ(record, "Install\r\n");
    EXPECT_TRUE(ReadBytes(install + "VTRClient\\setup-runs.log", &record));
    EXPECT_EQ(record, "Install\r\n");
}

} // namespace
