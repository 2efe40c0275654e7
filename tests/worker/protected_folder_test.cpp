// The install folder's protection and the owner check of programs that were
// in place before the run, through the worker as the Installing page runs it.
// Wine keeps no security descriptors, so the Windows calls are replaced
// in-process (ReplaceFolderSecurityCalls): the replacement records what the
// installer asked for and reports the owners a test gives it.
#include "install/folder_protection.h"
#include "install/folder_trust.h"

#include "tests/support/fault_support.h"
#include "tests/support/services.h"
#include "tests/support/worker_harness.h"
#include "record/uninstall_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

const char kNetworkService[] = "VTR NetWork Mysql";
const char kNetworkInstallFailure[] =
    "数据库注册服务失败,请先运行安装目录VTRServer下的修复工具,修复密码962\n\n需以管理员身份运行";
const char kInstallingUser[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char kUsersMember[] = "S-1-5-21-1004336348-1177238915-682003330-1002";
const char kUntrustedLine[] = "所有者不可信，未运行安装前已存在的程序：";

// Removes the network database service before and after a test that may
// register it.
struct ServiceCleanup {
    ServiceCleanup() { RemoveService(kNetworkService); }
    ~ServiceCleanup() { RemoveService(kNetworkService); }
};

// What the replaced calls answer and what they saw.
struct FakeSecurity {
    bool VolumeKeeps = true;
    DWORD ProtectResult = ERROR_SUCCESS;
    DWORD OwnerError = ERROR_SUCCESS;
    std::map<std::string, std::string> Owners; // path -> SID; else the installing user
    struct ProtectCall {
        std::string Folder, Sddl;
        TreeSnapshot Below; // the install folder's files at the moment of the call
    };
    std::vector<ProtectCall> ProtectCalls;
    std::vector<std::string> OwnerReads;
};
FakeSecurity* g_fake;

bool FakeVolumeKeeps(const char*) {
    return g_fake->VolumeKeeps;
}
DWORD FakeProtect(const char* folder, const char* sddl) {
    g_fake->ProtectCalls.push_back({folder, sddl, SnapshotTree(folder)});
    return g_fake->ProtectResult;
}
DWORD FakeReadOwner(const char* path, char* sid, size_t size) {
    g_fake->OwnerReads.push_back(path);
    auto known = g_fake->Owners.find(path);
    snprintf(sid, size, "%s",
             known != g_fake->Owners.end() ? known->second.c_str() : kInstallingUser);
    return g_fake->OwnerError;
}
DWORD FakeInstallingAccount(char* sid, size_t size) {
    snprintf(sid, size, "%s", kInstallingUser);
    return ERROR_SUCCESS;
}

class ProtectedFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_fake = &fake;
        ReplaceFolderSecurityCalls(&kCalls);
        install = MakeScratchDir("protected_folder") + "inst\\";
        package = EmptySamplePackage();
        AddTestFile(&package, PackageGroup::Server, "VTRServer.exe", BinBytes("VTRServer.exe"));
        AddTestFile(&package, PackageGroup::Server, "conf\\server.ini", "[server]\r\n");
        AddTestFile(&package, PackageGroup::Client, "VTRClient.exe", BinBytes("VTRClient.exe"));
        AddTestFile(&package, PackageGroup::Database, "bin\\mysqld.exe", BinBytes("mysqld.exe"));
        AddTestFile(&package, PackageGroup::Database, "my.ini", "[mysqld]\r\n");
    }
    void TearDown() override {
        ReplaceFolderSecurityCalls(nullptr);
        g_fake = nullptr;
    }

    static std::string BinBytes(const char* name) {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(BinPath(name), &bytes)) << name;
        return bytes;
    }
    // Puts a runnable copy of a stand-in where the package would unpack it.
    void Plant(const std::string& relative, const char* standIn) {
        std::string path = install + relative;
        for (size_t at = install.size() - 1; (at = path.find('\\', at)) != std::string::npos; ++at)
            CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(BinPath(standIn).c_str(), path.c_str(), FALSE)) << path;
    }
    // The log lines and boxes of one run. The progress and log helpers latch
    // the first windows they are given for the whole process, so every run of
    // a test goes through the one harness.
    struct RunResult {
        std::vector<std::string> Lines, Other; // Other: besides the "抽取：" lines
        std::vector<std::pair<std::string, std::string>> Boxes;
    };
    RunResult RunPrepared() {
        if (harness.Thread != nullptr) {
            CloseHandle(harness.Thread);
            harness.Thread = nullptr;
        }
        RunResult result;
        EXPECT_TRUE(harness.Run());
        std::vector<std::string> all = harness.LogLines();
        result.Lines.assign(all.begin() + logSeen, all.end());
        logSeen = all.size();
        for (const std::string& line : result.Lines) {
            if (line.compare(0, strlen("抽取："), "抽取：") != 0)
                result.Other.push_back(line);
        }
        result.Boxes.assign(harness.Boxes.begin() + boxesSeen, harness.Boxes.end());
        boxesSeen = harness.Boxes.size();
        return result;
    }
    // The setup program is built and loaded once per test: it stays mapped
    // while loaded. Later runs start again from the same record.
    void PrepareOnce() {
        if (!prepared) {
            harness.Prepare(package, install);
            prepared = true;
        }
        g_SetupContext.Failed = 0;
        g_SetupContext.ErrorText[0] = '\0';
    }
    RunResult Run() {
        PrepareOnce();
        RunResult result = RunPrepared();
        EXPECT_EQ(harness.ExitCode, 1u);
        EXPECT_EQ(g_SetupContext.Failed, 0u);
        return result;
    }
    std::string ClientRunLine() const {
        return "注册：\"" + install + "VTRClient\\VTRClient.exe\" Install";
    }
    std::string MissingFiles() const {
        std::string missing;
        for (const TestFile& file : package.Files) {
            if (!PathExists(install + InstalledPath(file)))
                missing += InstalledPath(file) + " ";
        }
        return missing;
    }

    static const FolderSecurityCalls kCalls;
    FakeSecurity fake;
    std::string install;
    TestPackage package;
    WorkerHarness harness;
    size_t logSeen = 0, boxesSeen = 0;
    bool prepared = false;
};
const FolderSecurityCalls ProtectedFolderTest::kCalls = {FakeVolumeKeeps, FakeProtect,
                                                         FakeReadOwner, FakeInstallingAccount};

