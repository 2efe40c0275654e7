#include "postinstall/folder_trust.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kInstallingUser[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char kUsersMember[] = "S-1-5-21-1004336348-1177238915-682003330-1002";
const char kUsers[] = "S-1-5-32-545";
const char kEveryone[] = "S-1-1-0";
const char kAuthenticatedUsers[] = "S-1-5-11";

TEST(FolderTrust, ProgramOwners) {
    const struct {
        const char* Owner;
        const char* Installer;
        bool Trusted;
    } cases[] = {
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
    for (const auto& c : cases) {
        EXPECT_EQ(IsTrustedProgramOwner(c.Owner, c.Installer), c.Trusted)
            << (c.Owner ? c.Owner : "(null)") << " installing "
            << (c.Installer ? c.Installer : "(null)");
    }
}

TEST(FolderTrust, CanonicalSidResolvesAliasesAndRefusesWhatDoesNotFit) {
    char out[184];
    EXPECT_TRUE(CanonicalSid("BA", out, sizeof out));
    EXPECT_STREQ(out, "S-1-5-32-544");
    EXPECT_TRUE(CanonicalSid("s-1-5-018", out, sizeof out));
    EXPECT_STREQ(out, "S-1-5-18");
    char small[8];
    EXPECT_FALSE(CanonicalSid("S-1-5-32-544", small, sizeof small));
    EXPECT_STREQ(small, "");
    std::string sixteen = "S-1-5";
    for (int i = 0; i < 16; ++i)
        sixteen += "-1";
    EXPECT_FALSE(CanonicalSid(sixteen.c_str(), out, sizeof out)) << "at most 15 sub-authorities";
}

// The protected descriptor with entry appended to its access list.
std::string With(const std::string& entry) {
    return std::string(kProtectedFolderSddl) + entry;
}

TEST(FolderTrust, TheProtectedDescriptorPassesItsOwnJudge) {
    int entry = 0;
    EXPECT_EQ(JudgeFolderDescriptor(kProtectedFolderSddl, &entry), DescriptorFault::kNone);
    EXPECT_EQ(entry, -1);
    AccessEntry entries[8];
    size_t count = 0;
    bool isProtected = false;
    ASSERT_TRUE(ParseAccessList(kProtectedFolderSddl, entries, 8, &count, &isProtected));
    EXPECT_TRUE(isProtected);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(entries[2].Sid, kUsers);
    EXPECT_EQ(entries[2].Mask, 0x1200A9u) << "Users: read and execute";
    EXPECT_EQ(entries[2].Mask & kChangeRights, 0u);
}

TEST(FolderTrust, DescriptorsThatLetOthersChangeTheFolder) {
    const struct {
        std::string Sddl;
        DescriptorFault Fault;
        int Entry;
    } cases[] = {
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
    for (const auto& c : cases) {
        int entry = 99;
        EXPECT_EQ(JudgeFolderDescriptor(c.Sddl.c_str(), &entry), c.Fault) << c.Sddl;
        EXPECT_EQ(entry, c.Entry) << c.Sddl;
    }
    EXPECT_EQ(JudgeFolderDescriptor(nullptr, nullptr), DescriptorFault::kMalformed);
}

TEST(FolderTrust, AnAccessListLongerThanTheJudgeReadsIsRefused) {
    std::string sddl = kProtectedFolderSddl;
    for (int i = 0; i < 40; ++i)
        sddl += "(A;OICI;FR;;;WD)";
    EXPECT_EQ(JudgeFolderDescriptor(sddl.c_str(), nullptr), DescriptorFault::kMalformed);
}

TEST(FolderTrust, EveryCutOfTheProtectedDescriptorIsJudgedWithoutReadingPastIt) {
    std::string full = kProtectedFolderSddl;
    for (size_t n = 1; n < full.size(); ++n) {
        std::string cut = full.substr(0, n); // a fresh allocation: ASan sees any overread
        DescriptorFault fault = JudgeFolderDescriptor(cut.c_str(), nullptr);
        if (cut.back() != ')')
            EXPECT_NE(fault, DescriptorFault::kNone) << cut;
    }
}

} // namespace
