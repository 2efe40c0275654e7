#pragma once
// Helpers shared by the test programs: scratch folders, files, packages
// built into real setup programs, and child processes.
#include "package/package_writer.h"

#include <windows.h>

#include <string>
#include <vector>

// A fresh, empty folder for one test: <base>\<name>\ (with trailing backslash).
// The default base is the test drive D:, a folder of the build tree.
std::string MakeScratchDir(const std::string& name, const std::string& base = TEST_INSTALL_DRIVE);
void RemoveTree(const std::string& path);

bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string* bytes);
bool PathExists(const std::string& path);
// Names directly inside a folder (given with a trailing backslash), without "." and "..".
std::vector<std::string> FolderEntries(const std::string& dir);

// One file of a test package.
struct TestFile {
    PackageGroup Group;
    std::string RelativePath; // GBK
    std::string Bytes;
    PackageFileTimes Times;
};

// Distinct, recognisable times for a test file.
PackageFileTimes MakeTimes(uint32_t seed);

struct TestPackage {
    PackageSettings Settings;
    std::vector<TestFile> Files;
    std::string Config; // INI text as stored (GBK); empty leaves the resource out
    bool IncludeConfig = true;
    bool IncludeIndex = true;
    bool IncludePayload = true;
    // The digest of the resources as written; false makes a package like
    // those made before digests, which start-up does not check.
    bool IncludeDigest = true;
    // The header checksum over the whole file; false leaves it 0 ("not
    // set"), as in a program whose template had none, which start-up skips.
    bool SetChecksum = true;
};

// The shipped configuration's values, in GBK with CR LF line ends.
std::string SampleConfigText();

// The sample's program names and configuration, and no files yet.
TestPackage EmptySamplePackage();
// Appends a file whose times follow its position in the package.
void AddTestFile(TestPackage* package, PackageGroup group, const char* path, std::string bytes);

// A small package with all three groups, subfolders and an empty file.
TestPackage SmallSamplePackage();

// Builds index and payload with PackageBuilder (throws on error via gtest).
void BuildBlobs(const TestPackage& package, std::vector<uint8_t>* index,
                std::vector<uint8_t>* payload);

// Writes a setup program built from bin\setup.exe with the package's resources.
// indexOverride / payloadOverride replace the built blobs when not null (the
// digest then describes the overrides).
bool WriteTestSetup(const TestPackage& package, const std::string& outputExe,
                    const std::vector<uint8_t>* indexOverride = nullptr,
                    const std::vector<uint8_t>* payloadOverride = nullptr);

// The digest resource WriteTestSetup gives a package (with the same overrides).
std::vector<uint8_t> TestPackageDigest(const TestPackage& package,
                                       const std::vector<uint8_t>* indexOverride = nullptr,
                                       const std::vector<uint8_t>* payloadOverride = nullptr);

// Flips one byte (xor 0x5A) of a resource inside a built program file, the
// damage a download can do; the resource is found by its bytes. False when
// they do not occur exactly once in the file.
bool FlipResourceByte(const std::string& exe, const std::vector<uint8_t>& resource, size_t offset);

// Flips one byte (xor 0x5A) at a file offset.
bool FlipFileByte(const std::string& exe, uint64_t offset);

// File offsets in a built program where whole-file damage goes: the middle
// of its code section, the directory entry that names the digest resource's
// id (BIN 122), and the header checksum field.
struct ProgramPlaces {
    uint64_t CodeMiddle = 0;
    uint64_t DigestIdEntry = 0;
    uint32_t CheckSumOffset = 0;
};
bool FindProgramPlaces(const std::string& exe, ProgramPlaces* places);

// A copy of one resource of a built program (a dialog template, the
// uninstaller); empty when it has none.
std::vector<uint8_t> ProgramResource(const std::string& exe, const char* type, int id);

// Runs a command line and waits up to timeoutMs for it and every process it
// started; returns its exit code, or -1 when it could not start, -2 on
// time-out (all of them are then killed).
// extraEnvironment entries ("NAME=value") are added to the inherited ones.
int RunProcess(const std::string& commandLine, DWORD timeoutMs = 60000,
               const std::vector<std::string>& extraEnvironment = {},
               const std::string& workingDir = "");

// Path of a built program in the bin folder.
std::string BinPath(const std::string& name);
