// The uninstaller under faults: ended by force at many moments of its work
// (a second run removes what is left, ends with exit code 0 and never touches
// what the installation did not make), a record tampered to lead outside the
// install folder, and records that cannot be read.
#include "tests/support/fault_support.h"
#include "record/uninstall_names.h"
#include "record/uninstall_record.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const int kFiles = 300;

// An installation as the installer leaves it, built directly: files in
// nested folders, the uninstaller, its record and a Programs and Features
// entry. The scene's own files (the user's notes, a target holding the
// user's bytes) are not in the record and must stay.
UninstallRecord PlantInstallation(const FaultScene& scene, const std::string& keyName) {
    UninstallRecord record;
    record.Product = "fault";
    record.Version = "1";
    record.KeyName = keyName;
    std::set<std::string> folders;
    for (int i = 0; i < kFiles; ++i) {
        std::string folder = "VTRServer\\sub" + std::to_string(i % 7);
        CreateDirectoryA((scene.InstallDir + "VTRServer").c_str(), nullptr);
        CreateDirectoryA((scene.InstallDir + folder).c_str(), nullptr);
        folders.insert(folder);
        RecordedFile file;
        file.Path = folder + "\\f" + std::to_string(i) + ".bin";
        std::string bytes(2000 + i, static_cast<char>('a' + i % 26));
        WriteBytes(scene.InstallDir + file.Path, bytes);
        WIN32_FILE_ATTRIBUTE_DATA data;
        GetFileAttributesExA((scene.InstallDir + file.Path).c_str(), GetFileExInfoStandard, &data);
        file.Size = data.nFileSizeLow;
        file.WriteTime = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 |
                         data.ftLastWriteTime.dwLowDateTime;
        record.Files.push_back(file);
    }
    record.Folders.assign(folders.begin(), folders.end());
    record.Folders.push_back("VTRServer");
    CopyFileA(BinPath(kUninstallerFileName).c_str(),
              (scene.InstallDir + kUninstallerFileName).c_str(), FALSE);
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, FormatUninstallRecord(record));
    HKEY key = nullptr;
    std::string location = scene.InstallDir.substr(0, scene.InstallDir.size() - 1);
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyParent) + "\\" + keyName).c_str(),
                    0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExA(key, "InstallLocation", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(location.c_str()),
                   static_cast<DWORD>(location.size() + 1));
    RegCloseKey(key);
    return record;
}

bool KeyExists(const std::string& keyName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      (std::string(kUninstallKeyParent) + "\\" + keyName).c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The uninstaller works from a temporary copy that the started program
// waits for: that copy is the process to kill.
HANDLE WaitForCopy(DWORD parentId, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            if (entry.th32ParentProcessID == parentId) {
                CloseHandle(snapshot);
                return OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            }
        }
        CloseHandle(snapshot);
        Sleep(5);
    }
    return nullptr;
}

int RecordedLeft(const UninstallRecord& record, const std::string& installDir) {
    int left = 0;
    for (const RecordedFile& file : record.Files)
        left += PathExists(installDir + file.Path);
    return left;
}

TEST(UninstallKillTest, UninstallKilledAtRandomMomentsIsCompletedByASecondRun) {
    const int kKills = 8;
    const std::string key = "MDPX fault-kill";
    // Undisturbed runs give the time span to kill within; the first one
    // also pays for starting Wine's helpers, so the second one's counts.
    DWORD span = 0;
    UninstallRecord record;
    for (int run = 0; run < 2; ++run) {
        FaultScene first("uninstall-whole");
        record = PlantInstallation(first, key);
        // Timed from the moment its working copy runs, as the kills are.
        std::string command = "\"" + first.InstallDir + kUninstallerFileName + "\" /S";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process));
        CloseHandle(process.hThread);
        HANDLE copy = WaitForCopy(process.dwProcessId, 10000);
        DWORD started = GetTickCount();
        ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        span = GetTickCount() - started;
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(process.hProcess);
        if (copy != nullptr) {
            WaitForSingleObject(copy, 10000);
            CloseHandle(copy);
        }
        EXPECT_EQ(RecordedLeft(record, first.InstallDir), 0);
        EXPECT_FALSE(KeyExists(key));
        EXPECT_EQ(first.CheckNothingLost(), "");
    }

    std::mt19937 random(20121209);
    CaseResult result{"Uninstaller killed at random moments, then run again", 0, 0, 0, 0, ""};
    std::set<int> moments; // recorded files left when the kill came
    int finished = 0;      // runs that had ended before the kill came
    for (int k = 0; k < kKills; ++k) {
        FaultScene scene("uninstall-kill");
        record = PlantInstallation(scene, key);
        std::string line = "\"" + scene.InstallDir + kUninstallerFileName + "\" /S";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process));
        CloseHandle(process.hThread);
        HANDLE copy = WaitForCopy(process.dwProcessId, 10000);
        ASSERT_NE(copy, nullptr);
        double slice = (k + std::uniform_real_distribution<>(0, 1)(random)) / kKills;
        DWORD delay = static_cast<DWORD>(slice * span);
        Sleep(delay);
        TerminateProcess(copy, 9);
        WaitForSingleObject(copy, 10000);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(copy);
        CloseHandle(process.hProcess);
        SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
        moments.insert(RecordedLeft(record, scene.InstallDir));
        std::string lostAtKill = scene.CheckNothingLost();
        EXPECT_EQ(lostAtKill, "");

        // A kill that came after the work was done finds nothing to run again.
        bool finishedFirst = !PathExists(scene.InstallDir + kUninstallerFileName);
        int again = finishedFirst ? 0 : RunProcess(line, 60000);
        finished += finishedFirst;
        ++result.Runs;
        bool survived = again == 0;
        // The program and the record go last, the program just after the
        // started one ended.
        bool cleared = false;
        for (int i = 0; i < 100 && !cleared; ++i) {
            cleared = !PathExists(scene.InstallDir + kUninstallerFileName);
            if (!cleared)
                Sleep(100);
        }
        bool complete = RecordedLeft(record, scene.InstallDir) == 0 && !KeyExists(key) &&
                        !PathExists(scene.InstallDir + kUninstallRecordFileName) && cleared;
        std::string lost = scene.CheckNothingLost();
        EXPECT_TRUE(survived) << "exit code " << again;
        EXPECT_TRUE(complete);
        EXPECT_EQ(lost, "");
        result.Survived += survived;
        result.MessageShown += survived && complete;
        result.NothingLost += lostAtKill.empty() && lost.empty();
    }
    EXPECT_GE(moments.size(), 3u);
    result.Note = "TerminateProcess of the working copy within a " + std::to_string(span) +
                  " ms uninstall of " + std::to_string(kFiles) + " files; " +
                  std::to_string(moments.size()) + " distinct file counts at the kill (" +
                  std::to_string(finished) +
                  " had finished); second run exits 0, removes the rest, user files untouched";
    RecordCase(result);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyParent) + "\\" + key).c_str());
}

