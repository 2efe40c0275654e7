#include "install/directory_path.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class DirectoryPathTest : public ::testing::Test {
  protected:
    void SetUp() override { dir = MakeScratchDir("dirpath"); }
    void TearDown() override { RemoveTree(dir); }
    std::string dir;
};

TEST(DirectoryPath, CreatesEveryLevelBelowABareDrive) {
    std::string top = std::string(TEST_INSTALL_DRIVE) + "dirpath_bare";
    RemoveTree(top);
    ASSERT_FALSE(PathExists(top));
    EXPECT_EQ(EnsureDirectoryPath((top + "\\A\\B\\f.txt").c_str(), 1), 1);
    EXPECT_TRUE(IsFolder(top + "\\A\\B"));
    EXPECT_FALSE(PathExists(top + "\\A\\B\\f.txt"));
    // Existing folder: the probe finds it and nothing changes.
    EXPECT_EQ(EnsureDirectoryPath((top + "\\A\\B\\g.txt").c_str(), 1), 1);
    EXPECT_EQ(FolderEntries(top + "\\A\\B\\").size(), 0u);
    RemoveTree(top);
}

TEST_F(DirectoryPathTest, FolderModeWithAndWithoutTrailingBackslash) {
    EXPECT_EQ(EnsureDirectoryPath((dir + "X").c_str(), 0), 1);
    EXPECT_EQ(EnsureDirectoryPath((dir + "Y\\").c_str(), 0), 1);
    EXPECT_EQ(EnsureDirectoryPath((dir + "Z\\1\\2").c_str(), 0), 1);
    EXPECT_TRUE(IsFolder(dir + "X"));
    EXPECT_TRUE(IsFolder(dir + "Y"));
    EXPECT_TRUE(IsFolder(dir + "Z\\1\\2"));
    EXPECT_EQ(FolderEntries(dir).size(), 3u);
}

TEST_F(DirectoryPathTest, TrailByteBackslashIsPartOfTheName) {
    // 0x95 0x5C is one GBK character whose second byte equals a backslash.
    const std::string kChar = "\x95\x5C";
    EXPECT_EQ(EnsureDirectoryPath((dir + kChar + "\\sub\\f.txt").c_str(), 1), 1);
    EXPECT_TRUE(IsFolder(dir + kChar + "\\sub"));
    EXPECT_EQ(EnsureDirectoryPath((dir + "a" + kChar + "b\\c\\").c_str(), 0), 1);
    EXPECT_TRUE(IsFolder(dir + "a" + kChar + "b\\c"));
    // In folder mode a name may end in that character.
    EXPECT_EQ(EnsureDirectoryPath((dir + "q\\" + kChar).c_str(), 0), 1);
    EXPECT_TRUE(IsFolder(dir + "q\\" + kChar));

    std::vector<std::string> names = FolderEntries(dir);
    EXPECT_EQ(names.size(), 3u);
    for (const std::string& name : names)
        EXPECT_TRUE(name == kChar || name == "a" + kChar + "b" || name == "q") << name;

    // RemoveTree drops a last byte 0x5C as if it were a trailing backslash,
    // so the names ending in this character go first, by hand.
    for (const std::string& made : {kChar + "\\sub", kChar, "q\\" + kChar})
        RemoveDirectoryA((dir + made).c_str());
}

TEST_F(DirectoryPathTest, FileInTheWayCreatesNothing) {
    ASSERT_TRUE(WriteBytes(dir + "f", "file"));
    EXPECT_EQ(EnsureDirectoryPath((dir + "f\\g\\h.txt").c_str(), 1), 1);
    EXPECT_EQ(EnsureDirectoryPath((dir + "f\\g").c_str(), 0), 1);
    EXPECT_FALSE(IsFolder(dir + "f"));
    EXPECT_EQ(FolderEntries(dir).size(), 1u);
}

TEST_F(DirectoryPathTest, FolderStateSaysWhatBecameOfTheFolder) {
    ASSERT_TRUE(WriteBytes(dir + "f", "file"));
    const struct {
        std::string Path;
        int FileMode;
        FolderState Expected;
    } kCases[] = {
        {dir + "new\\deeper\\x.txt", 1, FolderState::Created},
        {dir + "new\\deeper\\y.txt", 1, FolderState::Existed},
        {dir + "new\\next", 0, FolderState::Created},
        {dir + "f\\g\\h.txt", 1, FolderState::Missing},
        {"", 1, FolderState::Missing},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(EnsureFolderPath(c.Path.c_str(), c.FileMode), c.Expected) << c.Path;
    EXPECT_TRUE(IsFolder(dir + "new\\next"));
}

TEST_F(DirectoryPathTest, MissingDriveAndOddPathsCreateNothing) {
    DWORD drives = GetLogicalDrives();
    char letter = 0;
    for (char c = 'Q'; c <= 'Y' && letter == 0; ++c)
        if (!(drives & (1u << (c - 'A'))))
            letter = c;
    ASSERT_NE(letter, 0);
    std::string missing = std::string(1, letter) + ":\\dirpath\\A\\f.txt";
    EXPECT_EQ(EnsureDirectoryPath(missing.c_str(), 1), 1);
    EXPECT_FALSE(PathExists(missing.substr(0, 10)));

    // No separator, empty, too long: nothing, not even relative folders.
    char current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, current), 0u);
    SetCurrentDirectoryA(dir.c_str());
    EXPECT_EQ(EnsureDirectoryPath("plainname", 0), 1);
    EXPECT_EQ(EnsureDirectoryPath("\x95\x5C", 0), 1);
    EXPECT_EQ(EnsureDirectoryPath("", 0), 1);
    EXPECT_EQ(EnsureDirectoryPath("", 1), 1);
    EXPECT_EQ(EnsureDirectoryPath(nullptr, 1), 1);
    std::string tooLong = dir + "long\\" + std::string(300 - dir.size(), 'n');
    EXPECT_EQ(EnsureDirectoryPath(tooLong.c_str(), 0), 1);
    EXPECT_EQ(EnsureDirectoryPath(tooLong.c_str(), 1), 1);
    SetCurrentDirectoryA(current);
    EXPECT_EQ(FolderEntries(dir).size(), 0u);
}

} // namespace
