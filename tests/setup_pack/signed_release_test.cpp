// A release signed with a key on a hardware token (the SoftHSM2 token of
// tests/e2e/token_signing_fixture.sh) through ./build.sh pack sign: setup.exe
// and the uninstaller it installs both carry a signature that covers them,
// made with the token's certificate, and the signed program still starts.
#include "tests/setup_pack/pack_test_util.h"

#include "install/setup_context.h"
#include "package/package_resources.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"
#include "tests/support/worker_harness.h"
#include "tools/setup_pack/authenticode.h"
#include "tools/setup_pack/text_convert.h"
#include "record/uninstall_names.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const std::string kFixture = std::string(TEST_SCRATCH_DIR) + "\\token-signing\\";
const char kTokenSigner[] = "CN=Setup token signer";

// The signature covers the file and was made with the token's certificate.
void ExpectSignedByToken(const std::string& exe) {
    ProgramFileReport report;
    std::string error;
    ASSERT_TRUE(ExamineProgramFile(Utf8ToWide(exe), &report, &error)) << error;
    EXPECT_TRUE(report.Signed) << exe;
    EXPECT_EQ(report.Problem, "") << exe;
    EXPECT_EQ(report.Subject, kTokenSigner) << exe;
    EXPECT_EQ(report.Description, "Setup token test") << exe;
    EXPECT_NE(report.StoredCheckSum, 0u) << exe;
    EXPECT_TRUE(report.ChecksumMatches) << exe;
}

TEST(SignedRelease, SetupAndTheUninstallerItInstallsAreSignedByTheTokenCertificate) {
    const std::string setup = kFixture + "signed-setup.exe";
    if (!PathExists(setup))
        GTEST_SKIP() << "no token-signed program: the fixture needs SoftHSM2, the OpenSSL "
                        "PKCS#11 engine and osslsigncode";
    ExpectSignedByToken(setup);
    PackRun verify = RunPack({"verify", setup});
    EXPECT_EQ(verify.ExitCode, 0) << verify.Out;

    // Installed as the Installing page installs it, with an uninstaller.
    std::string installDir = MakeScratchDir("signed_release_install");
    std::string work = MakeScratchDir("signed_release_work");
    {
        WorkerHarness harness;
        ASSERT_TRUE(harness.PrepareFromExe(setup, installDir, work));
        SetupContext& context = g_SetupContext;
        context.ProgramMg = 1;
        context.Header.ServerRunFlag = 0;
        context.Header.ClientRunFlag = 0;
        strcpy(context.AppName, "签名发布测试");
        strcpy(context.AppVersion, "1");
        ASSERT_TRUE(harness.Run());
        EXPECT_EQ(context.Failed, 0u);
        SetPackageModule(nullptr);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                  (std::string(kUninstallKeyParent) + "\\MDPX 签名发布测试").c_str());
    std::string installed = installDir + kUninstallerFileName;
    ASSERT_TRUE(PathExists(installed));
    ExpectSignedByToken(installed);
    // Byte for byte the uninstaller the fixture checked with osslsigncode verify.
    std::string installedBytes, checkedBytes;
    ASSERT_TRUE(ReadBytes(installed, &installedBytes));
    ASSERT_TRUE(ReadBytes(kFixture + "carried-uninstaller.exe", &checkedBytes));
    EXPECT_TRUE(installedBytes == checkedBytes);

    // The signed program passes its own start-up checks.
    SetupRunResult run = RunSetupProgram(setup, MakeScratchDir("signed_release_run"));
    EXPECT_TRUE(run.SawWizard);
    EXPECT_TRUE(run.BoxTexts.empty());
}

TEST(SignedRelease, InspectShowsTheTimeStamp) {
    const std::string stamped = kFixture + "timestamped-setup.exe";
    std::string expected;
    if (!PathExists(stamped) || !ReadBytes(kFixture + "expected-timestamp.txt", &expected))
        GTEST_SKIP() << "no time-stamped program: the fixture needs SoftHSM2, the OpenSSL "
                        "PKCS#11 engine and osslsigncode";
    expected = expected.substr(0, expected.find('\n'));
    PackRun inspect = RunPack({"inspect", stamped});
    EXPECT_EQ(inspect.ExitCode, 0);
    EXPECT_NE(inspect.Out.find("signature.timestamp: " + expected), std::string::npos)
        << inspect.Out;
    EXPECT_NE(inspect.Out.find(std::string("signature.signer: ") + kTokenSigner), std::string::npos)
        << inspect.Out;
}

} // namespace
