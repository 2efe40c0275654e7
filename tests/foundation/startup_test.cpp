#include "install/setup_context.h"
#include "app/startup.h"
#include "package/package_resources.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"
#include "tools/wizard_driver/message_boxes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct StartupCase {
    std::string Dir;  // scratch folder of the test
    std::string Temp; // the program's TEMP
    std::string Exe;
};

StartupCase MakeCase(const std::string& name) {
    StartupCase c;
    c.Dir = MakeScratchDir(name);
    c.Temp = c.Dir + "temp\\";
    CreateDirectoryA(c.Temp.c_str(), nullptr);
    c.Exe = c.Dir + "setup-under-test.exe";
    return c;
}

bool IsUpperHex(const std::string& text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

const char kDamaged[] = "安装包已损坏，无法安装。";

TEST(Startup, WritesTheWorkFolderAndTheConfigurationCopy) {
    StartupCase c = MakeCase("startup_ini");
    TestPackage package = SmallSamplePackage();
    ASSERT_TRUE(WriteTestSetup(package, c.Exe));
    SetupRunResult run = RunSetupProgram(c.Exe, c.Temp);
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_TRUE(run.BoxTexts.empty());

    std::vector<std::string> folders = FolderEntries(c.Temp);
    ASSERT_EQ(folders.size(), 1u);
    const std::string& folder = folders[0];
    ASSERT_EQ(folder.size(), 12u);
    EXPECT_EQ(folder.substr(0, 4), "MDPX");
    EXPECT_TRUE(IsUpperHex(folder.substr(4)));
    EXPECT_LE(strtoul(folder.substr(4).c_str(), nullptr, 16), 0x0125E227ul);

    std::vector<std::string> files = FolderEntries(c.Temp + folder + "\\");
    ASSERT_EQ(files.size(), 1u);
    const std::string& ini = files[0];
    ASSERT_EQ(ini.size(), 12u);
    EXPECT_TRUE(IsUpperHex(ini.substr(0, 8)));
    EXPECT_EQ(ini.substr(6), "00.tmp");
    std::string written;
    ASSERT_TRUE(ReadBytes(c.Temp + folder + "\\" + ini, &written));
    EXPECT_EQ(written, package.Config) << "the resource is written byte for byte";
}

TEST(Startup, ConfigurationSizeBoundary) {
    // A damaged index shows the box only once the configuration test passed,
    // so the box tells the two sides of the boundary apart.
    std::vector<uint8_t> shortIndex(100, 0);
    for (size_t size : {3u, 4u}) {
        StartupCase c = MakeCase("startup_config" + std::to_string(size));
        TestPackage package = SmallSamplePackage();
        package.Config = std::string(size, 'x');
        ASSERT_TRUE(WriteTestSetup(package, c.Exe, &shortIndex));
        SetupRunResult run = RunSetupProgram(c.Exe, c.Temp);
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(run.BoxTexts.size(), size == 4 ? 1u : 0u) << size << " bytes";
        EXPECT_FALSE(run.SawWizard);
    }
}

TEST(Startup, MissingResourcesAndATwoByteIndexEndSilently) {
    struct Variant {
        const char* Name;
        bool Config, Index;
        size_t IndexSize;
    } variants[] = {
        {"noconfig", false, true, 0}, {"noindex", true, false, 0}, {"twobyteindex", true, true, 2}};
    for (const Variant& v : variants) {
        StartupCase c = MakeCase(std::string("startup_") + v.Name);
        TestPackage package = SmallSamplePackage();
        package.IncludeConfig = v.Config;
        package.IncludeIndex = v.Index;
        std::vector<uint8_t> index(v.IndexSize, 1);
        ASSERT_TRUE(WriteTestSetup(package, c.Exe, v.IndexSize ? &index : nullptr));
        SetupRunResult run = RunSetupProgram(c.Exe, c.Temp);
        EXPECT_EQ(run.ExitCode, 0) << v.Name;
        EXPECT_TRUE(run.BoxTexts.empty()) << v.Name;
        EXPECT_FALSE(run.SawWizard) << v.Name;
    }
}

// A wizard frame that cannot be made is said so, with the system's error,
// instead of ending as if the user had closed it.
TEST(Startup, AFrameThatCannotBeMadeShowsWhyInABox) {
    StartupCase c = MakeCase("startup_noframe");
    ASSERT_TRUE(WriteTestSetup(SmallSamplePackage(), c.Exe));
    // The frame's template replaced by one of a window class nobody
    // registered: the dialog call then fails as a failed window creation does.
    std::vector<WORD> frame(9, 0); // style, extended style, no items, 0,0 100x100
    frame[0] = LOWORD(WS_POPUP | WS_CAPTION);
    frame[1] = HIWORD(WS_POPUP | WS_CAPTION);
    frame[7] = frame[8] = 100;
    frame.push_back(0); // no menu
    for (const wchar_t* name = L"NoSuchFrameClass"; *name; ++name)
        frame.push_back(static_cast<WORD>(*name));
    frame.push_back(0);
    frame.push_back(0); // no caption
    HANDLE update = BeginUpdateResourceA(c.Exe.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceA(update, RT_DIALOG, MAKEINTRESOURCEA(103),
                                MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), frame.data(),
                                static_cast<DWORD>(frame.size() * sizeof(WORD))));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    SetupRunResult run = RunSetupProgram(c.Exe, c.Temp);
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_FALSE(run.SawWizard);
    ASSERT_EQ(run.BoxTexts.size(), 1u);
    const std::string& text = run.BoxTexts[0];
    printf("box: %s\n", text.c_str());
    EXPECT_EQ(text.rfind("安装程序无法打开它的窗口。\n\n", 0), 0u) << text;
    // The system's words and the code of a missing window class (Windows
    // and Wine report it under different codes).
    bool named = text.find("（错误 1407）") != std::string::npos ||
                 text.find("（错误 1411）") != std::string::npos;
    EXPECT_TRUE(named) << text;
    EXPECT_GT(text.find("（错误 "), strlen("安装程序无法打开它的窗口。\n\n")) << text;
}

