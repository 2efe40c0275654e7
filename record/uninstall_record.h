#pragma once
// The record an installation leaves beside its uninstaller: what it made, so
// the uninstaller removes exactly that and nothing else. Platform-neutral, so
// the parser and its path rules are tested natively as well.
//
// Format, version 1: GBK text, one item per line, lines end in CR LF (a bare
// LF is accepted). The first line is the magic and the version; every other
// line is a tag, one blank and the tag's fields:
//   MDPX-UNINSTALL 1
//   N <product name>                     AppName
//   V <product version>                  AppVersion
//   K <key name>                         under ...\CurrentVersion\Uninstall
//   S <service name>                     a database service it registered
//   L <place> <link file name>           place: S Start-menu folder, D desktop,
//                                        Q Quick Launch
//   B <folder>                           a dated backup folder
//   D <folder>                           a folder that holds installed files
//   F <size> <write time> <file>         size in decimal bytes, last write time
//                                        as 16 hex digits (a FILETIME)
// Folders and files are relative to the install folder (where the record
// lies); they never hold "..", a drive, a leading backslash or a colon. An
// item that breaks a rule is not taken but listed in Refused, so the
// uninstaller names it and leaves it alone. A record that cannot be read at
// all (no magic, another version, an unknown tag, a malformed line, too
// large) is refused whole.
#include <cstdint>
#include <string>
#include <vector>

constexpr int kUninstallRecordVersion = 1;
constexpr size_t kUninstallRecordMaxBytes = 64u << 20;

enum class LinkPlace : char { StartMenu = 'S', Desktop = 'D', QuickLaunch = 'Q' };

struct RecordedFile {
    std::string Path; // relative to the install folder
    uint64_t Size = 0;
    uint64_t WriteTime = 0; // FILETIME as one 64-bit number
};

struct RecordedLink {
    LinkPlace Place = LinkPlace::StartMenu;
    std::string Name; // file name only, ends in ".lnk"
};

struct UninstallRecord {
    std::string Product;
    std::string Version;
    std::string KeyName;
    std::vector<std::string> Services;
    std::vector<RecordedLink> Links;
    std::vector<std::string> BackupFolders;
    std::vector<std::string> Folders;
    std::vector<RecordedFile> Files;
    std::vector<std::string> Refused; // lines whose item broke a rule, as written
};

// Text of a record, ready to be written.
std::string FormatUninstallRecord(const UninstallRecord& record);

enum class RecordError { kOk, kEmpty, kTooLarge, kNotARecord, kOtherVersion, kMalformed };

// Reads a record; on an error *record is left empty and *badLine (when given)
// names the first line that could not be read (1-based, 0 for the whole text).
RecordError ParseUninstallRecord(const char* text, size_t size, UninstallRecord* record,
                                 size_t* badLine = nullptr);

// A path relative to the install folder that cannot leave it: no "..", "."
// or empty component, no drive, colon, forward slash, leading backslash,
// wildcard or control byte, at most 259 bytes. Trail bytes of GBK characters
// are not mistaken for separators.
bool IsContainedRelativePath(const std::string& path);
// A plain file name ending in ".lnk" (no separator, colon or wildcard).
bool IsSafeLinkName(const std::string& name);
// A key name under ...\Uninstall: non-empty, no backslash, at most 200 bytes.
bool IsSafeKeyName(const std::string& name);
// Only the services an installation of this product registers.
bool IsKnownServiceName(const std::string& name);

// The stable key of a product: the same for every version, so installing
// again replaces the Programs and Features entry.
std::string UninstallKeyForProduct(const std::string& productName);
