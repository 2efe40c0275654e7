#pragma once
// Shared steps of the fault tests: a scratch tree with files that must come
// through untouched, the worker run in a child process, and the results
// file each case adds its line to.
#include "tests/support/test_support.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Every file below a folder, by path relative to it, with its bytes.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot SnapshotTree(const std::string& root);

// A case's own folder on D: holding an install folder ("inst\"), a work
// folder ("work\") and files that were there before the run: one beside the
// install folder, a user file inside it, and an existing package target with
// bytes of the user's own.
struct FaultScene {
    std::string Root, InstallDir, WorkDir;
    TreeSnapshot Before;
    explicit FaultScene(const std::string& name);
    // Empty when every earlier file is unchanged and everything new lies in
    // the install or work folder; otherwise what went wrong.
    std::string CheckNothingLost() const;
    // For a run that stopped at failedTarget (a full path; empty for a run
    // that completed): empty when every package target before it in the
    // index is complete, it and every later one are absent, and the install
    // folder holds nothing else that was not there before (no partial file
    // under any name); otherwise the first difference.
    std::string CheckTargetsUpTo(const TestPackage& package, const std::string& failedTarget) const;
};

// The existing target FaultScene plants, and the user bytes it holds.
extern const char kKeptTarget[]; // relative to the install folder
extern const char kKeptTargetBytes[];

// Files of a package without programs (no set-up runs, no services):
// count files of size bytes in each of the three groups, plus kKeptTarget's
// package version.
TestPackage PlainPackage(int count, size_t size);

// Where a package file lands below the install folder (the harness's folders).
std::string InstalledPath(const TestFile& file);
// Empty when no partial file is left and every package file present below
// installDir (other than kKeptTarget) is complete.
std::string CheckNoTornFiles(const TestPackage& package, const std::string& installDir);

struct WorkerOutcome {
    int ProcessExit = -1; // -2: killed after the time-out
    unsigned long WorkerExit = 0;
    unsigned Failed = 0;
    std::string ErrorText;
    std::vector<std::pair<std::string, std::string>> Boxes; // caption, text
};
// Runs tools\fault-worker on exe in a child process.
WorkerOutcome RunFaultWorker(const std::string& exe, const std::string& installDir,
                             const std::string& workDir, DWORD timeoutMs = 60000,
                             const std::vector<std::string>& environment = {});
std::string FaultWorkerCommand(const std::string& exe, const std::string& installDir,
                               const std::string& workDir);

// One line of the reliability table: a case, its runs and how many of them
// ended without crash or hang, showed a clear message, and lost nothing.
struct CaseResult {
    std::string Name;
    int Runs = 0, Survived = 0, MessageShown = 0, NothingLost = 0;
    std::string Note;
};
void RecordCase(const CaseResult& result);
// The results recorded so far, as a markdown table.
std::string ResultsTable();

// A Linux path for a Wine path on the test drive, or "" when unknown.
std::string UnixPathOf(const std::string& winePath);

// Runs a Linux program from inside Wine (Wine starts a program that is not a
// Windows one as a Linux process) and waits until done names a file it
// writes, at most timeoutMs. Its exit code cannot be read back through Wine:
// a command that matters writes it into that file.
bool RunLinuxCommand(const std::string& shellCommand, const std::string& doneFile, DWORD timeoutMs);
// A Linux symbolic link at linkPath (a path on D:) to target (a path on D:).
// Wine follows it like a folder or a file, and the system's final path of
// anything reached through it names where it really leads. CreateSymbolicLink
// makes nothing under Wine 8, so this is how a test makes a real link.
bool MakeUnixSymlink(const std::string& linkPath, const std::string& target);
// Removes such a link (Wine's own calls would reach through it).
bool RemoveUnixSymlink(const std::string& linkPath);