TEST_F(ProtectedFolderTest, FolderIsProtectedBeforeItsFirstFileWhetherMadeOrFound) {
    for (bool found : {false, true}) {
        SCOPED_TRACE(found ? "found" : "made by the run");
        RemoveTree(install);
        fake.ProtectCalls.clear();
        if (found) {
            CreateDirectoryA(install.c_str(), nullptr);
            WriteBytes(install + "notes.txt", "the user's own\r\n");
        }
        // Only the client's set-up run (the server's needs DB2): nothing said
        // about the folder.
        std::vector<std::string> lines = Run().Other;
        EXPECT_EQ(lines, std::vector<std::string>{ClientRunLine()});
        ASSERT_EQ(fake.ProtectCalls.size(), 1u);
        const FakeSecurity::ProtectCall& call = fake.ProtectCalls[0];
        EXPECT_EQ(call.Folder, install);
        EXPECT_EQ(call.Sddl, kProtectedFolderSddl);
        int entry = 0;
        EXPECT_EQ(JudgeFolderDescriptor(call.Sddl.c_str(), &entry), DescriptorFault::kNone);
        TreeSnapshot expected;
        if (found)
            expected["notes.txt"] = "the user's own\r\n";
        EXPECT_EQ(call.Below, expected) << "nothing of the package before the call";
        EXPECT_EQ(MissingFiles(), "");
    }
}

TEST_F(ProtectedFolderTest, InstallGoesOnWhenTheFolderCannotBeProtected) {
    const struct {
        const char* Name;
        bool VolumeKeeps;
        DWORD ProtectResult;
        size_t Calls;
        std::string Line;
    } cases[] = {
        {"no permissions on the volume", false, ERROR_SUCCESS, 0,
         "安装目录所在磁盘不能保存权限（FAT、exFAT或网络共享），目录未受保护：" + install},
        {"setting them fails", true, ERROR_ACCESS_DENIED, 1,
         "未能设置安装目录的权限（错误5），目录未受保护：" + install},
    };
    CaseResult result;
    result.Name = "Install folder that cannot be protected";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RemoveTree(install);
        fake.ProtectCalls.clear();
        fake.VolumeKeeps = c.VolumeKeeps;
        fake.ProtectResult = c.ProtectResult;
        RunResult run = Run();
        std::vector<std::string> lines = run.Other;
        EXPECT_EQ(fake.ProtectCalls.size(), c.Calls);
        EXPECT_EQ(lines, (std::vector<std::string>{c.Line, ClientRunLine()}));
        EXPECT_EQ(run.Lines[0], c.Line) << "said before the first file";
        std::string missing = MissingFiles();
        EXPECT_EQ(missing, "");
        ++result.Runs;
        result.Survived += harness.ExitCode == 1 ? 1 : 0;
        result.MessageShown += lines.size() == 2 && lines[0] == c.Line ? 1 : 0;
        result.NothingLost += missing.empty() ? 1 : 0;
    }
    result.Note = "no persistent permissions on the volume, or setting them fails: one log line, "
                  "every file installed (calls replaced in-process: Wine keeps no descriptors)";
    RecordCase(result);
}

