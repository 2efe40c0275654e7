// Whole installations of programs start-up treats apart: a package made
// before digests (no digest resource: nothing is checked, as before) and the
// sample setup program signed after it was built (the certificate table
// after the sections must disturb nothing).
#include "tests/e2e/e2e_support.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

const char kSuccessText[] = "澜枢软件已安装完成。\r\n\r\n单击 [完成(F)] 关闭此向导。";

// Made by the signing fixture (signing_fixture.sh) from bin\sample-setup.exe.
const std::string kSignedSample = std::string(TEST_SCRATCH_DIR) + "\\signing\\signed-sample.exe";

// True when the program's security directory names a certificate table.
bool HasCertificateTable(const std::string& exe) {
    std::string bytes;
    if (!ReadBytes(exe, &bytes) || bytes.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    size_t at = static_cast<size_t>(dos->e_lfanew);
    if (at + sizeof(IMAGE_NT_HEADERS) > bytes.size())
        return false;
    // The headers of the build's own architecture (the twin's are PE32+).
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + at);
    return nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

class IntegrityInstallTest : public ::testing::Test {
  protected:
    void SetUp() override { CleanInstallation(); }
    void TearDown() override { CleanInstallation(); }

    // Welcome to Finish with both sides, then the installed tree.
    void InstallThroughTheWizard(const std::string& exe, const std::string& work) {
        ASSERT_TRUE(StartWizard(&driver_, exe, work));
        ASSERT_TRUE(GoToLocation(&driver_, IDYES));
        ASSERT_TRUE(PressNext(&driver_, 2));
        ASSERT_TRUE(PressNext(&driver_, 3));
        driver_.ClickFrameButton(IDOK);
        std::vector<std::string> reports;
        ASSERT_TRUE(WaitForFinish(&driver_, 120000, &reports));
        EXPECT_EQ(driver_.PageText(IDC_FINISH_TEXT), kSuccessText);
        for (const std::string& report : reports)
            ADD_FAILURE() << "message box: " << report;
        std::string dir = kInstallDir;
        EXPECT_TRUE(PathExists(dir + "VTRServer\\VTRServer.exe"));
        EXPECT_TRUE(PathExists(dir + "VTRClient\\VTRClient.exe"));
        EXPECT_TRUE(PathExists(dir + "VTRServer\\Mysql\\bin\\mysqld.exe"));
        EXPECT_TRUE(PathExists(dir + "VTRServer\\setup-runs.log"));
        EXPECT_TRUE(ServiceExists("VTR NetWork Mysql"));
        driver_.ClickFrameButton(IDCANCEL);
        EXPECT_EQ(driver_.WaitForExit(5000), 0);
    }

    WizardDriver driver_;
};

TEST_F(IntegrityInstallTest, PackageWithoutDigestInstallsAsBefore) {
    TestPackage package = RunnablePackage();
    package.IncludeDigest = false;
    std::string exe, work;
    ASSERT_TRUE(PrepareSetup(package, "no-digest", &exe, &work));
    InstallThroughTheWizard(exe, work);
}

TEST_F(IntegrityInstallTest, SignedSampleProgramInstallsThroughTheWizard) {
    if (!PathExists(kSignedSample))
        GTEST_SKIP() << "no signed program: the signing fixture needs openssl and osslsigncode";
    ASSERT_TRUE(HasCertificateTable(kSignedSample));
    std::string base = std::string(TEST_SCRATCH_DIR) + "\\e2e";
    CreateDirectoryA(base.c_str(), nullptr);
    std::string work = MakeScratchDir("work-signed", base);
    InstallThroughTheWizard(kSignedSample, work);
}

} // namespace
