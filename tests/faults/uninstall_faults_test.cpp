// The uninstaller under faults: ended by force at many moments of its work
// (a second run removes what is left, ends with exit code 0 and never touches
// what the installation did not make), a record tampered to lead outside the
// install folder, and records that cannot be read.
#include "package/package_digest.h"
#include "install/shortcuts.h"
#include "tests/support/fault_support.h"
#include "tests/support/links.h"
#include "tests/support/services.h"
#include "record/record_trust.h"
#include "record/uninstall_names.h"
#include "record/uninstall_record.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const int kFiles = 300;

std::string KeyPath(const std::string& keyName) {
    return std::string(kUninstallKeyParent) + "\\" + keyName;
}

void SetKeyText(const std::string& keyName, const char* name, const std::string& value) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath(keyName).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                    nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

// The installer's entry vouches for the record as it lies now: what an
// installation does, and what a test does to reach the checks behind the
// digest with a record it changed.
void Vouch(const FaultScene& scene, const std::string& keyName) {
    std::string text;
    ReadBytes(scene.InstallDir + kUninstallRecordFileName, &text);
    SetKeyText(keyName, kRecordDigestValue, RecordDigestText(text));
}

// An installation as the installer leaves it, built directly: files in
// nested folders, the uninstaller, its record and a Programs and Features
// entry holding the record's digest. The scene's own files (the user's notes,
// a target holding the user's bytes) are not in the record and must stay.
// keyName is "MDPX " and the product's name (GBK).
UninstallRecord PlantInstallation(const FaultScene& scene, const std::string& keyName,
                                  const std::string& folder = "VTRServer") {
    UninstallRecord record;
    record.Product = Utf8FromGbk(keyName.substr(5));
    record.Version = "1";
    record.KeyName = Utf8FromGbk(keyName);
    std::set<std::string> folders;
    CreateDirectoryA((scene.InstallDir + folder).c_str(), nullptr);
    for (int i = 0; i < kFiles; ++i) {
        std::string sub = folder + "\\sub" + std::to_string(i % 7);
        CreateDirectoryA((scene.InstallDir + sub).c_str(), nullptr);
        folders.insert(Utf8FromGbk(sub));
        std::string path = sub + "\\f" + std::to_string(i) + ".bin";
        std::string bytes(2000 + i, static_cast<char>('a' + i % 26));
        WriteBytes(scene.InstallDir + path, bytes);
        RecordedFile file;
        file.Path = Utf8FromGbk(path);
        file.Size = bytes.size();
        file.Crc = ExtendCrc32(0, bytes.data(), bytes.size());
        record.Files.push_back(file);
    }
    record.Folders.assign(folders.begin(), folders.end());
    record.Folders.push_back(Utf8FromGbk(folder));
    CopyFileA(BinPath(kUninstallerFileName).c_str(),
              (scene.InstallDir + kUninstallerFileName).c_str(), FALSE);
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, FormatUninstallRecord(record));
    SetKeyText(keyName, "InstallLocation", scene.InstallDir.substr(0, scene.InstallDir.size() - 1));
    Vouch(scene, keyName);
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
        left += PathExists(installDir + GbkFromWide(WideFrom(file.Path, CP_UTF8)));
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

// A record line naming recordedPath with the true size and CRC-32 of path.
std::string StampLine(const std::string& path, const std::string& recordedPath) {
    std::string bytes;
    ReadBytes(path, &bytes);
    char line[64];
    snprintf(line, sizeof line, "F %u %08lX ", static_cast<unsigned>(bytes.size()),
             static_cast<unsigned long>(ExtendCrc32(0, bytes.data(), bytes.size())));
    return line + Utf8FromGbk(recordedPath) + "\r\n";
}

int RunSilently(const FaultScene& scene, const std::string& arguments = "/S") {
    return RunProcess("\"" + scene.InstallDir + kUninstallerFileName + "\" " + arguments, 90000);
}

