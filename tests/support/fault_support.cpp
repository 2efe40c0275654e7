#include "tests/support/fault_support.h"

#include "record/record_trust.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char kKeptTarget[] = "VTRClient\\kept.ini";
const char kKeptTargetBytes[] = "[user]\r\nedited=by hand\r\n";

namespace {

const char kUnlisted[] = "<folder not listed: error ";

void Walk(const std::string& root, const std::string& relative, TreeSnapshot* out) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // A folder that cannot be listed (another program holds it open
        // for deletion) is named, not taken for an empty one.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            (*out)[relative + "*"] = kUnlisted + std::to_string(error);
        return;
    }
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        std::string path = relative + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link to a folder is not walked into: it may lead back up.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                Walk(root, path + "\\", out);
        } else {
            std::string bytes;
            if (!ReadBytes(root + path, &bytes))
                bytes = "<unreadable>";
            (*out)[path] = bytes;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string ResultsDir() {
    std::string dir = std::string(TEST_SCRATCH_DIR) + "\\reliability\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

} // namespace

TreeSnapshot SnapshotTree(const std::string& root) {
    TreeSnapshot snapshot;
    std::string base = root;
    if (!base.empty() && base.back() != '\\')
        base += '\\';
    Walk(base, "", &snapshot);
    return snapshot;
}

FaultScene::FaultScene(const std::string& name) {
    Root = MakeScratchDir("faults-" + name);
    InstallDir = Root + "inst\\";
    WorkDir = Root + "work\\";
    CreateDirectoryA(InstallDir.c_str(), nullptr);
    CreateDirectoryA(WorkDir.c_str(), nullptr);
    CreateDirectoryA((InstallDir + "VTRClient").c_str(), nullptr);
    WriteBytes(Root + "beside.txt", "a file next to the install folder\r\n");
    WriteBytes(InstallDir + "VTRClient\\notes.txt", "the user's own notes\r\n");
    WriteBytes(InstallDir + kKeptTarget, kKeptTargetBytes);
    Before = SnapshotTree(Root);
}

std::string FaultScene::CheckNothingLost() const {
    TreeSnapshot after = SnapshotTree(Root);
    for (const auto& file : after) {
        if (file.second.compare(0, strlen(kUnlisted), kUnlisted) == 0)
            return "could not list " + file.first + " " + file.second;
    }
    for (const auto& file : Before) {
        auto now = after.find(file.first);
        if (now == after.end())
            return "lost " + file.first;
        if (now->second != file.second)
            return "changed " + file.first;
    }
    for (const auto& file : after) {
        if (Before.count(file.first) == 0 && !StartsWith(file.first, "inst\\") &&
            !StartsWith(file.first, "work\\"))
            return "written outside the install folder: " + file.first;
    }
    return "";
}

std::string FaultScene::CheckTargetsUpTo(const TestPackage& package,
                                         const std::string& failedTarget) const {
    TreeSnapshot tree = SnapshotTree(InstallDir);
    std::map<std::string, const TestFile*> targets;
    bool reached = false;
    for (const TestFile& file : package.Files) {
        std::string path = InstalledPath(file);
        targets[path] = &file;
        reached |= InstallDir + path == failedTarget;
        if (path == kKeptTarget)
            continue;
        auto found = tree.find(path);
        if (!reached && found == tree.end())
            return "missing before the failure: " + path;
        if (!reached && found->second != file.Bytes)
            return "torn file: " + path + " (" + std::to_string(found->second.size()) + " of " +
                   std::to_string(file.Bytes.size()) + " bytes)";
        if (reached && found != tree.end())
            return "written at or after the failure: " + path;
    }
    if (!reached && !failedTarget.empty())
        return "the failed target is not a package target: " + failedTarget;
    for (const auto& file : tree) {
        if (targets.count(file.first) == 0 && Before.count("inst\\" + file.first) == 0)
            return "stray file: " + file.first;
    }
    return "";
}

TestPackage PlainPackage(int count, size_t size) {
    TestPackage package;
    package.Config = SampleConfigText();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    const PackageGroup groups[] = {PackageGroup::Server, PackageGroup::Client,
                                   PackageGroup::Database};
    const char* const names[] = {"srv", "cli", "db"};
    uint32_t state = 2463534242u;
    for (int g = 0; g < 3; ++g) {
        if (groups[g] == PackageGroup::Client)
            package.Files.push_back(TestFile{PackageGroup::Client, "kept.ini",
                                             "[package]\r\nversion=2\r\n", MakeTimes(7)});
        for (int i = 0; i < count; ++i) {
            // Half noise, half text: streams of some length that still compress.
            std::string bytes(size, '\0');
            for (size_t k = 0; k < size; ++k) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                bytes[k] = k % 2 ? static_cast<char>(state) : static_cast<char>('a' + k % 26);
            }
            char path[64];
            snprintf(path, sizeof path, "%s\\part%02d\\file%03d.dat", names[g], i % 4, i);
            package.Files.push_back(
                TestFile{groups[g], path, std::move(bytes), MakeTimes(200 + g * 100 + i)});
        }
    }
    return package;
}

