#include "install/scratch_files.h"

#include "tests/install/postinstall_helpers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

const char kWork[] = "C:\\work\\MDPX0000ABCD\\";

TEST(ScratchFiles, WritableCurrentFolderKeepsTheBareNameAndNoProbe) {
    std::string dir = MakeScratchDir("scratch_files");
    ScopedCurrentDir cwd(dir);
    char path[MAX_PATH];
    ASSERT_TRUE(ScratchFilePath(path, sizeof path, "run.tmp", kWork));
    EXPECT_STREQ("run.tmp", path);
    EXPECT_TRUE(FolderAcceptsNewFiles(dir.c_str()));
    EXPECT_TRUE(FolderEntries(dir).empty()) << FolderEntries(dir)[0];
}

TEST(ScratchFiles, UnwritableCurrentFolderFallsBackToTheWorkFolder) {
    std::string unwritable = UnwritableFolder();
    if (unwritable.empty())
        GTEST_SKIP() << "no folder here refuses new files (Wine as root writes read-only ones)";
    ScopedCurrentDir cwd(unwritable);
    EXPECT_FALSE(FolderAcceptsNewFiles(""));
    EXPECT_FALSE(FolderAcceptsNewFiles(unwritable.c_str()));
    char path[MAX_PATH];
    ASSERT_TRUE(ScratchFilePath(path, sizeof path, "errlog.log", kWork));
    EXPECT_EQ(std::string(kWork) + "errlog.log", path);
    // A fallback that does not fit is refused, never cut.
    std::string deep = "C:\\" + std::string(250, 'w') + "\\";
    EXPECT_FALSE(ScratchFilePath(path, sizeof path, "errlog.log", deep.c_str()));
}

} // namespace
