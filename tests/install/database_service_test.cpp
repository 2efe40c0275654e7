#include "install/database_service.h"

#include "core/text_util.h"

#include "tests/install/postinstall_helpers.h"
#include "tests/support/test_support.h"
#include "install/progress_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

const char kNetwork[] = "VTR NetWork Mysql";
const char kPersonal[] = "VTR Personal Mysql";
const char kNetworkInstallFailure[] =
    "数据库注册服务失败,请先运行安装目录VTRServer下的修复工具,修复密码962\n\n需以管理员身份运行";
const char kNetworkStartFailure[] =
    "数据库启动失败,请先运行安装目录VTRServer下的修复工具,修复密码962\n\n需以管理员身份运行";
const char kPersonalInstallFailure[] =
    "数据库注册服务失败,请先运行安装目录下的修复工具,修复密码962\n\n需以管理员身份运行";
const char kPersonalStartFailure[] =
    "数据库启动失败,请先运行安装目录下的修复工具,修复密码962\n\n需以管理员身份运行";

// The folder of the running program, where a bare program name is looked for first.
std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\') + 1);
}

class DatabaseServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        KeepStandardHandlesFromChildren();
        RemoveService(kNetwork);
        RemoveService(kPersonal);
        // A blank in the install folder: every program path must be quoted.
        dir_ = MakeScratchDir("安装 目录");
        for (const char* folder :
             {"VTRServer", "VTRServer\\Mysql", "VTRServer\\Mysql\\bin", "VTRClient"})
            CreateDirectoryA((dir_ + folder).c_str(), nullptr);
        mysqld_ = dir_ + "VTRServer\\Mysql\\bin\\mysqld.exe";
        ASSERT_TRUE(CopyFileA(BinPath("mysqld.exe").c_str(), mysqld_.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(BinPath("VTRServer.exe").c_str(),
                              (dir_ + "VTRServer\\VTRServer.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(BinPath("VTRClient.exe").c_str(),
                              (dir_ + "VTRClient\\VTRClient.exe").c_str(), FALSE));
        cwd_ = std::make_unique<ScopedCurrentDir>(dir_);

        memset(&context_, 0, sizeof context_);
        context_.MainWindow = TheBoundWindows().Main;
        CopyBounded(context_.InstallDir, sizeof context_.InstallDir, dir_.c_str());
        CopyBounded(context_.VirSer, sizeof context_.VirSer, "VTRServer\\");
        CopyBounded(context_.VirCli, sizeof context_.VirCli, "VTRClient\\");
        CopyBounded(context_.VirDB, sizeof context_.VirDB, "VTRServer\\Mysql\\");
        CopyBounded(context_.Header.ServerProgram, sizeof context_.Header.ServerProgram,
                    "VTRServer.exe");
        CopyBounded(context_.Header.ClientProgram, sizeof context_.Header.ClientProgram,
                    "VTRClient.exe");
        CopyBounded(context_.Header.ServerRunArgs, sizeof context_.Header.ServerRunArgs, "Install");
        CopyBounded(context_.Header.ClientRunArgs, sizeof context_.Header.ClientRunArgs, "Install");
        context_.Header.ServerRunFlag = 1;
        context_.Header.ClientRunFlag = 1;
        context_.Header.ServerEntryCount = 2;
        context_.DB2 = 1;
    }

    void TearDown() override {
        RemoveService(kNetwork);
        RemoveService(kPersonal);
        cwd_.reset();
    }

    // Runs the actions from position 100 with message boxes answered.
    void Run() {
        SetProgressPos(nullptr, 100);
        logBefore_ = LogLines().size();
        BoxWatcher watcher;
        EXPECT_EQ(1, PostInstallActions(context_, 100));
        boxes_ = watcher.Boxes();
        EXPECT_FALSE(PathExists(dir_ + "run.tmp"));
    }

    int Advance() { return ProgressPosition() - 100; }
    std::vector<std::string> NewLogLines() {
        std::vector<std::string> lines = LogLines();
        return std::vector<std::string>(lines.begin() + logBefore_, lines.end());
    }
    std::string MysqldRuns() { return ReadText(dir_ + "VTRServer\\Mysql\\bin\\mysqld-runs.log"); }
    int InstallRuns() { return CountLines(MysqldRuns(), "--install"); }
    std::string ServerRuns() { return ReadText(dir_ + "VTRServer\\setup-runs.log"); }
    std::string ClientRuns() { return ReadText(dir_ + "VTRClient\\setup-runs.log"); }

    std::string dir_;
    std::string mysqld_;
    std::unique_ptr<ScopedCurrentDir> cwd_;
    SetupContext context_;
    size_t logBefore_ = 0;
    std::vector<SeenBox> boxes_;
};

