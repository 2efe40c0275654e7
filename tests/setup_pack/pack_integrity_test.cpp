// setup-pack and the digest and signature of a setup program: verify names
// the resource that differs, extract refuses a damaged program unless told
// to go on, signed programs are read as any other, and a signed template
// gives an unsigned program with a sound header checksum.
#include "tests/setup_pack/pack_test_util.h"

#include "package/package_digest.h"
#include "package/program_image.h"
#include "package/resource_writer.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"
#include "tools/setup_pack/pe_signature.h"
#include "tools/setup_pack/text_convert.h"

#include <imagehlp.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Made by the signing fixture (tests/e2e/signing_fixture.sh) before these run.
const std::string kSignedSample = std::string(TEST_SCRATCH_DIR) + "\\signing\\signed-sample.exe";
const std::string kSignedTemplate =
    std::string(TEST_SCRATCH_DIR) + "\\signing\\signed-template.exe";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The header checksum equals the one the system computes.
void ExpectSoundChecksum(const std::string& exe) {
    DWORD header = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumA(exe.c_str(), &header, &computed), CHECKSUM_SUCCESS) << exe;
    EXPECT_EQ(header, computed) << exe;
}

TEST(SetupPackIntegrity, DigestMismatchIsNamedAndExtractNeedsToBeToldToGoOn) {
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    std::vector<uint8_t> config(package.Config.begin(), package.Config.end());
    struct Flip {
        const char* Name; // as verify names it
        const std::vector<uint8_t>* Resource;
        size_t Offset;
    } flips[] = {{"configuration (BIN 121)", &config, 10},
                 {"index (BIN 102)", &index, 4},
                 {"payload (BIN 101)", &payload, payload.size() - 1}};
    int n = 0;
    for (const Flip& flip : flips) {
        SCOPED_TRACE(flip.Name);
        std::string dir = MakeScratchDir("pack_digest" + std::to_string(n++));
        std::string exe = dir + "setup.exe";
        ASSERT_TRUE(WriteTestSetup(package, exe));
        EXPECT_EQ(RunPack({"verify", exe}).ExitCode, 0);
        ASSERT_TRUE(FlipResourceByte(exe, *flip.Resource, flip.Offset));

        PackRun verify = RunPack({"verify", exe});
        EXPECT_EQ(verify.ExitCode, 1);
        EXPECT_TRUE(
            Has(verify.Out, std::string("fault: ") + flip.Name + " does not match the digest"))
            << verify.Out;
        PackRun inspect = RunPack({"inspect", exe});
        EXPECT_EQ(inspect.ExitCode, 0);
        EXPECT_TRUE(Has(inspect.Out, "(differs: the resource holds ")) << inspect.Out;

        PackRun refused = RunPack({"extract", exe, dir + "out"});
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_TRUE(Has(refused.Out, "nothing extracted")) << refused.Out;
        EXPECT_FALSE(FileExistsUtf8(dir + "out")) << "not even the folder";
        PackRun forced = RunPack({"extract", "--ignore-digest", exe, dir + "out"});
        EXPECT_EQ(forced.ExitCode, 1) << "the damage still counts";
        EXPECT_TRUE(FileExistsUtf8(dir + "out\\database\\bin\\mysqld.exe")) << forced.Out;
    }
}

TEST(SetupPackIntegrity, ProgramWithoutDigestIsAcceptedWithAWarning) {
    std::string dir = MakeScratchDir("pack_no_digest");
    TestPackage package = SmallSamplePackage();
    package.IncludeDigest = false;
    ASSERT_TRUE(WriteTestSetup(package, dir + "setup.exe"));
    PackRun verify = RunPack({"verify", dir + "setup.exe"});
    EXPECT_EQ(verify.ExitCode, 0) << verify.Out;
    EXPECT_TRUE(Has(verify.Out, "warning: no digest resource (BIN 122)")) << verify.Out;
    EXPECT_TRUE(Has(RunPack({"inspect", dir + "setup.exe"}).Out, "digest: missing"));
    EXPECT_EQ(RunPack({"extract", dir + "setup.exe", dir + "out"}).ExitCode, 0);
}