std::string CheckNoTornFiles(const TestPackage& package, const std::string& installDir) {
    TreeSnapshot tree = SnapshotTree(installDir);
    for (const auto& file : tree) {
        if (file.first.find("~MDPX.part") != std::string::npos)
            return "partial file left: " + file.first;
    }
    for (const TestFile& file : package.Files) {
        std::string path = InstalledPath(file);
        auto found = tree.find(path);
        if (found != tree.end() && path != kKeptTarget && found->second != file.Bytes)
            return "torn file: " + path;
    }
    return "";
}

std::string InstalledPath(const TestFile& file) {
    const char* const folders[] = {"VTRServer\\", "VTRClient\\", "VTRServer\\Mysql\\"};
    return folders[static_cast<int>(file.Group)] + file.RelativePath;
}

std::string FaultWorkerCommand(const std::string& exe, const std::string& installDir,
                               const std::string& workDir) {
    // A backslash before a closing quote would escape it: the folders go
    // without theirs, and the tool puts it back.
    auto bare = [](std::string folder) {
        while (!folder.empty() && folder.back() == '\\')
            folder.pop_back();
        return "\"" + folder + "\"";
    };
    return "\"" + BinPath("fault-worker.exe") + "\" \"" + exe + "\" " + bare(installDir) + " " +
           bare(workDir) + " \"" + workDir + "result.txt\"";
}

WorkerOutcome RunFaultWorker(const std::string& exe, const std::string& installDir,
                             const std::string& workDir, DWORD timeoutMs,
                             const std::vector<std::string>& environment) {
    WorkerOutcome outcome;
    std::string resultFile = workDir + "result.txt";
    DeleteFileA(resultFile.c_str());
    outcome.ProcessExit =
        RunProcess(FaultWorkerCommand(exe, installDir, workDir), timeoutMs, environment);
    std::string text;
    if (!ReadBytes(resultFile, &text))
        return outcome;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (StartsWith(line, "exit="))
            outcome.WorkerExit = strtoul(line.c_str() + 5, nullptr, 10);
        else if (StartsWith(line, "failed="))
            outcome.Failed = static_cast<unsigned>(strtoul(line.c_str() + 7, nullptr, 10));
        else if (StartsWith(line, "error="))
            outcome.ErrorText = line.substr(6);
        else if (StartsWith(line, "box=")) {
            size_t tab = line.find('\t');
            outcome.Boxes.emplace_back(line.substr(4, tab - 4),
                                       tab == std::string::npos ? "" : line.substr(tab + 1));
        }
    }
    return outcome;
}

void RecordCase(const CaseResult& r) {
    // One file per case, so a case run again replaces its own line.
    std::string name = r.Name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); },
        '-');
    // The build that ran the case: the shipped 32-bit program, or its 64-bit
    // twin on a host that cannot run 32-bit code.
#ifdef _WIN64
    const char* build = "x86_64 twin";
#else
    const char* build = "i686";
