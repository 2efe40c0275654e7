// Links go into the prefix's real special folders; every test removes what it
// made there. The log helper latches one list per process (one test each).
#include "install/shortcuts.h"
#include "tests/support/links.h"
#include "tests/support/test_support.h"
#include "install/progress_log.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const char kLinkPrefix[] = "创建快捷方式：";
const char kFolderName[] = "单元测试快捷方式";
const char kLinkName[] = "单元测试程序.lnk";

std::string SpecialFolder(int csidl) {
    std::string path = SpecialFolderPath(csidl);
    EXPECT_FALSE(path.empty()) << csidl;
    return path;
}

class ShortcutsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        frame = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr,
                                nullptr, nullptr, nullptr);
        log = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 0, 280, 200,
                              frame, nullptr, nullptr, nullptr);
        ASSERT_NE(log, nullptr);
        AppendLogLine(log, nullptr, ""); // latch, as the Installing page does

        dir = MakeScratchDir("shortcuts");
        appDir = dir + "App";
        target = appDir + "\\app.exe";
        ASSERT_TRUE(CreateDirectoryA(appDir.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(target, "MZ"));

        programs = SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\";
        desktop = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\";
        appData = SpecialFolder(CSIDL_APPDATA) + "\\";
        quickLaunch = appData + "Microsoft\\Internet Explorer\\Quick Launch\\";
    }

    void TearDown() override {
        for (const std::string& made : madeFiles)
            DeleteFileA(made.c_str());
        RemoveTree(programs + kFolderName);
        quickLaunchScope.reset();
        RemoveTree(dir);
        DestroyWindow(frame);
    }

    void MakeQuickLaunch() { quickLaunchScope = std::make_unique<ScopedQuickLaunch>(); }

    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        int count = static_cast<int>(SendMessageA(log, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[512] = {};
            SendMessageA(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            lines.push_back(text);
        }
        return lines;
    }

    HWND frame = nullptr, log = nullptr;
    std::string dir, appDir, target, programs, desktop, appData, quickLaunch;
    std::vector<std::string> madeFiles;
    std::unique_ptr<ScopedQuickLaunch> quickLaunchScope;
};

TEST_F(ShortcutsTest, PlacesThreeLinksInOrderStartingTheTargetInItsFolder) {
    MakeQuickLaunch();
    std::vector<std::string> expected = {programs + kFolderName + "\\" + kLinkName,
                                         desktop + kLinkName, quickLaunch + kLinkName};
    madeFiles = expected;
    for (const std::string& path : expected)
        ASSERT_FALSE(PathExists(path)) << path;

    SetupContext context = {};
    context.StartMenu = context.Desktop = context.QuickStart = 1;
    PlaceShortcuts(context, target.c_str(), kFolderName, kLinkName);

    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i], kLinkPrefix + expected[i]);
        LinkContents contents;
        ASSERT_TRUE(ReadLink(expected[i], &contents)) << expected[i];
        EXPECT_EQ(_stricmp(contents.path.c_str(), target.c_str()), 0) << contents.path;
        EXPECT_EQ(_stricmp(contents.workingDir.c_str(), appDir.c_str()), 0) << contents.workingDir;
        EXPECT_EQ(contents.arguments, "");
    }
}

TEST_F(ShortcutsTest, StartMenuFolderIsMadeWithMissingParentsAndReused) {
    std::string folderName = std::string(kFolderName) + "\\子目录";
    std::string link = programs + folderName + "\\" + kLinkName;
    SetupContext context = {};
    context.StartMenu = 1;
    PlaceShortcuts(context, target.c_str(), folderName.c_str(), kLinkName);
    EXPECT_TRUE(PathExists(link));
    // A second installation finds the folder in place and overwrites the link.
    PlaceShortcuts(context, target.c_str(), folderName.c_str(), kLinkName);
    EXPECT_TRUE(PathExists(link));
    EXPECT_EQ(LogLines(), std::vector<std::string>(2, kLinkPrefix + link));
}

TEST_F(ShortcutsTest, NothingHappensWithEverySettingOff) {
    SetupContext context = {};
    PlaceShortcuts(context, target.c_str(), kFolderName, kLinkName);
    EXPECT_TRUE(LogLines().empty());
    EXPECT_FALSE(PathExists(programs + kFolderName));
    EXPECT_FALSE(PathExists(desktop + kLinkName));
}

TEST_F(ShortcutsTest, LinkPathTooLongForItsBufferIsSkipped) {
    std::string longFolder(MAX_PATH - programs.size() - 5, 'f');
    std::string longLink = std::string(MAX_PATH - desktop.size(), 'l') + ".lnk";
    madeFiles = {desktop + kLinkName};
    SetupContext context = {};
    context.StartMenu = context.Desktop = 1;
    PlaceShortcuts(context, target.c_str(), longFolder.c_str(), kLinkName);
    PlaceShortcuts(context, target.c_str(), kFolderName, longLink.c_str());
    // Only the desktop link of the first call fits.
    EXPECT_EQ(LogLines(), std::vector<std::string>(1, kLinkPrefix + desktop + kLinkName));
    EXPECT_TRUE(PathExists(desktop + kLinkName));
    EXPECT_FALSE(PathExists(programs + longFolder));
    EXPECT_FALSE(PathExists(programs + kFolderName));
}

TEST_F(ShortcutsTest, CreateShellLinkStoresArgumentsAndOverwrites) {
    std::string link = dir + "direct.lnk";
    EXPECT_EQ(CreateShellLink(target.c_str(), link.c_str(), "Install"), 1);
    LinkContents first;
    ASSERT_TRUE(ReadLink(link, &first));
    EXPECT_EQ(first.arguments, "Install");
    EXPECT_EQ(_stricmp(first.workingDir.c_str(), appDir.c_str()), 0) << first.workingDir;

    std::string other = dir + "other.exe";
    ASSERT_TRUE(WriteBytes(other, "MZ"));
    EXPECT_EQ(CreateShellLink(other.c_str(), link.c_str(), ""), 1);
    LinkContents second;
    ASSERT_TRUE(ReadLink(link, &second));
    EXPECT_EQ(_stricmp(second.path.c_str(), other.c_str()), 0) << second.path;
    EXPECT_EQ(second.arguments, "");
    // dir ends in a backslash; the working folder does not.
    EXPECT_EQ(_stricmp(second.workingDir.c_str(), dir.substr(0, dir.size() - 1).c_str()), 0)
        << second.workingDir;
}

} // namespace