std::string StampLine(const std::string& path, const std::string& recordedPath) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    char line[128];
    snprintf(line, sizeof line, "F %lu %08lX%08lX ", data.nFileSizeLow,
             data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return line + recordedPath + "\r\n";
}

// Items naming files outside the install folder with their true sizes and
// times: the uninstaller leaves every one alone and removes the rest.
TEST(UninstallFaultTest, TamperedRecordDeletesNothingOutsideTheInstallFolder) {
    const std::string key = "MDPX fault-tampered";
    FaultScene scene("uninstall-tampered");
    UninstallRecord record = PlantInstallation(scene, key);
    const std::string beside = scene.Root + "beside.txt"; // planted by the scene
    std::vector<std::string> lines = {
        StampLine(beside, "..\\beside.txt"),
        StampLine(beside, "VTRServer\\..\\..\\beside.txt"),
        StampLine(beside, beside),
        StampLine(beside, "/" + beside.substr(3)),
        "D ..\r\n",
        "B " + scene.Root + "\r\n",
        "L S ..\\..\\..\\beside.lnk\r\n",
        "S Spooler\r\n",
    };
    // A folder link inside the install folder that leads out of it, where
    // the system can make one.
    bool linked = CreateSymbolicLinkA((scene.InstallDir + "out").c_str(), scene.Root.c_str(),
                                      SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;
    if (linked)
        lines.push_back(StampLine(beside, "out\\beside.txt"));
    std::string text;
    ReadBytes(scene.InstallDir + kUninstallRecordFileName, &text);
    for (const std::string& line : lines)
        text += line;
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, text);

    int code = RunProcess("\"" + scene.InstallDir + kUninstallerFileName + "\" /S", 60000);
    if (linked)
        RemoveDirectoryA((scene.InstallDir + "out").c_str());
    std::string lost = scene.CheckNothingLost();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lost, "");
    EXPECT_EQ(RecordedLeft(record, scene.InstallDir), 0);
    EXPECT_FALSE(KeyExists(key));
    CaseResult result{"Uninstall record tampered to lead outside the install folder",
                      1,
                      code == 0,
                      code == 0,
                      lost.empty(),
                      std::to_string(lines.size()) +
                          " items (.., absolute, rooted, other folder, link name, service" +
                          (linked ? ", folder link" : "; no folder link: the system made none") +
                          "); nothing outside touched, the rest removed"};
    RecordCase(result);
}

// A record that cannot be read is refused whole: exit code 2, nothing removed.
TEST(UninstallFaultTest, UnreadableRecordIsRefusedAndNothingIsRemoved) {
    const std::string key = "MDPX fault-unreadable";
    const std::string texts[] = {
        "",
        "MDPX-UNINSTALL 2\r\nN future\r\n",
        "PK\x03\x04 not a record at all",
        "MDPX-UNINSTALL 1\r\nN x\r\nF 12 0000000000000001\r\n",
        "MDPX-UNINSTALL 1\r\nZ unknown tag\r\n",
    };
    CaseResult result{"Uninstall record unreadable",
                      0,
                      0,
                      0,
                      0,
                      "empty, other version, not a record, malformed line, unknown tag: exit code "
                      "2, nothing removed"};
    for (const std::string& text : texts) {
        FaultScene scene("uninstall-unreadable");
        UninstallRecord record = PlantInstallation(scene, key);
        WriteBytes(scene.InstallDir + kUninstallRecordFileName, text);
        TreeSnapshot before = SnapshotTree(scene.Root);
        int code = RunProcess("\"" + scene.InstallDir + kUninstallerFileName + "\" /S", 60000);
        bool untouched = SnapshotTree(scene.Root) == before && KeyExists(key);
        EXPECT_EQ(code, 2) << text;
        EXPECT_TRUE(untouched) << text;
        ++result.Runs;
        result.Survived += code >= 0;
        result.MessageShown += code == 2;
        result.NothingLost += untouched;
    }
    RecordCase(result);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyParent) + "\\" + key).c_str());
}

} // namespace