#endif
    char line[1024];
    snprintf(line, sizeof line, "%s\t%d\t%d\t%d\t%d\t%s\t%s\n", r.Name.c_str(), r.Runs, r.Survived,
             r.MessageShown, r.NothingLost, build, r.Note.c_str());
    WriteBytes(ResultsDir() + name + ".tsv", line);
}

std::string ResultsTable() {
    std::string dir = ResultsDir();
    std::vector<std::string> lines;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*.tsv").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string bytes;
            if (ReadBytes(dir + found.cFileName, &bytes))
                lines.push_back(bytes);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(lines.begin(), lines.end());
    std::string table =
        "| Case | Build | Runs | Survived | Message shown | Nothing lost | Notes |\n"
        "|---|---|---|---|---|---|---|\n";
    for (const std::string& line : lines) {
        char name[256] = {}, build[64] = {}, note[512] = {};
        int runs = 0, survived = 0, message = 0, kept = 0;
        if (sscanf(line.c_str(), "%255[^\t]\t%d\t%d\t%d\t%d\t%63[^\t\n]\t%511[^\n]", name, &runs,
                   &survived, &message, &kept, build, note) < 6)
            continue;
        char row[1024];
        snprintf(row, sizeof row, "| %s | %s | %d | %d/%d | %d/%d | %d/%d | %s |\n", name, build,
                 runs, survived, runs, message, runs, kept, runs, note);
        table += row;
    }
    return table;
}

std::string UnixPathOf(const std::string& winePath) {
    // D: is <build>/drive_d; the scratch folder's Z: path names the build.
    std::string scratch = TEST_SCRATCH_DIR; // Z:\...\testrun
    if (winePath.size() < 3 || toupper(static_cast<unsigned char>(winePath[0])) != 'D' ||
        winePath[1] != ':' || scratch.size() < 3)
        return "";
    std::string build = scratch.substr(2);
    size_t cut = build.rfind('\\');
    if (cut == std::string::npos)
        return "";
    std::string path = build.substr(0, cut) + "\\drive_d" + winePath.substr(2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool RunLinuxCommand(const std::string& shellCommand, const std::string& doneFile,
                     DWORD timeoutMs) {
    // Wine splits the command line of a Linux program at blanks itself, so
    // the command goes in a script beside doneFile (on D:).
    std::string script = doneFile + ".sh";
    std::string scriptUnix = Utf8FromGbk(UnixPathOf(script));
    DeleteFileA(doneFile.c_str());
    if (scriptUnix.empty() || scriptUnix.find(' ') != std::string::npos ||
        !WriteBytes(script, shellCommand + "\n"))
        return false;
    std::string command = "/bin/sh " + scriptUnix;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    bool started = CreateProcessA("Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process) != 0;
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DWORD start = GetTickCount();
    bool done = false;
    while (started && !(done = GetFileAttributesA(doneFile.c_str()) != INVALID_FILE_ATTRIBUTES) &&
           GetTickCount() - start < timeoutMs)
        Sleep(20);
    Sleep(50); // the write that made the file may still be under way
    DeleteFileA(script.c_str());
    return done;
}

bool MakeUnixSymlink(const std::string& linkPath, const std::string& target) {
    std::string link = Utf8FromGbk(UnixPathOf(linkPath));
    std::string to = Utf8FromGbk(UnixPathOf(target));
    if (link.empty() || to.empty())
        return false;
    std::string done = linkPath + ".made";
    bool ran = RunLinuxCommand("ln -s \"" + to + "\" \"" + link + "\"; echo $? >\"" +
                                   Utf8FromGbk(UnixPathOf(done)) + "\"",
                               done, 10000);
    DeleteFileA(done.c_str());
    return ran && GetFileAttributesA(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveUnixSymlink(const std::string& linkPath) {
    std::string link = Utf8FromGbk(UnixPathOf(linkPath));
    std::string done = linkPath + ".removed";
    if (link.empty())
        return false;
    bool ran = RunLinuxCommand(
        "rm -f \"" + link + "\"; echo $? >\"" + Utf8FromGbk(UnixPathOf(done)) + "\"", done, 10000);
    DeleteFileA(done.c_str());
    return ran;
}