TEST_F(ProtectedFolderTest, PlantedDatabaseProgramOfAStandardUserIsNeverStarted) {
    const std::string mysqld = install + "VTRServer\\Mysql\\bin\\mysqld.exe";
    const struct {
        const char* Name;
        std::string Owner;
        DWORD OwnerError;
        std::string Line;
    } cases[] = {
        {"a Users member", kUsersMember, ERROR_SUCCESS,
         kUntrustedLine + mysqld + "（所有者" + kUsersMember + "）"},
        {"Everyone", "S-1-1-0", ERROR_SUCCESS, kUntrustedLine + mysqld + "（所有者S-1-1-0）"},
        {"owner unreadable", kSystemSid, ERROR_ACCESS_DENIED,
         "读不出所有者，未运行安装前已存在的程序：" + mysqld + "（错误5）"},
    };
    ServiceCleanup services;
    CaseResult result;
    result.Name = "Database program planted before the install by a standard user";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RemoveTree(install);
        RemoveService(kNetworkService);
        Plant("VTRServer\\Mysql\\bin\\mysqld.exe", "mysqld.exe");
        std::string planted;
        ASSERT_TRUE(ReadBytes(mysqld, &planted));
        fake.Owners = {{mysqld, c.Owner}};
        fake.OwnerError = c.OwnerError;
        PrepareOnce();
        g_SetupContext.DB2 = 1;
        RunResult run = RunPrepared();
        const std::vector<std::string>& lines = run.Other;
        // Never run: the stand-in notes every run beside itself.
        bool neverRun = !PathExists(install + "VTRServer\\Mysql\\bin\\mysqld-runs.log");
        EXPECT_TRUE(neverRun);
        EXPECT_EQ(ServiceState(kNetworkService), 0u) << "no service registered";
        ASSERT_EQ(run.Boxes.size(), 1u);
        EXPECT_EQ(run.Boxes[0].first, kNetworkInstallFailure);
        // The database step failed: the server's set-up run is skipped, the
        // client's (a program this run unpacked) goes ahead.
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], c.Line);
        EXPECT_EQ(lines[1], "注册：\"" + install + "VTRClient\\VTRClient.exe\" Install");
        EXPECT_FALSE(PathExists(install + "VTRServer\\setup-runs.log"));
        std::string after;
        EXPECT_TRUE(ReadBytes(mysqld, &after));
        EXPECT_TRUE(after == planted) << "the planted file is kept as it is";
        ++result.Runs;
        result.Survived += harness.ExitCode == 1 ? 1 : 0;
        result.MessageShown += run.Boxes.size() == 1 && lines[0] == c.Line ? 1 : 0;
        result.NothingLost += neverRun && after == planted ? 1 : 0;
    }
    result.Note =
        "owner a Users member, Everyone, or unreadable: never started, 数据库注册服务失败… "
        "box and one log line naming it (owners reported in-process: Wine keeps none)";
    RecordCase(result);
}

