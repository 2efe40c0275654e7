#pragma once
// The cases the owner rule and the descriptor judge are held to, shared by
// the native tests and the same tests under Wine.
#include "install/folder_trust.h"

#include <string>
#include <vector>

inline const char kInstallingUser[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
inline const char kUsersMember[] = "S-1-5-21-1004336348-1177238915-682003330-1002";
inline const char kUsers[] = "S-1-5-32-545";
inline const char kEveryone[] = "S-1-1-0";
inline const char kAuthenticatedUsers[] = "S-1-5-11";

struct OwnerCase {
    const char* Owner;
    const char* Installer;
    bool Trusted;
};
inline const OwnerCase kOwnerCases[] = {
    {"S-1-5-32-544", kInstallingUser, true}, // Administrators
    {"BA", kInstallingUser, true},
    {"S-1-5-18", kInstallingUser, true}, // SYSTEM
    {"SY", kInstallingUser, true},
    {kTrustedInstallerSid, kInstallingUser, true},
    {kInstallingUser, kInstallingUser, true},
    {"s-1-5-21-1004336348-1177238915-682003330-1001", kInstallingUser, true},
    {kUsersMember, kInstallingUser, false},
    {kUsers, kInstallingUser, false},
    {"BU", kInstallingUser, false},
    {kEveryone, kInstallingUser, false},
    {kAuthenticatedUsers, kInstallingUser, false},
    {"S-1-3-0", kInstallingUser, false}, // CREATOR OWNER
    // The installing account must match whole, not by prefix.
    {"S-1-5-21-1004336348-1177238915-682003330-10011", kInstallingUser, false},
    {"S-1-5-21-1004336348-1177238915-682003330", kInstallingUser, false},
    // Nothing known about the installer: only the administration accounts.
    {kInstallingUser, "", false},
    {kInstallingUser, nullptr, false},
    {"S-1-5-32-544", nullptr, true},
    // Missing and malformed owners are never trusted, even when the
    // installer's SID is just as broken.
    {"", "", false},
    {nullptr, nullptr, false},
    {"S-1-5-32-544 ", kInstallingUser, false},
    {"S-1-5-32-", "S-1-5-32-", false},
    {"S-1-5", "S-1-5", false},
    {"S-2-5-32-544", kInstallingUser, false},
    {"S-1-5-99999999999-1", "S-1-5-99999999999-1", false},
    {"XX", "XX", false},
    {"Administrators", kInstallingUser, false},
};

// The protected descriptor with entry appended to its access list.
inline std::string With(const std::string& entry) {
    return std::string(kProtectedFolderSddl) + entry;
}

struct DescriptorCase {
    std::string Sddl;
    DescriptorFault Fault;
    int Entry; // the offending entry for kOthersMayChange, else -1
};
inline std::vector<DescriptorCase> DescriptorCases() {
    return {
        // Explicit entries of the trusted accounts add nothing wrong.
        {With("(A;OICI;FA;;;" + std::string(kTrustedInstallerSid) + ")"), DescriptorFault::kNone,
         -1},
        {With("(A;OICIID;FA;;;SY)"), DescriptorFault::kNone, -1},
        // Read and execute for anyone is fine, inherited or not.
        {With("(A;OICI;0x1200a9;;;WD)"), DescriptorFault::kNone, -1},
        {With("(A;OICIID;FR;;;AU)"), DescriptorFault::kNone, -1},
        // A deny entry only takes rights away.
        {With("(D;OICI;FA;;;BU)"), DescriptorFault::kNone, -1},
        // Change rights for anyone else, explicit or inherited, on the folder
        // or only below it.
        {With("(A;OICI;FA;;;" + std::string(kInstallingUser) + ")"),
         DescriptorFault::kOthersMayChange, 3},
        {With("(A;OICI;0x1301bf;;;" + std::string(kUsersMember) + ")"),
         DescriptorFault::kOthersMayChange, 3},
        {With("(A;OICI;0x1301bf;;;AU)"), DescriptorFault::kOthersMayChange, 3},
        {With("(A;OICIID;0x1301bf;;;AU)"), DescriptorFault::kOthersMayChange, 3},
        {With("(A;CIIO;DC;;;BU)"), DescriptorFault::kOthersMayChange, 3},
        {With("(A;;0x4;;;BU)"), DescriptorFault::kOthersMayChange, 3},    // append
        {With("(A;OICI;SD;;;WD)"), DescriptorFault::kOthersMayChange, 3}, // delete
        {With("(A;OICI;WD;;;WD)"), DescriptorFault::kOthersMayChange, 3}, // permissions
        {With("(A;OICI;WO;;;AU)"), DescriptorFault::kOthersMayChange, 3}, // owner
        {With("(A;OICI;GW;;;BU)"), DescriptorFault::kOthersMayChange, 3},
        {With("(A;OICIIO;GA;;;CO)"), DescriptorFault::kOthersMayChange, 3},  // creator owner
        {With("(OA;OICI;WP;;;WD)"), DescriptorFault::kNone, -1},             // 0x20: execute
        {With("(OA;OICI;0x40;;;WD)"), DescriptorFault::kOthersMayChange, 3}, // delete child
        // Not protected: whatever the folder above grants flows in.
        {"O:BAD:AI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", DescriptorFault::kInheritsFromAbove, -1},
        // Owned by someone else: the owner may always change the permissions.
        {"O:BUD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", DescriptorFault::kOwnerNotAdministrators, -1},
        {"O:" + std::string(kInstallingUser) + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         DescriptorFault::kOwnerNotAdministrators, -1},
        {"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", DescriptorFault::kOwnerNotAdministrators, -1},
        {"O:S-1-5-32-544G:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", DescriptorFault::kNone, -1},
        // Administrators must keep control of everything below.
        {"O:BAD:PAI(A;OICI;FA;;;SY)(A;CI;FA;;;BA)", DescriptorFault::kAdministratorsLackControl,
         -1},
        {"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICIIO;FA;;;BA)", DescriptorFault::kAdministratorsLackControl,
         -1},
        {"O:BAD:PAI(A;OICI;FR;;;SY)(A;OICI;GA;;;BA)", DescriptorFault::kAdministratorsLackControl,
         -1},
        {"O:BAD:PAI(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)", DescriptorFault::kNone, -1},
        // Unreadable texts are refused, never waved through.
        {"", DescriptorFault::kMalformed, -1},
        {"O:BA", DescriptorFault::kMalformed, -1},
        {"O:BAD:NO_ACCESS_CONTROL", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(A;OICI;FA;;;SY", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(A;OICI;FA;;;QQ)", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(A;OICI;ZZ;;;SY)", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(A;OIXX;FA;;;SY)", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(Q;OICI;FA;;;SY)", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(A;OICI;0x1ffffffff;;;SY)", DescriptorFault::kMalformed, -1},
        {"O:BAD:P(A;OICI;FA;;;SY)junk", DescriptorFault::kMalformed, -1},
    };
}
