// What an installation with ProgramMg set leaves for its uninstaller: the
// program, the record of what it made, the uninstall link and the entry;
// the bar still ends full and the installing list says what was done.
#include "install/extraction_worker.h"
#include "tests/support/worker_harness.h"
#include "record/link_places.h"
#include "record/uninstall_names.h"
#include "record/uninstall_record.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(UninstallRegistration, RecordHoldsEveryFileFolderBackupAndLink) {
    std::string install = MakeScratchDir("worker_uninstall");
    CreateDirectoryA((install + "VTRServer").c_str(), nullptr); // an earlier installation's
    TestPackage package = SmallSamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    WorkerHarness harness;
    harness.Prepare(package, install);
    strcpy(g_SetupContext.AppName, "澜枢软件");
    strcpy(g_SetupContext.AppVersion, "v2.0.0.1");
    g_SetupContext.ProgramMg = 1;
    g_SetupContext.StartMenu = 1;
    g_SetupContext.DB2 = 0; // no service: this package's mysqld.exe is no program
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(g_SetupContext.Failed, 0u);
    // Two link steps (server and client side) and the files; nothing more.
    EXPECT_EQ(harness.ProgressMaximum(), static_cast<int>(package.Files.size()) + 2);
    EXPECT_EQ(harness.ProgressPosition(), harness.ProgressMaximum());

    char programs[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    const std::string startFolder = std::string(programs) + "\\澜枢中介管理软件\\";
    const std::string uninstaller = install + kUninstallerFileName;
    std::vector<std::string> log = harness.LogLines();
    EXPECT_TRUE(Contains(log, "卸载程序：" + uninstaller));
    EXPECT_TRUE(Contains(log, "创建快捷方式：" + startFolder + kUninstallLinkName));
    EXPECT_TRUE(Contains(log, "卸载程序：已登记到 Win 程序管理：MDPX 澜枢软件"));
    EXPECT_TRUE(PathExists(startFolder + kUninstallLinkName));

    std::string text;
    ASSERT_TRUE(ReadBytes(install + kUninstallRecordFileName, &text));
    UninstallRecord record;
    ASSERT_EQ(ParseUninstallRecord(text.data(), text.size(), &record), RecordError::kOk);
    EXPECT_EQ(record.Product, "澜枢软件");
    EXPECT_EQ(record.Version, "v2.0.0.1");
    EXPECT_EQ(record.KeyName, "MDPX 澜枢软件");
    EXPECT_TRUE(record.Services.empty());
    EXPECT_TRUE(record.Refused.empty());
    ASSERT_EQ(record.Files.size(), package.Files.size());
    for (const RecordedFile& file : record.Files) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(
            GetFileAttributesExA((install + file.Path).c_str(), GetFileExInfoStandard, &data))
            << file.Path;
        EXPECT_EQ(file.Size, data.nFileSizeLow) << file.Path;
        EXPECT_EQ(file.WriteTime, (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                      data.ftLastWriteTime.dwLowDateTime)
            << file.Path;
    }
    // Deeper folders before the ones holding them.
    ASSERT_FALSE(record.Folders.empty());
    EXPECT_EQ(record.Folders.back().find('\\'), std::string::npos) << record.Folders.back();
    EXPECT_TRUE(Contains(record.Folders, "VTRServer\\Mysql"));
    ASSERT_EQ(record.BackupFolders.size(), 1u); // only VTRServer existed before
    EXPECT_EQ(record.BackupFolders[0].rfind("VTRServer\\", 0), 0u);
    std::vector<std::string> links;
    for (const RecordedLink& link : record.Links) {
        EXPECT_EQ(link.Place, LinkPlace::StartMenu);
        links.push_back(link.Name);
    }
    EXPECT_EQ(links,
              (std::vector<std::string>{"澜枢软件服务器.lnk", "澜枢软件.lnk", kUninstallLinkName}));

    RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                  (std::string(kUninstallKeyParent) + "\\MDPX 澜枢软件").c_str());
    RemoveTree(startFolder);
}

} // namespace