TEST_F(DatabaseServiceTest, NetworkServiceStartsThroughNetAndBothSidesRun) {
    context_.InstallServer = 1;
    context_.InstallClient = 1;
    context_.QuickStart = 1;
    Run();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    EXPECT_EQ(0u, ServiceState(kPersonal));
    EXPECT_EQ(1, CountLines(MysqldRuns(), "\"" + mysqld_ + "\" --install \"VTR NetWork Mysql\""));
    EXPECT_EQ(1, InstallRuns());
    EXPECT_EQ("Install\r\n", ServerRuns());
    EXPECT_EQ("Install\r\n", ClientRuns());
    EXPECT_EQ(4, Advance());

    std::vector<std::string> runs;
    for (const std::string& line : NewLogLines()) {
        if (line.compare(0, strlen("注册："), "注册：") == 0)
            runs.push_back(line);
    }
    ASSERT_EQ(2u, runs.size());
    EXPECT_EQ("注册：\"" + dir_ + "VTRServer\\VTRServer.exe\" Install", runs[0]);
    EXPECT_EQ("注册：\"" + dir_ + "VTRClient\\VTRClient.exe\" Install", runs[1]);
}

TEST_F(DatabaseServiceTest, ExistingServiceGoesStraightToTheStart) {
    ASSERT_EQ(0, RunProcess("\"" + mysqld_ + "\" --install \"VTR NetWork Mysql\""));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kNetwork));
    context_.InstallServer = 1;
    Run();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(2, InstallRuns()); // ours and exactly one of the installer's
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    EXPECT_EQ("Install\r\n", ServerRuns());
    EXPECT_EQ(1, Advance());
}

TEST_F(DatabaseServiceTest, UnrecognisedInstallIsRetriedOnceThenReported) {
    ScopedEnv mode("MYSQLD_STANDIN_MODE", "other");
    context_.InstallServer = 1;
    context_.InstallClient = 1;
    Run();
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ(context_.MainWindow, boxes_[0].Owner);
    EXPECT_EQ(kNetworkInstallFailure, boxes_[0].Text);
    EXPECT_NE(std::string::npos, boxes_[0].Caption.find("refused by the stand-in"));
    EXPECT_EQ(2, InstallRuns());
    EXPECT_EQ(0u, ServiceState(kNetwork));
    // Only the server's set-up run is skipped.
    EXPECT_EQ("", ServerRuns());
    EXPECT_EQ("Install\r\n", ClientRuns());
    EXPECT_EQ(1, Advance());
}

TEST_F(DatabaseServiceTest, RetryInANewConsoleCanSucceed) {
    ScopedEnv mode("MYSQLD_STANDIN_MODE", "other-once");
    context_.InstallServer = 1;
    Run();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(2, InstallRuns());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    EXPECT_EQ("Install\r\n", ServerRuns());
}

TEST_F(DatabaseServiceTest, StartFailureIsReportedAfterOneRetry) {
    ScopedEnv start("MYSQLD_STANDIN_START", "fail");
    context_.InstallServer = 1;
    Run();
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ(kNetworkStartFailure, boxes_[0].Text);
    EXPECT_EQ(1, InstallRuns());
    EXPECT_EQ(2, CountLines(MysqldRuns(), "--service")); // net start ran twice
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    EXPECT_EQ("", ServerRuns());
    EXPECT_EQ(0, Advance());
}

// Each service's start failure: its own text, and as caption what the last
// start command printed (Wine's net names the service it could not start).
TEST_F(DatabaseServiceTest, StartFailureBoxesOfBothServices) {
    struct Case {
        const char* Service;
        int InstallServer;
        uint32_t ServerEntryCount;
        const char* Text;
    };
    const Case cases[] = {
        {kNetwork, 1, 2, kNetworkStartFailure},
        {kPersonal, 0, 0, kPersonalStartFailure},
    };
    ScopedEnv start("MYSQLD_STANDIN_START", "fail");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Service);
        RemoveService(c.Service);
        context_.InstallServer = c.InstallServer;
        context_.InstallClient = 1 - c.InstallServer;
        context_.Header.ServerEntryCount = c.ServerEntryCount;
        Run();
        ASSERT_EQ(1u, boxes_.size());
        EXPECT_EQ(context_.MainWindow, boxes_[0].Owner);
        EXPECT_EQ(c.Text, boxes_[0].Text);
        EXPECT_NE(std::string::npos, boxes_[0].Caption.find(c.Service)) << boxes_[0].Caption;
        EXPECT_EQ("", ServerRuns());
        EXPECT_EQ("", ClientRuns());
        RemoveService(c.Service);
    }
}

// A net.exe beside the running program (where a bare "net" is looked for
// first) and in the current folder is never run: the system's own starts
// the service.
TEST_F(DatabaseServiceTest, PlantedNetBesideTheProgramIsNeverRun) {
    const std::string places[] = {ProgramFolder(), dir_};
    for (const std::string& place : places)
        ASSERT_TRUE(
            CopyFileA(BinPath("planted-net.exe").c_str(), (place + "net.exe").c_str(), FALSE))
            << place;
    context_.InstallServer = 1;
    Run();
    for (const std::string& place : places) {
        DeleteFileA((place + "net.exe").c_str());
        EXPECT_EQ("", ReadText(place + "planted-net-ran.txt")) << place;
        DeleteFileA((place + "planted-net-ran.txt").c_str());
    }
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    EXPECT_EQ("Install\r\n", ServerRuns());
}

