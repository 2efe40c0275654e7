// Start-up's check of the program file in-process, on built setup programs
// loaded as data: what the header checksum and the digest accept and refuse,
// and the progress window of a long check.
#include "app/check_progress_window.h"
#include "app/package_digest_check.h"
#include "install/setup_context.h"
#include "core/text_util.h"
#include "package/package_resources.h"
#include "package/program_image.h"
#include "tests/support/test_support.h"

#include <commctrl.h>
#include <imagehlp.h>

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

std::wstring Wide(const std::string& path) {
    return std::wstring(path.begin(), path.end()); // scratch paths are ASCII
}

// Each case is a program file and a damage: a byte flipped in a resource
// (found by its bytes) or at a file offset (ProgramPlaces), or none.
TEST(DigestCheck, AcceptsIntactAndUncheckablePackagesAndRefusesTheRest) {
    std::string dir = MakeScratchDir("digest_check");
    TestPackage package = SmallSamplePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    std::vector<uint8_t> digest = TestPackageDigest(package);
    std::string reference = dir + "reference.exe";
    ASSERT_TRUE(WriteTestSetup(package, reference));
    std::vector<uint8_t> dialog = ProgramResource(reference, MAKEINTRESOURCEA(5), 103);
    std::vector<uint8_t> uninstaller = ProgramResource(reference, "BIN", 131);
    ProgramPlaces places;
    ASSERT_TRUE(FindProgramPlaces(reference, &places));
    ASSERT_FALSE(dialog.empty());
    ASSERT_FALSE(uninstaller.empty());
    enum Where { kNothing, kResource, kFileOffset };
    struct Case {
        const char* Name;
        bool WithDigest, WithChecksum;
        Where Damage;
        const std::vector<uint8_t>* Resource; // kResource: the resource's bytes
        uint64_t Offset;                      // in the resource, or in the file
        bool Accepted;
    } cases[] = {
        {"intact", true, true, kNothing, nullptr, 0, true},
        {"no digest", false, true, kNothing, nullptr, 0, true},
        {"no checksum", true, false, kNothing, nullptr, 0, true},
        {"neither: nothing to check against", false, false, kResource, &payload, payload.size() / 2,
         true},
        {"neither, flipped code", false, false, kFileOffset, nullptr, places.CodeMiddle, true},
        {"flipped payload", true, true, kResource, &payload, payload.size() / 2, false},
        {"flipped index", true, true, kResource, &index, 700, false},
        {"unreadable digest", true, true, kResource, &digest, 0, false},
        {"no checksum, flipped payload", true, false, kResource, &payload, 3, false},
        {"no digest, flipped payload", false, true, kResource, &payload, payload.size() / 2, false},
        {"flipped code", true, true, kFileOffset, nullptr, places.CodeMiddle, false},
        {"flipped dialog template", true, true, kResource, &dialog, dialog.size() / 2, false},
        {"flipped uninstaller", true, true, kResource, &uninstaller, uninstaller.size() / 2, false},
        {"digest's directory entry names another id", true, true, kFileOffset, nullptr,
         places.DigestIdEntry, false},
        {"flipped checksum field", true, true, kFileOffset, nullptr, places.CheckSumOffset + 1,
         false},
        {"flipped DOS header", true, true, kFileOffset, nullptr, 2, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string exe = dir + "case" + std::to_string(n++) + ".exe";
        TestPackage variant = package;
        variant.IncludeDigest = c.WithDigest;
        variant.SetChecksum = c.WithChecksum;
        ASSERT_TRUE(WriteTestSetup(variant, exe));
        if (c.Damage == kResource) {
            ASSERT_TRUE(FlipResourceByte(exe, *c.Resource, c.Offset));
        } else if (c.Damage == kFileOffset) {
            ASSERT_TRUE(FlipFileByte(exe, c.Offset));
        }
        LoadedPackage loaded(exe);
        ASSERT_TRUE(loaded.Loaded());
        EXPECT_EQ(ProgramFileIsIntact(Wide(exe).c_str()), c.Accepted);
    }
}

// The checksum start-up computes is the system's own, and one a signing
// tool leaves in the 0xFFFF form of zero is taken too.
TEST(DigestCheck, ChecksumIsTheSystemsOwn) {
    std::string dir = MakeScratchDir("digest_checksum");
    std::string exe = dir + "setup.exe";
    ASSERT_TRUE(WriteTestSetup(SmallSamplePackage(), exe));
    DWORD header = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumA(exe.c_str(), &header, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(header, computed);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(exe, &bytes));
    ProgramPlaces places;
    ASSERT_TRUE(FindProgramPlaces(exe, &places));
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(ComputePeChecksum(data, bytes.size(), places.CheckSumOffset), computed);
    // Odd sizes and pieces: one byte more.
    std::string longer = bytes + "\x7F";
    ASSERT_TRUE(WriteBytes(dir + "odd.exe", longer));
    ASSERT_EQ(MapFileAndCheckSumA((dir + "odd.exe").c_str(), &header, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(ComputePeChecksum(reinterpret_cast<const uint8_t*>(longer.data()), longer.size(),
                                places.CheckSumOffset),
              computed);
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
    EXPECT_TRUE(ProgramFileIsIntact(Wide(exe).c_str(), atOnce));
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
    EXPECT_TRUE(ProgramFileIsIntact(Wide(small).c_str(), ordinary));
    EXPECT_TRUE(g_sightings.empty());
    g_SetupContext.ConfigPath[0] = '\0';
}

} // namespace