TEST(SetupPackIntegrity, SignedProgramIsVerifiedInspectedAndExtracted) {
    if (!PathExists(kSignedSample))
        GTEST_SKIP() << "no signed program: the signing fixture needs openssl and osslsigncode";
    PackRun verify = RunPack({"verify", kSignedSample});
    EXPECT_EQ(verify.ExitCode, 0) << verify.Out;
    PackRun inspect = RunPack({"inspect", kSignedSample});
    EXPECT_EQ(inspect.ExitCode, 0);
    EXPECT_TRUE(Has(inspect.Out, "signature: certificate table of ")) << inspect.Out;
    EXPECT_TRUE(Has(inspect.Out, "digest.payload: ")) << inspect.Out;
    EXPECT_FALSE(Has(inspect.Out, "(differs")) << inspect.Out;
    EXPECT_TRUE(Has(inspect.Out, "signature.signer: CN=Setup test signer")) << inspect.Out;
    EXPECT_TRUE(Has(inspect.Out, "signature.description: Setup test")) << inspect.Out;
    EXPECT_TRUE(Has(inspect.Out, "signature.timestamp: none")) << inspect.Out;
    EXPECT_TRUE(Has(inspect.Out, "signature.covers_file: yes (SHA-256 image digest)"))
        << inspect.Out;
    std::string dir = MakeScratchDir("pack_signed_extract");
    EXPECT_EQ(RunPack({"extract", kSignedSample, dir + "out"}).ExitCode, 0);
    EXPECT_TRUE(FileExistsUtf8(dir + "out\\database\\bin\\mysqld.exe"));
    ExpectSoundChecksum(kSignedSample);
    // The signed program passes its own start-up checks.
    std::string temp = MakeScratchDir("pack_signed_run");
    SetupRunResult run = RunSetupProgram(kSignedSample, temp);
    EXPECT_TRUE(run.SawWizard);
    EXPECT_TRUE(run.BoxTexts.empty());
}

