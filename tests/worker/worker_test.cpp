#include "install/extraction_worker.h"
#include "tests/support/worker_harness.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char* FolderOf(PackageGroup group) {
    switch (group) {
    case PackageGroup::Server:
        return "VTRServer\\";
    case PackageGroup::Client:
        return "VTRClient\\";
    default:
        return "VTRServer\\Mysql\\";
    }
}

std::string TargetOf(const std::string& installDir, const TestFile& file) {
    return installDir + FolderOf(file.Group) + file.RelativePath;
}

// checkAccess false for a file that was run since (running reads it).
void ExpectInstalled(const std::string& installDir, const TestFile& file, bool checkAccess = true) {
    std::string target = TargetOf(installDir, file);
    // Times first: reading the file may move its last access time.
    PackageFileTimes times = FileTimesOf(target);
    EXPECT_TRUE(memcmp(&times.LastWrite, &file.Times.LastWrite, 8) == 0) << target;
    EXPECT_TRUE(!checkAccess || memcmp(&times.LastAccess, &file.Times.LastAccess, 8) == 0)
        << target;
    std::string bytes;
    ASSERT_TRUE(ReadBytes(target, &bytes)) << target;
    EXPECT_EQ(bytes, file.Bytes) << target;
}

// A package with enough entries for the cancel and failure tests.
TestPackage ManyFilesPackage(int perGroup) {
    TestPackage package = SmallSamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    package.Files.clear();
    uint32_t seed = 1;
    for (PackageGroup group :
         {PackageGroup::Server, PackageGroup::Client, PackageGroup::Database}) {
        for (int i = 0; i < perGroup; ++i) {
            std::string path = "sub" + std::to_string(i % 3) + "\\g" +
                               std::to_string(static_cast<int>(group)) + "file" +
                               std::to_string(i) + ".bin";
            std::string bytes(1000 + 37 * i, static_cast<char>('a' + i % 26));
            package.Files.push_back(TestFile{group, path, bytes, MakeTimes(seed++)});
        }
    }
    return package;
}

TestPackage QuietSample() {
    TestPackage package = SmallSamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    return package;
}

TEST(ExtractionWorker, InstallsEveryFileWithItsTimesAndReportsSuccess) {
    std::string install = MakeScratchDir("worker_full");
    TestPackage package = QuietSample();
    WorkerHarness harness;
    harness.Prepare(package, install);
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(harness.DoneMessages, 1);
    EXPECT_EQ(g_SetupContext.Failed, 0u);
    EXPECT_TRUE(WorkerRecordedOutcome());
    for (const TestFile& file : package.Files)
        ExpectInstalled(install, file);
    EXPECT_FALSE(PathExists(install + "VTRServer\\~MDPX.part"));
    EXPECT_TRUE(PathExists(harness.WorkDir + "Zlib.tmp")) << "the work file stays";

    std::vector<std::string> log = harness.LogLines();
    ASSERT_EQ(log.size(), package.Files.size());
    EXPECT_EQ(log[0], "抽取：VTRServer.exe");
    EXPECT_EQ(log[5], "抽取：data\\mysql\\user.frm");
    EXPECT_EQ(harness.ProgressMaximum(), 6);
    EXPECT_EQ(harness.ProgressPosition(), 6);

    ASSERT_FALSE(harness.StatusTexts.empty());
    EXPECT_EQ(harness.StatusTexts[0], "initializing ..." + std::string(130, ' '));
    for (const std::string& text : harness.StatusTexts)
        EXPECT_TRUE(text.size() == 260 || text.rfind("initializing", 0) == 0) << text;
    const std::string firstEntry = "抽取：Reading ... VTRServer.exe ";
    EXPECT_EQ(harness.StatusTexts[2].substr(0, firstEntry.size()), firstEntry);
}

TEST(ExtractionWorker, PackageWithoutServerInstallsClientThenDatabase) {
    std::string install = MakeScratchDir("worker_single_pc");
    TestPackage package = QuietSample();
    package.Files.erase(package.Files.begin(), package.Files.begin() + 2);
    WorkerHarness harness;
    harness.Prepare(package, install);
    g_SetupContext.InstallServer = 0;
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    for (const TestFile& file : package.Files)
        ExpectInstalled(install, file, file.RelativePath != "bin\\mysqld.exe");
    EXPECT_EQ(harness.ProgressMaximum(), 4);
    EXPECT_FALSE(PathExists(install + "VTRServer\\VTRServer.exe"));
    // The personal database service goes with the client side here; this
    // package's mysqld.exe is no program, so its failure box was shown.
    std::string shown;
    for (const auto& box : harness.Boxes)
        shown += "[" + box.second + "] " + box.first + "\n";
    ASSERT_EQ(harness.Boxes.size(), 1u) << shown;
    EXPECT_EQ(harness.Boxes[0].first.rfind("数据库注册服务失败", 0), 0u);
}