// Started from a folder that cannot be written (a read-only medium or share):
// the output is captured in the work folder, so a service that installed and
// started is not reported as failed.
TEST_F(DatabaseServiceTest, UnwritableCurrentFolderStillRecognisesTheService) {
    std::string unwritable = UnwritableFolder();
    if (unwritable.empty())
        GTEST_SKIP() << "no folder here refuses new files (Wine as root writes read-only ones)";
    std::string work = MakeScratchDir("安装 工作");
    CopyBounded(context_.WorkDir, sizeof context_.WorkDir, work.c_str());
    ScopedCurrentDir there(unwritable);
    context_.InstallServer = 1;
    Run();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(1, InstallRuns());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    EXPECT_EQ("Install\r\n", ServerRuns());
    EXPECT_TRUE(FolderEntries(work).empty()) << FolderEntries(work)[0]; // run.tmp read and deleted
}

TEST_F(DatabaseServiceTest, MissingDatabaseProgramIsReportedWithoutRetry) {
    ASSERT_TRUE(DeleteFileA(mysqld_.c_str()));
    context_.InstallServer = 1;
    Run();
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ(kNetworkInstallFailure, boxes_[0].Text);
    EXPECT_FALSE(boxes_[0].Caption.empty()); // the system's default caption
    EXPECT_EQ("", ServerRuns());
}

TEST_F(DatabaseServiceTest, LargeAndBinaryInstallOutput) {
    {
        ScopedEnv mode("MYSQLD_STANDIN_MODE", "big");
        context_.InstallServer = 1;
        Run();
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kNetwork));
    }
    RemoveService(kNetwork);
    ScopedEnv mode("MYSQLD_STANDIN_MODE", "binary");
    Run();
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ(kNetworkInstallFailure, boxes_[0].Text);
    EXPECT_EQ("", boxes_[0].Caption); // the text starts with a NUL byte
    EXPECT_EQ(3, InstallRuns());
}

TEST_F(DatabaseServiceTest, PersonalServiceServesAPackageWithoutServer) {
    context_.InstallClient = 1;
    context_.Header.ServerEntryCount = 0;
    context_.DB2 = 0; // not consulted for the personal service
    context_.QuickStart = 1;
    Run();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kPersonal));
    EXPECT_EQ(0u, ServiceState(kNetwork));
    EXPECT_EQ("Install\r\n", ClientRuns());
    EXPECT_EQ(2, Advance());
}

TEST_F(DatabaseServiceTest, PersonalServiceFailureEndsBeforeTheClientRun) {
    ScopedEnv mode("MYSQLD_STANDIN_MODE", "fail");
    context_.InstallClient = 1;
    context_.Header.ServerEntryCount = 0;
    Run();
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ(kPersonalInstallFailure, boxes_[0].Text);
    EXPECT_NE(std::string::npos, boxes_[0].Caption.find("Failed to install"));
    EXPECT_EQ(2, InstallRuns());
    EXPECT_EQ("", ClientRuns());
    EXPECT_EQ(0, Advance());
}

TEST_F(DatabaseServiceTest, NoServiceWithoutItsSide) {
    // Client PC of a package with a server group: no service command at all.
    context_.InstallClient = 1;
    Run();
    EXPECT_EQ("", MysqldRuns());
    EXPECT_EQ("Install\r\n", ClientRuns());

    // DB2 = 0: the server side only places its shortcuts.
    context_.InstallServer = 1;
    context_.QuickStart = 1;
    context_.DB2 = 0;
    DeleteFileA((dir_ + "VTRClient\\setup-runs.log").c_str());
    Run();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ("", MysqldRuns());
    EXPECT_EQ("", ServerRuns());
    EXPECT_EQ("Install\r\n", ClientRuns());
    EXPECT_EQ(3, Advance());
    EXPECT_EQ(0u, ServiceState(kNetwork));
}

TEST_F(DatabaseServiceTest, CommandsThatDoNotFitAreNotRun) {
    // The client's program path fits its buffer; its set-up command does not.
    std::string deep = dir_ + std::string(215, 'd') + "\\";
    ASSERT_EQ(252u, deep.size() + strlen("VTRClient\\VTRClient.exe"));
    CopyBounded(context_.InstallDir, sizeof context_.InstallDir, deep.c_str());
    context_.InstallServer = 1;
    context_.InstallClient = 1;
    Run();
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ(kNetworkInstallFailure, boxes_[0].Text);
    EXPECT_TRUE(NewLogLines().empty()) << NewLogLines()[0];
    EXPECT_EQ(1, Advance()); // the client's run step is counted, not run
}

} // namespace