// verify accepts the signed program as it is and refuses (exit code 1) one
// changed after signing, naming what no longer holds. Where the header
// checksum is set again after the change, the signature is all that tells.
TEST(SetupPackIntegrity, VerifySaysWhetherTheSignatureCoversTheFile) {
    if (!PathExists(kSignedSample))
        GTEST_SKIP() << "no signed program: the signing fixture needs openssl and osslsigncode";
    std::string original;
    ASSERT_TRUE(ReadBytes(kSignedSample, &original));
    ProgramLayout layout;
    ASSERT_TRUE(ReadProgramLayout(reinterpret_cast<const uint8_t*>(original.data()),
                                  original.size(), &layout));
    std::vector<uint8_t> uninstaller = ProgramResource(kSignedSample, "BIN", 131);
    ASSERT_FALSE(uninstaller.empty());
    const char kNotCovered[] = "fault: signature: the signature does not cover the file as it is";
    struct Case {
        const char* Name;
        std::function<bool(const std::string& exe)> Change;
        int ExitCode;
        const char* Said;    // in verify's output
        const char* NotSaid; // must not be
    } cases[] = {
        {"intact", [](const std::string&) { return true; }, 0,
         "signature: covers the file (SHA-256 image digest), signed by CN=Setup test signer",
         "fault"},
        {"DOS stub byte, checksum set again",
         [](const std::string& exe) { return FlipFileByte(exe, 0x50); }, 1, kNotCovered,
         "fault: header checksum"},
        {"uninstaller byte, checksum set again",
         [&](const std::string& exe) {
             return FlipResourceByte(exe, uninstaller, uninstaller.size() / 3);
         },
         1, kNotCovered, "fault: header checksum"},
        {"first byte of the signature, checksum set again",
         [&](const std::string& exe) { return FlipFileByte(exe, layout.CertificateOffset + 8); }, 1,
         "fault: signature: ", "fault: header checksum"},
        {"checksum field only (not covered by the signature)",
         [&](const std::string& exe) { return FlipFileByte(exe, layout.CheckSumOffset); }, 1,
         "fault: header checksum 0x", "fault: signature"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string exe = MakeScratchDir("pack_signature" + std::to_string(n++)) + "signed.exe";
        ASSERT_TRUE(WriteBytes(exe, original));
        ASSERT_TRUE(c.Change(exe));
        std::string error;
        bool setAgain = std::string(c.Name).find("checksum set again") != std::string::npos;
        if (setAgain) {
            ASSERT_TRUE(SetProgramChecksum(Utf8ToWide(exe).c_str(), &error)) << error;
        }
        PackRun verify = RunPack({"verify", exe});
        EXPECT_EQ(verify.ExitCode, c.ExitCode) << verify.Out;
        EXPECT_TRUE(Has(verify.Out, c.Said)) << verify.Out;
        EXPECT_FALSE(Has(verify.Out, c.NotSaid)) << verify.Out;
    }
}

TEST(SetupPackIntegrity, SignedTemplateGivesAnUnsignedProgramWithASoundChecksum) {
    std::string dir = MakeScratchDir("pack_signed_template");
    TestPackage package = SmallSamplePackage();
    for (const TestFile& file : package.Files) {
        const char* group = file.Group == PackageGroup::Server   ? "server\\"
                            : file.Group == PackageGroup::Client ? "client\\"
                                                                 : "database\\";
        PutFile(dir + group + file.RelativePath, file.Bytes, file.Times);
    }
    PutFile(dir + "setup.ini", SampleIniUtf8(), MakeTimes(1));
    auto build = [&](const std::string& templateExe, const std::string& output) {
        return RunPack({"build", "--config", dir + "setup.ini", "--server", dir + "server",
                        "--client", dir + "client", "--database", dir + "database",
                        "--server-program", "VTRServer.exe", "--client-program", "VTRClient.exe",
                        "--template", templateExe, "-o", output});
    };
    // The default template carries a checksum from the linker; the resources
    // change it, so the program gets the new one.
    PackRun plain = build(BinPath("setup.exe"), dir + "plain.exe");
    ASSERT_EQ(plain.ExitCode, 0) << plain.Out;
    EXPECT_FALSE(Has(plain.Out, "signature")) << plain.Out;
    ExpectSoundChecksum(dir + "plain.exe");

    if (!PathExists(kSignedTemplate))
        GTEST_SKIP() << "no signed template: the signing fixture needs openssl and osslsigncode";
    PackRun signedBuild = build(kSignedTemplate, dir + "rebuilt.exe");
    ASSERT_EQ(signedBuild.ExitCode, 0) << signedBuild.Out;
    EXPECT_TRUE(Has(signedBuild.Out, "was signed; its signature is dropped")) << signedBuild.Out;
    SignatureInfo info;
    std::string error;
    ASSERT_TRUE(ReadSignatureInfo(Utf8ToWide(dir + "rebuilt.exe"), &info, &error)) << error;
    EXPECT_FALSE(info.Present);
    ExpectSoundChecksum(dir + "rebuilt.exe");
    std::string plainBytes, rebuiltBytes;
    ASSERT_TRUE(ReadBytes(dir + "plain.exe", &plainBytes));
    ASSERT_TRUE(ReadBytes(dir + "rebuilt.exe", &rebuiltBytes));
    // Signing changed only the security directory, the checksum and the
    // table at the end: without them the template is the plain one again.
    EXPECT_TRUE(rebuiltBytes == plainBytes)
        << rebuiltBytes.size() << " bytes against " << plainBytes.size();
    EXPECT_EQ(RunPack({"verify", dir + "rebuilt.exe"}).ExitCode, 0);
    // The program still passes its own start-up checks.
    std::string temp = MakeScratchDir("pack_signed_template_run");
    SetupRunResult run = RunSetupProgram(dir + "rebuilt.exe", temp);
    EXPECT_TRUE(run.SawWizard);
    EXPECT_TRUE(run.BoxTexts.empty());
}

} // namespace
