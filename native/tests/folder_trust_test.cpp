#include "native/tests/folder_trust_cases.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FolderTrust, ProgramOwners) {
    for (const OwnerCase& c : kOwnerCases) {
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
    for (const DescriptorCase& c : DescriptorCases()) {
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