TEST(ExtractionWorker, NeitherSideChosenInstallsNothing) {
    std::string install = MakeScratchDir("worker_nothing");
    WorkerHarness harness;
    harness.Prepare(QuietSample(), install);
    g_SetupContext.InstallServer = 0;
    g_SetupContext.InstallClient = 0;
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u) << "post-install still runs, with position 0";
    EXPECT_EQ(g_SetupContext.Failed, 0u);
    EXPECT_LE(harness.ProgressPosition(), 1);
    EXPECT_TRUE(harness.LogLines().empty());
    EXPECT_FALSE(PathExists(install + "VTRServer"));
}

// The progress and log helpers latch their windows for the life of the
// process, so each test runs the worker once.

std::string TodaysBackupName() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[32];
    snprintf(date, sizeof date, "%04d.%02d.%02d.%d", now.wYear, now.wMonth, now.wDay,
             now.wDayOfWeek);
    return date;
}

TEST(ExtractionWorker, InstallingOverAnEarlierInstallationKeepsFilesAndMakesBackups) {
    std::string install = MakeScratchDir("worker_over");
    TestPackage package = QuietSample();
    // An earlier installation: every file there, one edited since, one gone,
    // and the client's backup folder already made by a run earlier today.
    for (const TestFile& file : package.Files) {
        std::string target = TargetOf(install, file);
        for (size_t i = 3; i < target.size(); ++i) {
            if (target[i] == '\\')
                CreateDirectoryA(target.substr(0, i).c_str(), nullptr);
        }
        ASSERT_TRUE(WriteBytes(target, file.Bytes));
    }
    std::string edited = TargetOf(install, package.Files[2]);
    ASSERT_TRUE(WriteBytes(edited, "edited by the user"));
    DeleteFileA(TargetOf(install, package.Files[1]).c_str());
    std::string date = TodaysBackupName();
    CreateDirectoryA((install + "VTRClient\\" + date).c_str(), nullptr);

    WorkerHarness harness;
    harness.Prepare(package, install);
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    PackageFileTimes editedTimes = FileTimesOf(edited);
    EXPECT_EQ(memcmp(&editedTimes.LastWrite, &package.Files[2].Times.LastWrite, 8), 0)
        << "a kept file is restamped";
    std::string bytes;
    ASSERT_TRUE(ReadBytes(edited, &bytes));
    EXPECT_EQ(bytes, "edited by the user") << "an existing file is kept";
    ExpectInstalled(install, package.Files[1]); // the missing file came back
    ExpectInstalled(install, package.Files[0]);

    for (const char* folder : {"VTRServer\\", "VTRClient\\", "VTRServer\\Mysql\\"}) {
        std::string backup = install + folder + date;
        DWORD attributes = GetFileAttributesA(backup.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << backup;
        // Wine keeps hidden and system on folders but not read-only.
        EXPECT_EQ(attributes & 6u, 6u) << "hidden, system";
        EXPECT_TRUE(FolderEntries(backup + "\\").empty()) << "backup folders stay empty";
    }
    // The folder made earlier today is named by its short path in the status.
    bool sawShortPath = false;
    for (const std::string& text : harness.StatusTexts)
        sawShortPath |= text.rfind("Create backup directory D:\\", 0) == 0;
    EXPECT_TRUE(sawShortPath);
}

void ExpectBlockedTargetEndsTheRun(bool locked) {
    std::string install = MakeScratchDir(locked ? "worker_locked" : "worker_readonly");
    TestPackage package = QuietSample();
    std::string blocked = install + "VTRServer\\conf\\server.ini";
    CreateDirectoryA((install + "VTRServer").c_str(), nullptr);
    CreateDirectoryA((install + "VTRServer\\conf").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(blocked, "old"));
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (locked) {
        holder = CreateFileA(blocked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    } else {
        SetFileAttributesA(blocked.c_str(), FILE_ATTRIBUTE_READONLY);
        HANDLE probe =
            CreateFileA(blocked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            SetFileAttributesA(blocked.c_str(), FILE_ATTRIBUTE_NORMAL);
            GTEST_SKIP() << "read-only is not enforced here (Wine running as root)";
        }
    }
    WorkerHarness harness;
    harness.Prepare(package, install);
    ASSERT_TRUE(harness.Run());
    if (holder != INVALID_HANDLE_VALUE)
        CloseHandle(holder);
    SetFileAttributesA(blocked.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(harness.ExitCode, 0u);
    EXPECT_EQ(g_SetupContext.Failed, 1u);
    EXPECT_EQ(std::string(g_SetupContext.ErrorText), "打开文件" + blocked + "错误。");
    std::string bytes;
    EXPECT_TRUE(ReadBytes(blocked, &bytes));
    EXPECT_EQ(bytes, "old");
    EXPECT_FALSE(PathExists(install + "VTRClient\\VTRClient.exe")) << "nothing after it";
    EXPECT_EQ(harness.ProgressPosition(), 1);
}

TEST(ExtractionWorker, LockedTargetEndsTheRunNamingIt) {
    ExpectBlockedTargetEndsTheRun(true);
}

TEST(ExtractionWorker, ReadOnlyTargetEndsTheRunNamingIt) {
    ExpectBlockedTargetEndsTheRun(false);
}

// A small entry is unpacked by the worker, a large one on the second core
// first: a damaged stream ends the run the same way either way.
TEST(ExtractionWorker, CorruptEntryFailsAndLeavesNothingUnderItsName) {
    for (size_t size : {size_t(7000), size_t(300000)}) {
        SCOPED_TRACE("client program of " + std::to_string(size) + " bytes");
        std::string install = MakeScratchDir("worker_corrupt");
        TestPackage package = QuietSample();
        std::string& bytes = package.Files[2].Bytes;
        bytes.clear();
        for (unsigned i = 0; bytes.size() < size; ++i)
            bytes += std::to_string(i * 7919u % 100003u) + ",";
        bytes.resize(size);
        std::vector<uint8_t> index, payload;
        BuildBlobs(package, &index, &payload);
        const PackageEntry* entries = reinterpret_cast<const PackageEntry*>(index.data() + 600);
        payload[entries[2].PayloadOffset + entries[2].CompressedLength / 2] ^= 0x55;
        WorkerHarness harness;
        harness.Prepare(package, install, nullptr, &payload);
        ASSERT_TRUE(harness.Run());
        std::string target = install + "VTRClient\\VTRClient.exe";
        EXPECT_EQ(harness.ExitCode, 0u);
        EXPECT_EQ(g_SetupContext.Failed, 1u);
        EXPECT_EQ(std::string(g_SetupContext.ErrorText), "解压文件" + target + "错误。");
        EXPECT_FALSE(PathExists(target));
        EXPECT_FALSE(PathExists(install + "VTRClient\\~MDPX.part"));
        EXPECT_FALSE(PathExists(install + "~MDPX.part.1"));
        ExpectInstalled(install, package.Files[0]);
        ExpectInstalled(install, package.Files[1]);
        EXPECT_FALSE(PathExists(install + "VTRClient\\empty.dat")) << "nothing after it";
    }
}

TEST(ExtractionWorker, StalePartialFileFromAnEarlierRunIsReplaced) {
    std::string install = MakeScratchDir("worker_stale");
    CreateDirectoryA((install + "VTRServer").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(install + "VTRServer\\~MDPX.part", std::string(100000, 'x')));
    TestPackage package = QuietSample();
    WorkerHarness harness;
    harness.Prepare(package, install);
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    ExpectInstalled(install, package.Files[0]);
    EXPECT_FALSE(PathExists(install + "VTRServer\\~MDPX.part"));
}

TEST(ExtractionWorker, TargetPathPastTheLimitFailsNamingIt) {
    std::string install = MakeScratchDir(std::string(200, 'L'));
    TestPackage package = QuietSample();
    package.Files[1].RelativePath = std::string(60, 'p') + "\\server.ini";
    WorkerHarness harness;
    harness.Prepare(package, install);
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 0u);
    EXPECT_EQ(g_SetupContext.Failed, 1u);
    std::string text = g_SetupContext.ErrorText;
    EXPECT_EQ(text.rfind("文件路径过长：" + install, 0), 0u) << text;
    EXPECT_FALSE(PathExists(install + "VTRServer\\" + std::string(60, 'p')));
}

TEST(ExtractionWorker, CancelBeforeTheFirstEntryUnpacksNothing) {
    std::string install = MakeScratchDir("worker_cancel_first");
    WorkerHarness harness;
    harness.Prepare(ManyFilesPackage(5), install);
    g_SetupContext.CancelEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 0u);
    EXPECT_EQ(g_SetupContext.Failed, 1u);
    EXPECT_EQ(std::string(g_SetupContext.ErrorText), "用户终止。");
    EXPECT_LE(harness.ProgressPosition(), 1) << "the bar shows its minimum, 1, for 0";
    EXPECT_FALSE(PathExists(install + "VTRServer\\sub0\\g0file0.bin"));
    CloseHandle(g_SetupContext.CancelEvent);
}

// Cancels when entry 7 starts: entries 0..6 are in place, 7 and later are
// not. Each file is `growth` bytes a position larger than the one before.
void ExpectCancelDuringEntry7(size_t growth) {
    std::string install = MakeScratchDir("worker_cancel_middle");
    TestPackage package = ManyFilesPackage(5);
    for (size_t i = 0; i < package.Files.size(); ++i)
        package.Files[i].Bytes.resize(package.Files[i].Bytes.size() + growth * i, 'x');
    WorkerHarness harness;
    harness.Prepare(package, install);
    const std::string trigger = "抽取：Reading ... " + package.Files[7].RelativePath + " ";
    harness.OnStatus = [&](const std::string& text) {
        if (text.rfind(trigger, 0) == 0 && g_SetupContext.CancelEvent == nullptr)
            g_SetupContext.CancelEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    };
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 0u);
    EXPECT_EQ(g_SetupContext.Failed, 1u);
    EXPECT_EQ(std::string(g_SetupContext.ErrorText), "用户终止。");
    EXPECT_EQ(harness.ProgressPosition(), 7);
    for (size_t i = 0; i < package.Files.size(); ++i) {
        if (i < 7)
            ExpectInstalled(install, package.Files[i]);
        else
            EXPECT_FALSE(PathExists(TargetOf(install, package.Files[i]))) << i;
    }
    for (int spare = 1; spare <= 32; ++spare)
        EXPECT_FALSE(PathExists(install + "~MDPX.part." + std::to_string(spare))) << spare;
    CloseHandle(g_SetupContext.CancelEvent);
}

