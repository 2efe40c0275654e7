// The owner rule and the descriptor judge under Wine, on the same cases as
// the native tests, and the descriptor as the system builds it.
#include "native/tests/folder_trust_cases.h"
#include "install/folder_protection.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sddl.h>

namespace {

TEST(FolderTrustUnderWine, ProgramOwners) {
    for (const OwnerCase& c : kOwnerCases) {
        EXPECT_EQ(IsTrustedProgramOwner(c.Owner, c.Installer), c.Trusted)
            << (c.Owner ? c.Owner : "(null)") << " installing "
            << (c.Installer ? c.Installer : "(null)");
    }
}

TEST(FolderTrustUnderWine, Descriptors) {
    for (const DescriptorCase& c : DescriptorCases()) {
        int entry = 99;
        EXPECT_EQ(JudgeFolderDescriptor(c.Sddl.c_str(), &entry), c.Fault) << c.Sddl;
        EXPECT_EQ(entry, c.Entry) << c.Sddl;
    }
}

// The access list the system builds from the text, written back as the
// system writes it (hex masks, other letters), passes the same judge.
TEST(FolderTrustUnderWine, TheSystemBuildsTheProtectedDescriptorAsWritten) {
    PSECURITY_DESCRIPTOR built = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        kProtectedFolderSddl, SDDL_REVISION_1, &built, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(built, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(built, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr);
    EXPECT_EQ(dacl->AceCount, 3);
    char* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        built, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr));
    int entry = 0;
    EXPECT_EQ(JudgeFolderDescriptor(text, &entry), DescriptorFault::kNone) << text;
    LocalFree(text);
    LocalFree(built);
}

// Wine reports the current user as every file's owner: the account that runs
// the installer, so programs already in place run under Wine as before.
TEST(FolderTrustUnderWine, SystemCallsReportTheInstallingAccountAsOwnerHere) {
    const FolderSecurityCalls& calls = SystemFolderSecurityCalls();
    char account[184] = {}, owner[184] = {}, canonical[184];
    ASSERT_EQ(calls.ReadInstallingAccount(account, sizeof account), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(CanonicalSid(account, canonical, sizeof canonical)) << account;
    std::string dir = MakeScratchDir("folder_trust_owner");
    ASSERT_TRUE(WriteBytes(dir + "program.exe", "MZ"));
    ASSERT_EQ(calls.ReadOwner((dir + "program.exe").c_str(), owner, sizeof owner),
              DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(IsTrustedProgramOwner(owner, account)) << owner << " / " << account;
    EXPECT_NE(calls.ReadOwner((dir + "missing.exe").c_str(), owner, sizeof owner),
              DWORD(ERROR_SUCCESS));
    char small[8];
    EXPECT_EQ(calls.ReadInstallingAccount(small, sizeof small), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

// The real call makes a missing folder with the descriptor, and never makes a
// drive's root over into a program folder.
TEST(FolderTrustUnderWine, SystemProtectionMakesTheFolderAndRefusesADriveRoot) {
    const FolderSecurityCalls& calls = SystemFolderSecurityCalls();
    EXPECT_TRUE(calls.VolumeKeepsPermissions(TEST_INSTALL_DRIVE));
    std::string dir = MakeScratchDir("folder_trust_protect") + "made\\inner\\";
    EXPECT_EQ(calls.ProtectFolder(dir.c_str(), kProtectedFolderSddl), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(PathExists(dir));
    WriteBytes(dir + "kept.txt", "kept\r\n");
    EXPECT_EQ(calls.ProtectFolder(dir.c_str(), kProtectedFolderSddl), DWORD(ERROR_SUCCESS))
        << "found, with a file below";
    std::string bytes;
    EXPECT_TRUE(ReadBytes(dir + "kept.txt", &bytes));
    for (const char* root : {"D:\\", "D:", "C:\\", "D:\\\\", ""})
        EXPECT_EQ(calls.ProtectFolder(root, kProtectedFolderSddl), DWORD(ERROR_BAD_PATHNAME))
            << root;
}

} // namespace
