#include "core/config_values.h"
#include "core/drive_choice.h"
#include "install/setup_config.h"
#include "core/text_util.h"
#include "core/work_paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SetupContext LoadConfig(const std::string& iniText) {
    std::string dir = MakeScratchDir("config_test");
    std::string path = dir + "setup.tmp";
    EXPECT_TRUE(WriteBytes(path, iniText));
    SetupContext context;
    memset(&context, 0, sizeof context);
    CopyBounded(context.ConfigPath, sizeof context.ConfigPath, path.c_str());
    EXPECT_EQ(LoadSetupConfig(context), 1);
    return context;
}

TEST(SetupConfig, LoadsTheShippedValuesWithFolderSeparators) {
    SetupContext context = LoadConfig(SampleConfigText());
    EXPECT_STREQ(context.AppName, "澜枢软件");
    EXPECT_STREQ(context.AppVersion, "v2.0.0.1");
    EXPECT_STREQ(context.TagFolder, "澜枢软件\\");
    EXPECT_STREQ(context.VirSer, "VTRServer\\");
    EXPECT_STREQ(context.VirCli, "VTRClient\\");
    EXPECT_STREQ(context.VirDB, "VTRServer\\Mysql\\");
    EXPECT_EQ(context.StartMenu, 1);
    EXPECT_EQ(context.Desktop, 1);
    EXPECT_EQ(context.QuickStart, 1);
    EXPECT_EQ(context.ProgramMg, 1);
    EXPECT_EQ(context.DB2, 1);
}

TEST(SetupConfig, ValueRulesForTextsIntegersAndFolders) {
    // "\x95\x5C" is one GBK character whose trail byte is a backslash.
    SetupContext context = LoadConfig("[INFO]\r\n"
                                      "AppName=\"Quoted Name\"\r\n"
                                      "AppVersion=1234567890123456789012345\r\n"
                                      "[shortcut]\r\n"
                                      "startmenu= 2x\r\n"
                                      "Desktop=abc\r\n"
                                      "QuickStart=-3\r\n"
                                      "[SETUP]\r\n"
                                      ";ProgramMg=1\r\n"
                                      "TagFolder=\x95\x5C\r\n"
                                      "VirSer=  'Server'  \r\n"
                                      "VirCli=\r\n"
                                      "VirDB=DB\\\r\n");
    EXPECT_STREQ(context.AppName, "Quoted Name");
    EXPECT_STREQ(context.AppVersion, "1234567890123456789") << "cut to 19 characters";
    EXPECT_EQ(context.StartMenu, 2);
    EXPECT_EQ(context.Desktop, 0);
    EXPECT_EQ(context.QuickStart, -3);
    EXPECT_EQ(context.ProgramMg, 0) << "a commented key is not an entry";
    EXPECT_EQ(context.DB2, 0);
    EXPECT_STREQ(context.TagFolder, "\x95\x5C") << "last byte is a backslash: nothing appended";
    EXPECT_STREQ(context.VirSer, "Server\\");
    EXPECT_STREQ(context.VirCli, "") << "an empty folder stays empty";
    EXPECT_STREQ(context.VirDB, "DB\\");
}

TEST(SetupConfig, MissingFileGivesEmptyTextsAndZeros) {
    SetupContext context;
    memset(&context, 0, sizeof context);
    CopyBounded(context.ConfigPath, sizeof context.ConfigPath, "D:\\no\\such\\file.tmp");
    EXPECT_EQ(LoadSetupConfig(context), 1);
    EXPECT_STREQ(context.AppName, "");
    EXPECT_STREQ(context.TagFolder, "");
    EXPECT_EQ(context.Desktop, 0);
}

TEST(ConfigValues, IntegersParseLikeAtoi) {
    EXPECT_EQ(ParseIniInteger("1"), 1);
    EXPECT_EQ(ParseIniInteger(" 2x"), 2);
    EXPECT_EQ(ParseIniInteger("abc"), 0);
    EXPECT_EQ(ParseIniInteger(""), 0);
    EXPECT_EQ(ParseIniInteger("+7"), 7);
    EXPECT_EQ(ParseIniInteger("-12"), -12);
    EXPECT_EQ(ParseIniInteger("99999999999"), static_cast<int32_t>(99999999999ll & 0xFFFFFFFF));
}