// Items naming files outside the install folder with their true sizes and
// contents, some through real links out of it: the uninstaller leaves every
// one alone and removes the rest. The entry vouches for the changed record,
// so the checks behind the digest are what is tested here.
TEST(UninstallFaultTest, TamperedRecordDeletesNothingOutsideTheInstallFolder) {
    const std::string key = "MDPX fault-tampered";
    FaultScene scene("uninstall-tampered");
    UninstallRecord record = PlantInstallation(scene, key);
    const std::string beside = scene.Root + "beside.txt"; // planted by the scene
    // A recorded file swapped for a link to a file outside with the same bytes.
    const std::string same = scene.WorkDir + "same.bin";
    std::string recordedBytes;
    ReadBytes(scene.InstallDir + "VTRServer\\sub0\\f0.bin", &recordedBytes);
    ASSERT_TRUE(WriteBytes(same, recordedBytes));
    ASSERT_TRUE(DeleteFileA((scene.InstallDir + "VTRServer\\sub0\\f0.bin").c_str()));
    ASSERT_TRUE(MakeUnixSymlink(scene.InstallDir + "VTRServer\\sub0\\f0.bin", same));
    // A folder link inside the install folder that leads out of it.
    ASSERT_TRUE(MakeUnixSymlink(scene.InstallDir + "out", scene.Root));
    std::vector<std::string> lines = {
        StampLine(beside, "out\\beside.txt"),
        "D out\r\n",
        StampLine(beside, "..\\beside.txt"),
        StampLine(beside, "VTRServer\\..\\..\\beside.txt"),
        StampLine(beside, beside),
        StampLine(beside, "/" + beside.substr(3)),
        "D ..\r\n",
        "B " + scene.Root + "\r\n",
        "L S ..\\..\\..\\beside.lnk\r\n",
        "S Spooler\r\n",
    };
    std::string text;
    ReadBytes(scene.InstallDir + kUninstallRecordFileName, &text);
    for (const std::string& line : lines)
        text += line;
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, text);
    Vouch(scene, key);

    int code = RunSilently(scene);
    std::string lost = scene.CheckNothingLost();
    std::string sameNow;
    bool sameKept = ReadBytes(same, &sameNow) && sameNow == recordedBytes;
    int left = RecordedLeft(record, scene.InstallDir); // the link in f0.bin's place stays
    RemoveUnixSymlink(scene.InstallDir + "out");
    RemoveUnixSymlink(scene.InstallDir + "VTRServer\\sub0\\f0.bin");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lost, "");
    EXPECT_TRUE(sameKept) << "a file reached through a link to outside was deleted";
    EXPECT_EQ(left, 1);
    EXPECT_FALSE(KeyExists(key));
    CaseResult result{"Uninstall record tampered to lead outside the install folder",
                      1,
                      code == 0,
                      code == 0,
                      lost.empty() && sameKept,
                      std::to_string(lines.size()) +
                          " items (.., absolute, rooted, other folder, link name, service, "
                          "folder link) and a file swapped for a real link out; nothing outside "
                          "touched, the rest removed"};
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

// A record the entry does not vouch for is refused whole, whatever it names:
// changed after the installation, naming another product's key, or with no
// digest in the entry. Nothing is touched, the other product's key and link
// included.
TEST(UninstallFaultTest, PlantedRecordDeletesNothing) {
    const std::string key = "MDPX fault-planted";
    const std::string foreignKey = "Foreign Product"; // no InstallLocation
    char desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    const std::string foreignLink = std::string(desktop) + "\\foreign.lnk";
    const struct {
        const char* Name;
        std::function<void(const FaultScene&)> Plant;
    } cases[] = {
        {"lines added after the installation",
         [&](const FaultScene& scene) {
             std::string text;
             ReadBytes(scene.InstallDir + kUninstallRecordFileName, &text);
             WriteBytes(scene.InstallDir + kUninstallRecordFileName,
                        text + "K " + foreignKey + "\r\nL D foreign.lnk\r\n");
         }},
        {"another product's key",
         [&](const FaultScene& scene) {
             UninstallRecord other;
             other.Product = "Foreign";
             other.KeyName = foreignKey;
             other.Links = {{LinkPlace::Desktop, "foreign.lnk"}};
             other.Files = {{"VTRServer\\sub0\\f0.bin", 2000, 0, 0}};
             WriteBytes(scene.InstallDir + kUninstallRecordFileName, FormatUninstallRecord(other));
         }},
        {"no digest in the entry",
         [&](const FaultScene&) {
             RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, KeyPath(key).c_str(), kRecordDigestValue);
         }},
    };
    CaseResult result{"Uninstall record planted (digest not in the entry)",
                      0,
                      0,
                      0,
                      0,
                      "record changed, naming another product's key, entry without digest: exit "
                      "code 2, no file, key or link touched"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        FaultScene scene("uninstall-planted");
        PlantInstallation(scene, key);
        SetKeyText(foreignKey, "DisplayName", "Foreign");
        CreateShellLink(BinPath("VTRClient.exe").c_str(), foreignLink.c_str(), nullptr);
        ASSERT_TRUE(PathExists(foreignLink));
        c.Plant(scene);
        TreeSnapshot before = SnapshotTree(scene.Root);
        int code = RunSilently(scene);
        bool untouched = SnapshotTree(scene.Root) == before && KeyExists(key) &&
                         KeyExists(foreignKey) && PathExists(foreignLink);
        EXPECT_EQ(code, 2);
        EXPECT_TRUE(untouched);
        ++result.Runs;
        result.Survived += code >= 0;
        result.MessageShown += code == 2;
        result.NothingLost += untouched;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, KeyPath(key).c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, KeyPath(foreignKey).c_str());
        DeleteFileA(foreignLink.c_str());
    }
    RecordCase(result);
}

