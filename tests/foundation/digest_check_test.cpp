// Start-up's digest check in-process, on built setup programs loaded as data:
// what it accepts and refuses, and the progress window of a long check.
#include "app/check_progress_window.h"
#include "app/package_digest_check.h"
#include "install/setup_context.h"
#include "core/text_util.h"
#include "package/package_resources.h"
#include "tests/support/test_support.h"

#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

// Loads a built program as the package module for one check.
class LoadedPackage {
  public:
    explicit LoadedPackage(const std::string& exe)
        : module_(LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        SetPackageModule(module_);
    }
    ~LoadedPackage() {
        SetPackageModule(nullptr);
        if (module_)
            FreeLibrary(module_);
    }
    bool Loaded() const { return module_ != nullptr; }

  private:
    HMODULE module_;
};

TEST(DigestCheck, AcceptsIntactAndDigestlessPackagesAndRefusesTheRest) {
    std::string dir = MakeScratchDir("digest_check");
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    std::vector<uint8_t> digest = TestPackageDigest(package);
    struct Case {
        const char* Name;
        bool WithDigest;
        const std::vector<uint8_t>* Flip; // resource to flip a byte of, or null
        size_t Offset;
        bool Accepted;
    } cases[] = {
        {"intact", true, nullptr, 0, true},
        {"no digest", false, nullptr, 0, true},
        {"no digest, flipped payload", false, &payload, payload.size() / 2, true},
        {"flipped payload", true, &payload, payload.size() / 2, false},
        {"flipped index", true, &index, 700, false},
        {"unreadable digest", true, &digest, 0, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string exe = dir + "case" + std::to_string(n++) + ".exe";
        TestPackage variant = package;
        variant.IncludeDigest = c.WithDigest;
        ASSERT_TRUE(WriteTestSetup(variant, exe));
        if (c.Flip) {
            ASSERT_TRUE(FlipResourceByte(exe, *c.Flip, c.Offset));
        }
        LoadedPackage loaded(exe);
        ASSERT_TRUE(loaded.Loaded());
        EXPECT_EQ(PackageMatchesDigest(), c.Accepted);
    }
}

// What the progress window showed, one entry per update while shown.
struct Sighting {
    HWND Window;
    bool Visible;
    std::string Title, Text;
    int Position;
};
std::vector<Sighting> g_sightings;

void RecordSighting(HWND window) {
    char title[260] = {}, text[260] = {};
    GetWindowTextA(window, title, sizeof title);
    GetDlgItemTextA(window, kCheckProgressTextId, text, sizeof text);
    int position =
        static_cast<int>(SendDlgItemMessageA(window, kCheckProgressBarId, PBM_GETPOS, 0, 0));
    g_sightings.push_back({window, IsWindowVisible(window) != FALSE, title, text, position});
}

TEST(DigestCheck, LongCheckShowsProgressAndShortCheckShowsNothing) {
    std::string dir = MakeScratchDir("digest_progress");
    TestPackage package = SmallSamplePackage();
    AddTestFile(&package, PackageGroup::Database, "data\\noise.bin", std::string());
    uint32_t state = 7;
    package.Files.back().Bytes.resize(4 << 20);
    for (char& c : package.Files.back().Bytes) { // does not compress: a 4 MiB payload
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    std::string exe = dir + "large.exe";
    ASSERT_TRUE(WriteTestSetup(package, exe));
    std::string ini = dir + "setup.ini";
    ASSERT_TRUE(WriteBytes(ini, package.Config));
    CopyBounded(g_SetupContext.ConfigPath, sizeof g_SetupContext.ConfigPath, ini.c_str());

    // A pace that calls every check long: the window comes once a MiB is read.
    LoadedPackage large(exe);
    ASSERT_TRUE(large.Loaded());
    g_sightings.clear();
    CheckProgressPace atOnce;
    atOnce.ShowAfterMs = 0;
    atOnce.MinRemainingMs = 0;
    atOnce.Observer = RecordSighting;
    EXPECT_TRUE(PackageMatchesDigest(atOnce));
    ASSERT_GE(g_sightings.size(), 3u);
    for (size_t i = 0; i < g_sightings.size(); ++i) {
        const Sighting& seen = g_sightings[i];
        EXPECT_EQ(seen.Window, g_sightings[0].Window);
        EXPECT_TRUE(seen.Visible);
        EXPECT_EQ(seen.Title, "澜枢软件");
        EXPECT_EQ(seen.Text, kCheckProgressText);
        if (i > 0) {
            EXPECT_GT(seen.Position, g_sightings[i - 1].Position);
        }
    }
    EXPECT_EQ(g_sightings.back().Position, 1000);
    EXPECT_FALSE(IsWindow(g_sightings[0].Window)) << "closed when the check ends";

    // The ordinary pace: a package under a MiB never shows a window, however
    // slow the machine, so ordinary start-ups do not flash one.
    std::string small = dir + "small.exe";
    ASSERT_TRUE(WriteTestSetup(SmallSamplePackage(), small));
    LoadedPackage loaded(small);
    ASSERT_TRUE(loaded.Loaded());
    g_sightings.clear();
    CheckProgressPace ordinary;
    ordinary.Observer = RecordSighting;
    EXPECT_TRUE(PackageMatchesDigest(ordinary));
    EXPECT_TRUE(g_sightings.empty());
    g_SetupContext.ConfigPath[0] = '\0';
}

} // namespace