TEST(ConfigValues, FolderSeparatorUsesTheLastByteAndNeverOverflows) {
    char field[260] = "VTRServer";
    AppendFolderSeparator(field, sizeof field);
    EXPECT_STREQ(field, "VTRServer\\");
    AppendFolderSeparator(field, sizeof field);
    EXPECT_STREQ(field, "VTRServer\\");
    char full[260];
    memset(full, 'a', 259);
    full[259] = '\0';
    AppendFolderSeparator(full, sizeof full);
    EXPECT_EQ(strlen(full), 259u) << "no room for the separator: the value is kept as read";
}

TEST(DriveChoice, SecondFixedDriveElseTheLastDrive) {
    const unsigned F = kDriveTypeFixed, CD = 5, REMOVABLE = 2;
    unsigned twoFixed[] = {F, F};
    EXPECT_EQ(ChooseDriveIndex(twoFixed, 2), 1);
    unsigned fixedCdFixed[] = {F, CD, F};
    EXPECT_EQ(ChooseDriveIndex(fixedCdFixed, 3), 2);
    unsigned fixedCd[] = {F, CD};
    EXPECT_EQ(ChooseDriveIndex(fixedCd, 2), 1) << "the last drive, although not fixed";
    unsigned fixedFixedRemovable[] = {F, F, REMOVABLE};
    EXPECT_EQ(ChooseDriveIndex(fixedFixedRemovable, 3), 1);
    unsigned single[] = {CD};
    EXPECT_EQ(ChooseDriveIndex(single, 1), 0);
    EXPECT_EQ(ChooseDriveIndex(nullptr, 0), -1);
}

TEST(DriveChoice, DefaultDriveOfThePrefixIsDriveD) {
    // The test prefix has C:, D: (ours) and Z:, all fixed.
    char out[520] = "previous";
    EXPECT_EQ(ChooseDefaultDrive(out), out);
    EXPECT_STREQ(out, "D:\\");
}

TEST(WorkPaths, NamesFollowTheTickCount) {
    char dir[260], ini[260];
    ASSERT_TRUE(MakeWorkDirPath(dir, sizeof dir, "C:\\TEMP\\", 1000));
    EXPECT_STREQ(dir, "C:\\TEMP\\MDPX00009300\\"); // 1000 * 8392 / 223 = 0x9300
    EXPECT_EQ(WorkFolderNumber(0xFFFFFFFFu), (0xFFFFFFFFu * 8392u) / 223u);
    ASSERT_TRUE(MakeConfigPath(ini, sizeof ini, dir, 1));
    EXPECT_STREQ(ini, "C:\\TEMP\\MDPX00009300\\0000FF00.tmp");
    std::string longTemp(234, 'T');
    EXPECT_TRUE(MakeWorkDirPath(dir, sizeof dir, longTemp.c_str(), 5));
    EXPECT_TRUE(MakeConfigPath(ini, sizeof ini, dir, 5));
    longTemp += 'T';
    EXPECT_TRUE(MakeWorkDirPath(dir, sizeof dir, longTemp.c_str(), 5));
    EXPECT_FALSE(MakeConfigPath(ini, sizeof ini, dir, 5)) << "too long: refused, not cut";
}

TEST(TextUtil, CutsAtCharacterBoundaries) {
    char buf[6];
    EXPECT_EQ(FormatBounded(buf, sizeof buf, "%s", "ab澜枢"), 4u) << "no half character at the cut";
    EXPECT_STREQ(buf, "ab澜");
    EXPECT_EQ(CopyBounded(buf, sizeof buf, "abc"), 3u);
    EXPECT_EQ(AppendBounded(buf, sizeof buf, "defg"), 5u);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(FindLastSeparatorGbk("a\\\x95\x5C"), 1) << "trail byte 0x5C is not a separator";
    EXPECT_EQ(FindLastSeparatorGbk("abc"), -1);
}

} // namespace