TEST(ExtractionWorker, CancelDuringAnEntryStopsBeforeIt) {
    ExpectCancelDuringEntry7(0);
}

// The second core unpacks the last (largest) entries first: the stop leaves
// none of them behind, under a spare name or their own.
TEST(ExtractionWorker, CancelWhileLaterEntriesAreUnpackedAheadLeavesNoneOfThem) {
    ExpectCancelDuringEntry7(60000);
}

TEST(ExtractionWorker, TakenGroupWithoutEntriesOnlyTriesItsBackupFolder) {
    std::string install = MakeScratchDir("worker_empty_group");
    TestPackage package = QuietSample();
    package.Files.erase(package.Files.begin() + 2, package.Files.begin() + 4); // no client files
    WorkerHarness harness;
    harness.Prepare(package, install);
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    int backups = 0;
    for (const std::string& text : harness.StatusTexts)
        backups += text.rfind("Create backup directory", 0) == 0;
    EXPECT_EQ(backups, 3);
    EXPECT_EQ(harness.ProgressPosition(), 4);
}

TEST(ExtractionWorker, PositionReachesTheStepTotalWithTheSetupRun) {
    std::string install = MakeScratchDir("worker_steps");
    TestPackage package = QuietSample();
    // A real program as the client, so its set-up run happens.
    std::string client;
    ASSERT_TRUE(ReadBytes(BinPath("VTRClient.exe"), &client));
    package.Files[2].Bytes = client;
    package.Settings.ClientRun = true;
    WorkerHarness harness;
    harness.Prepare(package, install);
    g_SetupContext.InstallServer = 0;
    ASSERT_TRUE(harness.Run());
    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(harness.ProgressMaximum(), 3); // two client entries and the set-up run
    EXPECT_EQ(harness.ProgressPosition(), 3);
    std::string record;
    EXPECT_TRUE(ReadBytes(install + "VTRClient\\setup-runs.log", &record));
    EXPECT_NE(record.find("Install"), std::string::npos);
}

} // namespace