TEST_F(ProtectedFolderTest, PlantedProgramsOfAdministratorsAndTheInstallerRunAsBefore) {
    const std::string mysqld = install + "VTRServer\\Mysql\\bin\\mysqld.exe";
    const std::string server = install + "VTRServer\\VTRServer.exe";
    const std::string client = install + "VTRClient\\VTRClient.exe";
    ServiceCleanup services;
    Plant("VTRServer\\Mysql\\bin\\mysqld.exe", "mysqld.exe");
    Plant("VTRServer\\VTRServer.exe", "VTRServer.exe");
    Plant("VTRClient\\VTRClient.exe", "VTRClient.exe");
    // The server program is a standard user's; the others are trusted.
    fake.Owners = {{mysqld, "S-1-5-32-544"}, {server, kUsersMember}, {client, kInstallingUser}};
    PrepareOnce();
    g_SetupContext.DB2 = 1;
    RunResult run = RunPrepared();
    for (const auto& box : run.Boxes)
        ADD_FAILURE() << "message box: " << box.first;
    EXPECT_EQ(ServiceState(kNetworkService), static_cast<DWORD>(SERVICE_RUNNING));
    std::string runs;
    EXPECT_TRUE(ReadBytes(install + "VTRServer\\Mysql\\bin\\mysqld-runs.log", &runs));
    EXPECT_NE(runs.find("--install"), std::string::npos);
    EXPECT_FALSE(PathExists(install + "VTRServer\\setup-runs.log")) << "the server program ran";
    EXPECT_TRUE(ReadBytes(install + "VTRClient\\setup-runs.log", &runs));
    EXPECT_EQ(runs, "Install\r\n");
    const std::vector<std::string>& lines = run.Other;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], kUntrustedLine + server + "（所有者" + kUsersMember + "）");
    EXPECT_EQ(lines[1], "注册：\"" + client + "\" Install");
    // Every step still moves the bar: five entries, one set-up run per side.
    EXPECT_EQ(harness.ProgressPosition(), 5 + 1 + 1);
    // Only programs found in place are asked about, each once.
    std::vector<std::string> asked = fake.OwnerReads;
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{client, mysqld, server}));
}

TEST_F(ProtectedFolderTest, ProgramsUnpackedByTheRunAreNotAskedAbout) {
    fake.Owners = {{install + "VTRClient\\VTRClient.exe", kUsersMember}};
    std::vector<std::string> lines = Run().Other;
    EXPECT_TRUE(fake.OwnerReads.empty());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "注册：\"" + install + "VTRClient\\VTRClient.exe\" Install");
}

TEST_F(ProtectedFolderTest, OnAVolumeWithoutPermissionsAPlantedProgramRunsAsBefore) {
    // Nothing there can be protected or owned: the install goes on as it
    // always has, and the log says the folder is not protected.
    Plant("VTRClient\\VTRClient.exe", "VTRClient.exe");
    fake.VolumeKeeps = false;
    fake.Owners = {{install + "VTRClient\\VTRClient.exe", kUsersMember}};
    std::vector<std::string> lines = Run().Other;
    EXPECT_TRUE(fake.OwnerReads.empty());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "注册：\"" + install + "VTRClient\\VTRClient.exe\" Install");
}

// A file planted under the name the installer writes through before moving
// it into place is removed, not written into: as a hard link it would carry
// the package's bytes to its other name, and it would keep its owner.
TEST_F(ProtectedFolderTest, PlantedPartialFilesAreReplacedNotWrittenThrough) {
    CreateDirectoryA(install.c_str(), nullptr);
    CreateDirectoryA((install + "VTRClient").c_str(), nullptr);
    // Each planted name is a hard link to a file of its own outside.
    const std::string root = install.substr(0, install.size() - strlen("inst\\"));
    const std::string planted[] = {
        install + "VTRClient\\~MDPX.part", install + "~MDPX.part.1", install + "~MDPX.part.32",
        install + kUninstallerFileName + ".part", install + kUninstallRecordFileName + ".part"};
    std::vector<std::string> outside;
    for (const std::string& name : planted) {
        outside.push_back(root + "outside" + std::to_string(outside.size()) + ".txt");
        ASSERT_TRUE(WriteBytes(outside.back(), "not the installer's\r\n"));
        if (!CreateHardLinkA(name.c_str(), outside.back().c_str(), nullptr))
            GTEST_SKIP() << "no hard links here (error " << GetLastError() << ")";
    }
    PrepareOnce();
    const char kAppName[] = "保护目录测试";
    strcpy(g_SetupContext.AppName, kAppName);
    g_SetupContext.ProgramMg = 1;
    RunPrepared();
    std::string key =
        std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MDPX ") + kAppName;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    EXPECT_EQ(g_SetupContext.Failed, 0u);
    std::string bytes;
    for (size_t i = 0; i < outside.size(); ++i) {
        ASSERT_TRUE(ReadBytes(outside[i], &bytes));
        EXPECT_EQ(bytes, "not the installer's\r\n") << "written through " << planted[i];
        EXPECT_FALSE(PathExists(planted[i])) << planted[i];
    }
    ASSERT_TRUE(ReadBytes(install + "VTRClient\\VTRClient.exe", &bytes));
    EXPECT_TRUE(bytes == package.Files[2].Bytes) << "the client program as packed";
    EXPECT_TRUE(PathExists(install + kUninstallerFileName));
    EXPECT_TRUE(PathExists(install + kUninstallRecordFileName));
}

} // namespace