// Registers a service whose program is the given path.
bool RegisterService(const char* name, const std::string& program) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return false;
    SC_HANDLE service =
        CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ("\"" + program + "\"").c_str(),
                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

// A vouched record that names things this installation does not own: a
// service of the product's name whose program lies elsewhere (reached
// through "..", which a text comparison would take for inside), a desktop
// link of the product's name that leads to another folder. Both survive,
// and the rest goes.
TEST(UninstallFaultTest, ForeignServiceAndLinkSurvive) {
    const std::string key = "MDPX fault-foreign";
    const char kService[] = "VTR NetWork Mysql";
    FaultScene scene("uninstall-foreign");
    UninstallRecord record = PlantInstallation(scene, key);
    const std::string otherProgram = scene.WorkDir + "mysqld.exe";
    ASSERT_TRUE(CopyFileA(BinPath("mysqld.exe").c_str(), otherProgram.c_str(), FALSE));
    RemoveService(kService);
    ASSERT_TRUE(RegisterService(kService, scene.InstallDir + "..\\work\\mysqld.exe"));
    char desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    const std::string link = std::string(desktop) + "\\澜枢软件.lnk";
    CreateShellLink(otherProgram.c_str(), link.c_str(), nullptr);
    ASSERT_TRUE(PathExists(link));
    record.Services = {kService};
    record.Links = {{LinkPlace::Desktop, Utf8FromGbk("澜枢软件.lnk")}};
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, FormatUninstallRecord(record));
    Vouch(scene, key);

    int code = RunSilently(scene);
    bool serviceKept = ServiceState(kService) != 0;
    bool linkKept = PathExists(link);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(serviceKept) << "the other installation's service was deleted";
    EXPECT_TRUE(linkKept) << "a link leading to another folder was deleted";
    EXPECT_EQ(RecordedLeft(record, scene.InstallDir), 0);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_EQ(scene.CheckNothingLost(), "");
    RemoveService(kService);
    DeleteFileA(link.c_str());
    RecordCase({"Uninstall meets another installation's service and link", 1, code == 0, code == 0,
                serviceKept && linkKept,
                "service of the product's name running a program outside (via ..), desktop link "
                "of the product's name leading elsewhere: both kept, the rest removed"});
}

// "--from" is how the uninstaller's own temporary copy learns where to work;
// typed by hand it is refused, and the file it names stays.
TEST(UninstallFaultTest, HandTypedFromIsRefused) {
    FaultScene scene("uninstall-from");
    const std::string victim = scene.Root + "beside.txt";
    const std::string program = scene.WorkDir + kUninstallerFileName;
    ASSERT_TRUE(CopyFileA(BinPath(kUninstallerFileName).c_str(), program.c_str(), FALSE));
    const std::string lines[] = {
        "--from \"" + victim + "\" /S",
        "--from \"" + victim + "\" --report 4 --original 8 /S",
        "--from \"" + scene.InstallDir + kUninstallerFileName + "\" --report 12 --original 16 /S",
    };
    int refused = 0;
    for (const std::string& line : lines) {
        int code = RunProcess("\"" + program + "\" " + line, 60000);
        EXPECT_EQ(code, 4) << line;
        refused += code == 4;
    }
    std::string lost = scene.CheckNothingLost();
    EXPECT_EQ(lost, "");
    RecordCase({"Uninstaller started with --from by hand", 3, 3, refused, lost.empty() ? 3 : 0,
                "--from naming a file, with made-up handles: refused with exit code 4, nothing "
                "touched"});
}

