// What an installation with ProgramMg set leaves for its uninstaller: the
// program, the record of what it made, the uninstall link and the entry;
// the bar still ends full and the installing list says what was done.
#include "install/extraction_worker.h"
#include "tests/support/worker_harness.h"
#include "package/package_digest.h"
#include "record/link_places.h"
#include "record/record_trust.h"
#include "record/uninstall_names.h"
#include "record/uninstall_record.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A record path (UTF-8) as a GBK path.
std::string Gbk(const std::string& utf8) {
    return GbkFromWide(WideFrom(utf8, CP_UTF8));
}

uint32_t FileCrc(const std::string& path) {
    std::string bytes;
    ReadBytes(path, &bytes);
    return ExtendCrc32(0, bytes.data(), bytes.size());
}

std::string EntryDigest(const std::string& keyName) {
    char digest[80] = {};
    DWORD size = sizeof digest - 1;
    RegGetValueA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyParent) + "\\" + keyName).c_str(),
                 kRecordDigestValue, RRF_RT_REG_SZ, nullptr, digest, &size);
    return digest;
}

// One installation run of package into install, as the wizard would start it.
void InstallWithProgramMg(const TestPackage& package, const std::string& install) {
    WorkerHarness harness;
    harness.Prepare(package, install);
    strcpy(g_SetupContext.AppName, "澜枢软件");
    strcpy(g_SetupContext.AppVersion, "v2.0.0.1");
    g_SetupContext.ProgramMg = 1;
    g_SetupContext.StartMenu = 0;
    g_SetupContext.DB2 = 0;
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(g_SetupContext.Failed, 0u);
}

UninstallRecord ReadRecord(const std::string& install, std::string* text) {
    UninstallRecord record;
    EXPECT_TRUE(ReadBytes(install + kUninstallRecordFileName, text));
    EXPECT_EQ(ParseUninstallRecord(text->data(), text->size(), &record), RecordError::kOk);
    return record;
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
    EXPECT_EQ(record.FormatVersion, kUninstallRecordVersion);
    EXPECT_EQ(Gbk(record.Product), "澜枢软件");
    EXPECT_EQ(record.Version, "v2.0.0.1");
    EXPECT_EQ(Gbk(record.KeyName), "MDPX 澜枢软件");
    EXPECT_EQ(EntryDigest("MDPX 澜枢软件"), RecordDigestText(text));
    EXPECT_TRUE(record.Services.empty());
    EXPECT_TRUE(record.Refused.empty());
    ASSERT_EQ(record.Files.size(), package.Files.size());
    for (const RecordedFile& file : record.Files) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::string path = install + Gbk(file.Path);
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
        EXPECT_EQ(file.Size, data.nFileSizeLow) << path;
        EXPECT_EQ(file.Crc, FileCrc(path)) << path;
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
        links.push_back(Gbk(link.Name));
    }
    EXPECT_EQ(links,
              (std::vector<std::string>{"澜枢软件服务器.lnk", "澜枢软件.lnk", kUninstallLinkName}));

    RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                  (std::string(kUninstallKeyParent) + "\\MDPX 澜枢软件").c_str());
    RemoveTree(startFolder);
}

// Installing again over an installation: files the user changed since (the
// same size or not) are kept by the run and left out of the new record;
// files nobody changed stay in it; a file the user had put where the package
// now places one is never recorded.
TEST(UninstallRegistration, ReinstallRecordsOnlyWhatIsStillTheInstallations) {
    std::string install = MakeScratchDir("worker_reinstall");
    TestPackage package = SmallSamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    InstallWithProgramMg(package, install);
    std::string text;
    UninstallRecord first = ReadRecord(install, &text);
    ASSERT_GE(first.Files.size(), 3u);
    const std::string sameSize = Gbk(first.Files[0].Path);
    const std::string otherSize = Gbk(first.Files[1].Path);
    const std::string untouched = Gbk(first.Files[2].Path);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(install + sameSize, &bytes));
    ASSERT_FALSE(bytes.empty());
    bytes[0] = static_cast<char>(bytes[0] ^ 0x5A);
    ASSERT_TRUE(WriteBytes(install + sameSize, bytes));
    ASSERT_TRUE(WriteBytes(install + otherSize, "the user's own"));

    InstallWithProgramMg(package, install);
    UninstallRecord second = ReadRecord(install, &text);
    EXPECT_EQ(EntryDigest("MDPX 澜枢软件"), RecordDigestText(text));
    std::vector<std::string> listed;
    for (const RecordedFile& file : second.Files)
        listed.push_back(Gbk(file.Path));
    EXPECT_FALSE(Contains(listed, sameSize)) << "a file changed in place is recorded as ours";
    EXPECT_FALSE(Contains(listed, otherSize)) << "a file the user rewrote is recorded as ours";
    EXPECT_TRUE(Contains(listed, untouched));
    EXPECT_EQ(listed.size() + 2, first.Files.size());

    // A record planted beside the installation (the entry's digest does not
    // match) vouches for nothing: the changed file stays out.
    UninstallRecord planted = first;
    planted.Files.clear();
    std::string changed;
    ReadBytes(install + sameSize, &changed);
    planted.Files.push_back(
        {Utf8FromGbk(sameSize), changed.size(), 0, ExtendCrc32(0, changed.data(), changed.size())});
    ASSERT_TRUE(WriteBytes(install + kUninstallRecordFileName, FormatUninstallRecord(planted)));
    InstallWithProgramMg(package, install);
    UninstallRecord third = ReadRecord(install, &text);
    listed.clear();
    for (const RecordedFile& file : third.Files)
        listed.push_back(Gbk(file.Path));
    EXPECT_FALSE(Contains(listed, sameSize)) << "a planted record made a user's file ours";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                  (std::string(kUninstallKeyParent) + "\\MDPX 澜枢软件").c_str());
}

} // namespace