// Each damaged shape of the index is refused with the box and no wizard.
TEST(Startup, DamagedPackagesShowTheBoxAndNoWizard) {
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> goodIndex, goodPayload;
    BuildBlobs(package, &goodIndex, &goodPayload);
    auto entry = [](std::vector<uint8_t>& index, int i) {
        return reinterpret_cast<PackageEntry*>(index.data() + 600 + 560 * i);
    };
    struct Damage {
        const char* Name;
        std::vector<uint8_t> Index;
        std::vector<uint8_t> Payload;
    };
    std::vector<Damage> damages;
    damages.push_back(
        {"short", std::vector<uint8_t>(goodIndex.begin(), goodIndex.begin() + 3), goodPayload});
    damages.push_back(
        {"599", std::vector<uint8_t>(goodIndex.begin(), goodIndex.begin() + 599), goodPayload});
    Damage counts{"counts", goodIndex, goodPayload};
    reinterpret_cast<PackageHeader*>(counts.Index.data())->ClientEntryCount = 7;
    damages.push_back(counts);
    Damage offset{"offset", goodIndex, goodPayload};
    entry(offset.Index, 1)->PayloadOffset = static_cast<uint32_t>(goodPayload.size());
    damages.push_back(offset);
    damages.push_back(
        {"truncated", goodIndex, std::vector<uint8_t>(goodPayload.begin(), goodPayload.end() - 4)});
    for (const char* path :
         {"..\\..\\evil.dll", "\\windows\\evil.dll", "C:\\evil.dll", "a\\.\\b", ""}) {
        Damage bad{path, goodIndex, goodPayload};
        char* field = entry(bad.Index, 2)->RelativePath;
        memset(field, 0, 260);
        strcpy(field, path);
        damages.push_back(bad);
    }
    int n = 0;
    for (Damage& damage : damages) {
        StartupCase c = MakeCase("startup_damaged" + std::to_string(n++));
        ASSERT_TRUE(WriteTestSetup(package, c.Exe, &damage.Index, &damage.Payload));
        SetupRunResult run = RunSetupProgram(c.Exe, c.Temp);
        EXPECT_EQ(run.ExitCode, 0) << damage.Name;
        ASSERT_EQ(run.BoxTexts.size(), 1u) << damage.Name;
        EXPECT_EQ(run.BoxTexts[0], kDamaged) << damage.Name;
        EXPECT_FALSE(run.SawWizard) << damage.Name;
    }
}

TEST(Startup, CopiesTheHeaderByteForByte) {
    std::string dir = MakeScratchDir("startup_header");
    std::string exe = dir + "setup-under-test.exe";
    TestPackage package = SmallSamplePackage();
    package.Settings.ClientRunArgs = "Client args";
    ASSERT_TRUE(WriteTestSetup(package, exe));
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);

    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    SetPackageModule(module);
    SetEnvironmentVariableA("TMP", dir.c_str());
    SetEnvironmentVariableA("TEMP", dir.c_str());
    // This test program holds no wizard template, so start-up says the frame
    // cannot be made (the box is answered here) after preparing everything
    // the wizard would be given.
    static std::string boxText;
    HANDLE answerer = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            MessageBoxAnswerer boxes;
            for (int i = 0; i < 1000; ++i) {
                if (HWND box = boxes.FindNew()) {
                    boxText = boxes.Read(box).Text;
                    boxes.Answer(box, IDOK);
                    return 0;
                }
                Sleep(10);
            }
            return 1;
        },
        nullptr, 0, nullptr);
    EXPECT_EQ(RunSetup(GetModuleHandleA(nullptr)), 0);
    EXPECT_EQ(WaitForSingleObject(answerer, 10000), WAIT_OBJECT_0);
    CloseHandle(answerer);
    EXPECT_EQ(boxText.rfind("安装程序无法打开它的窗口。", 0), 0u) << boxText;
    EXPECT_EQ(memcmp(&g_SetupContext.Header, index.data(), 600), 0);
    EXPECT_EQ(strncmp(g_SetupContext.WorkDir, dir.c_str(), dir.size()), 0);
    EXPECT_TRUE(PathExists(g_SetupContext.ConfigPath));
    SetPackageModule(nullptr);
    FreeLibrary(module);
}

} // namespace
