#pragma once
// Who may change the install folder and whose programs the installer starts,
// decided over plain data: security descriptors as SDDL text and accounts as
// SID strings. No Win32 call here; the calls live in folder_protection.
#include <cstddef>
#include <cstdint>

// What the install folder gets before the first file is unpacked, like the
// system's own program folder: owner Administrators; entries from above not
// inherited (P); SYSTEM and Administrators full control, Users read and
// execute, each inherited by every folder and file below (OICI).
extern const char kProtectedFolderSddl[];

extern const char kSystemSid[];           // S-1-5-18
extern const char kAdministratorsSid[];   // S-1-5-32-544
extern const char kTrustedInstallerSid[]; // NT SERVICE\TrustedInstaller

// Writes the SID text in its canonical form ("S-1-..."; an SDDL alias such
// as "BA" or "SY" becomes its number). False for anything else, for a
// missing or malformed SID, and when it does not fit.
bool CanonicalSid(const char* text, char* out, size_t size);

// The rule for a program that was already in place before this run: the
// installer starts it only when its owner is Administrators, SYSTEM,
// TrustedInstaller or the account running the installer. A missing or
// malformed owner is never trusted.
bool IsTrustedProgramOwner(const char* ownerSid, const char* installingAccountSid);

// Rights that let an account change a file or folder: write, append, write
// attributes or extended attributes, delete it or a child, change its
// permissions or owner (also through GENERIC_WRITE / GENERIC_ALL).
constexpr uint32_t kChangeRights = 0x00000002 | 0x00000004 | 0x00000010 | 0x00000040 | 0x00000100 |
                                   0x00010000 | 0x00040000 | 0x00080000 | 0x40000000 | 0x10000000;

// One entry of an access list, as SDDL writes it.
struct AccessEntry {
    bool Allow;       // A (or an object allow); anything else only takes rights away
    bool Inherited;   // ID: came from the folder above
    bool InheritOnly; // IO: applies to what lies below, not to this object
    bool ToFiles;     // OI
    bool ToFolders;   // CI
    uint32_t Mask;    // rights, letters resolved
    char Sid[184];    // canonical
};

// How a folder's descriptor falls short of the protected one.
enum class DescriptorFault {
    kNone,
    kMalformed,                 // not readable as SDDL (or more entries than we look at)
    kOwnerNotAdministrators,    // O: missing or another account
    kInheritsFromAbove,         // D: without P: entries above would flow in
    kOthersMayChange,           // an allow entry gives change rights to another account
    kAdministratorsLackControl, // SYSTEM or Administrators without inherited full control
};

// Judges a descriptor's owner and access list. *entry (optional) receives the
// index of the offending entry for kOthersMayChange, else -1.
DescriptorFault JudgeFolderDescriptor(const char* sddl, int* entry);

// Reads the access entries of "D:flags(entry)(entry)..." inside an SDDL
// text. False when malformed or when more than capacity entries.
bool ParseAccessList(const char* sddl, AccessEntry* entries, size_t capacity, size_t* count,
                     bool* isProtected);