// DeleteService only marks a service while someone holds it open. The
// uninstaller waits until it is gone before it ends, so the service can be
// registered again at once.
TEST(UninstallFaultTest, ServiceMarkedForDeletionIsGoneBeforeTheUninstallerEnds) {
    const std::string key = "MDPX fault-marked";
    const char kService[] = "VTR Personal Mysql";
    FaultScene scene("uninstall-marked");
    UninstallRecord record = PlantInstallation(scene, key);
    const std::string program = scene.InstallDir + "VTRServer\\mysqld.exe";
    ASSERT_TRUE(CopyFileA(BinPath("mysqld.exe").c_str(), program.c_str(), FALSE));
    RemoveService(kService);
    ASSERT_TRUE(RegisterService(kService, program));
    record.Services = {kService};
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, FormatUninstallRecord(record));
    Vouch(scene, key);

    // Another program holds the service open for a while: longer than the
    // uninstall itself takes.
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE held = OpenServiceA(manager, kService, SERVICE_QUERY_STATUS);
    ASSERT_NE(held, nullptr);
    HANDLE releaser = CreateThread(
        nullptr, 0,
        [](LPVOID handle) -> DWORD {
            Sleep(6000);
            CloseServiceHandle(static_cast<SC_HANDLE>(handle));
            return 0;
        },
        held, 0, nullptr);
    int code = RunSilently(scene);
    // Registered again at once, as an installation right after would: a
    // service still marked for deletion refuses that (1072).
    bool again = RegisterService(kService, program);
    DWORD error = GetLastError();
    WaitForSingleObject(releaser, 15000);
    CloseHandle(releaser);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(again) << "CreateService right after the uninstall failed with " << error;
    RemoveService(kService);
    CloseServiceHandle(manager);
    RecordCase({"Uninstall of a service another program holds open", 1, code == 0, code == 0,
                again ? 1 : 0,
                "DeleteService only marks it; the uninstaller waits until it is gone (bounded), "
                "a new registration right after succeeds"});
}

// A product without a name or a version uninstalls like any other.
TEST(UninstallFaultTest, EmptyNameAndVersionUninstall) {
    const std::string key = UninstallKeyForProduct("");
    FaultScene scene("uninstall-empty");
    UninstallRecord record = PlantInstallation(scene, key);
    record.Product.clear();
    record.Version.clear();
    WriteBytes(scene.InstallDir + kUninstallRecordFileName, FormatUninstallRecord(record));
    Vouch(scene, key);
    int code = RunSilently(scene);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RecordedLeft(record, scene.InstallDir), 0);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_EQ(scene.CheckNothingLost(), "");
}

// Names in the record are Unicode: after the system's code page changed
// from 936 to 1252 the same record still finds its files, folders and key.
// Wine takes the code page from the Linux locale a process starts with, so
// the uninstaller is started from Linux with LC_ALL=C.UTF-8 (code page 1252).
TEST(UninstallFaultTest, RecordReadUnderCodePage1252RemovesEverything) {
    const std::string key = "MDPX 澜枢代码页";
    FaultScene scene("uninstall-codepage");
    UninstallRecord record = PlantInstallation(scene, key, "澜枢服务");
    const char* wine = getenv("SETUP_WINE");
    if (wine == nullptr || *wine == '\0')
        GTEST_SKIP() << "SETUP_WINE is not set: the Wine loader is unknown";
    std::string done = scene.Root + "exit-code.txt";
    std::string program = Utf8FromGbk(UnixPathOf(scene.InstallDir + kUninstallerFileName));
    ASSERT_FALSE(program.empty());
    std::string windowsPath = Utf8FromGbk(scene.InstallDir + kUninstallerFileName);
    ASSERT_TRUE(RunLinuxCommand(std::string("LC_ALL=C.UTF-8 \"") + wine + "\" \"" + windowsPath +
                                    "\" /S; echo $? >\"" + Utf8FromGbk(UnixPathOf(done)) + "\"",
                                done, 90000));
    std::string exitText;
    ReadBytes(done, &exitText);
    DeleteFileA(done.c_str());
    for (int i = 0; i < 100 && PathExists(scene.InstallDir + kUninstallerFileName); ++i)
        Sleep(100);
    EXPECT_EQ(atoi(exitText.c_str()), 0) << exitText;
    EXPECT_EQ(RecordedLeft(record, scene.InstallDir), 0);
    EXPECT_FALSE(PathExists(scene.InstallDir + "澜枢服务"));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_FALSE(PathExists(scene.InstallDir + kUninstallerFileName));
    EXPECT_EQ(scene.CheckNothingLost(), "");
}

} // namespace
