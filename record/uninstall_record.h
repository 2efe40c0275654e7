#pragma once
// The record an installation leaves beside its uninstaller: what it made, so
// the uninstaller removes exactly that and nothing else. Platform-neutral, so
// the parser and its path rules are tested natively as well.
//
// Format, version 2: UTF-8 text (names stay right whatever the system's code
// page), one item per line, lines end in CR LF (a bare LF is accepted). The
// first line is the magic and the version; every other line is a tag, one
// blank and the tag's fields:
//   MDPX-UNINSTALL 2
//   N <product name>                     AppName, may be empty
//   V <product version>                  AppVersion, may be empty
//   K <key name>                         under ...\CurrentVersion\Uninstall
//   S <service name>                     a database service it registered
//   L <place> <link file name>           place: S Start-menu folder, D desktop,
//                                        Q Quick Launch
//   B <folder>                           a dated backup folder
//   D <folder>                           a folder that holds installed files
//   F <size> <crc> <file>                size in decimal bytes, the CRC-32 of
//                                        the content as 8 hex digits, taken
//                                        while the file was unpacked
// Version 1 (still read) is GBK text whose F lines hold a last write time as
// 16 hex digits (a FILETIME) where version 2 holds the CRC-32.
// Folders and files are relative to the install folder (where the record
// lies); they never hold "..", a drive, a leading backslash or a colon. An
// item that breaks a rule is not taken but listed in Refused, so the
// uninstaller names it and leaves it alone. A record that cannot be read at
// all (no magic, another version, an unknown tag, a malformed line, text
// that is not UTF-8 in version 2, too large) is refused whole.
#include <cstdint>
#include <string>
#include <vector>

constexpr int kUninstallRecordVersion = 2;
// Code pages of the record's text, by format version.
constexpr unsigned kRecordCodePageUtf8 = 65001;
constexpr unsigned kRecordCodePageGbk = 936;
constexpr size_t kUninstallRecordMaxBytes = 64u << 20;

enum class LinkPlace : char { StartMenu = 'S', Desktop = 'D', QuickLaunch = 'Q' };

struct RecordedFile {
    std::string Path; // relative to the install folder
    uint64_t Size = 0;
    uint64_t WriteTime = 0; // version 1: FILETIME as one 64-bit number
    uint32_t Crc = 0;       // version 2: CRC-32 of the content
};

struct RecordedLink {
    LinkPlace Place = LinkPlace::StartMenu;
    std::string Name; // file name only, ends in ".lnk"
};

struct UninstallRecord {
    int FormatVersion = kUninstallRecordVersion; // of the text it was read from
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

// The code page the record's texts are in: UTF-8 from version 2, GBK before.
inline unsigned RecordCodePage(const UninstallRecord& record) {
    return record.FormatVersion >= 2 ? kRecordCodePageUtf8 : kRecordCodePageGbk;
}

// Text of a record in the current version (texts in UTF-8), ready to be written.
std::string FormatUninstallRecord(const UninstallRecord& record);

enum class RecordError { kOk, kEmpty, kTooLarge, kNotARecord, kOtherVersion, kMalformed };

// Reads a record; on an error *record is left empty and *badLine (when given)
// names the first line that could not be read (1-based, 0 for the whole text).
RecordError ParseUninstallRecord(const char* text, size_t size, UninstallRecord* record,
                                 size_t* badLine = nullptr);

// A path relative to the install folder that cannot leave it: no "..", "."
// or empty component, no drive, colon, forward slash, leading backslash,
// wildcard or control byte, at most 259 characters. In GBK (code page 936)
// trail bytes are not mistaken for separators; in UTF-8 the text must be
// well formed.
bool IsContainedRelativePath(const std::string& path, unsigned codePage = kRecordCodePageGbk);
// A plain file name ending in ".lnk" (no separator, colon or wildcard).
bool IsSafeLinkName(const std::string& name, unsigned codePage = kRecordCodePageGbk);
// A key name under ...\Uninstall: non-empty, no backslash, at most 200 bytes.
bool IsSafeKeyName(const std::string& name, unsigned codePage = kRecordCodePageGbk);
// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsWellFormedUtf8(const std::string& text);
// Only the services an installation of this product registers.
bool IsKnownServiceName(const std::string& name);

// The stable key of a product: the same for every version, so installing
// again replaces the Programs and Features entry.
std::string UninstallKeyForProduct(const std::string& productName);
