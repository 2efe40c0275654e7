// Rules of the wizard pages that need no window, and the caption font.
#include "wizard/wizard_pages.h"

#include "core/text_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

PackageHeader Sizes(uint32_t server, uint32_t client, uint32_t database) {
    PackageHeader header = {};
    header.ServerBytes = server;
    header.ClientBytes = client;
    header.DatabaseBytes = database;
    return header;
}

TEST(LocationRules, RequiredBytesFollowTheChosenSides) {
    PackageHeader header = Sizes(300, 20, 4000);
    EXPECT_EQ(RequiredBytes(header, 1, 1), 4320u);
    EXPECT_EQ(RequiredBytes(header, 1, 0), 4300u);
    EXPECT_EQ(RequiredBytes(header, 0, 1), 20u);
    EXPECT_EQ(RequiredBytes(header, 0, 0), 0u);
    // Without a server group the database goes with the client side.
    PackageHeader personal = Sizes(0, 20, 4000);
    EXPECT_EQ(RequiredBytes(personal, 0, 1), 4020u);
    EXPECT_EQ(RequiredBytes(personal, 1, 0), 4020u);
    // Sums are 32-bit, as the index stores them.
    EXPECT_EQ(RequiredBytes(Sizes(0xFFFFFFFFu, 2, 0), 1, 1), 1u);
}

TEST(LocationRules, RequiredSpaceCountsMebibytes) {
    // Each value rounds to another whole number with 1,000,000 bytes a megabyte.
    const struct {
        uint32_t Bytes;
        const char* Text;
    } kCases[] = {
        {100u * 1048576u, "所需空间：100MB"}, // 105 in millions
        {1500000u, "所需空间：1MB"},          // 1.43 MiB; 1.5 in millions
        {524287u, "所需空间：0MB"},           // just under half a MiB
        {0xFFFFFFFFu, "所需空间：4096MB"},    // 4295 in millions
    };
    for (const auto& c : kCases) {
        char text[260];
        FormatRequiredSpace(text, sizeof text, c.Bytes);
        EXPECT_STREQ(text, c.Text) << c.Bytes << " bytes";
    }
}

TEST(LocationRules, SpaceTextsRoundToWholeUnits) {
    char text[260];
    FormatRequiredSpace(text, sizeof text, 0);
    EXPECT_STREQ(text, "所需空间：0MB");
    FormatRequiredSpace(text, sizeof text, 3u * 1048576u + 600000u);
    EXPECT_STREQ(text, "所需空间：4MB");
    FormatAvailableSpace(text, sizeof text, 70ull << 30);
    EXPECT_STREQ(text, "可用空间：70G");
    FormatAvailableSpace(text, sizeof text, (2ull << 30) - (100ull << 20));
    EXPECT_STREQ(text, "可用空间：2G");
    FormatAvailableSpace(text, sizeof text, 0);
    EXPECT_STREQ(text, "可用空间：0G");
}

TEST(LocationRules, TagFolderIsAppendedOnce) {
    char dir[520] = "D:\\";
    ApplyTagFolder(dir, sizeof dir, "澜枢软件\\");
    EXPECT_STREQ(dir, "D:\\澜枢软件\\");
    ApplyTagFolder(dir, sizeof dir, "澜枢软件\\");
    EXPECT_STREQ(dir, "D:\\澜枢软件\\");
    char picked[520] = "E:\\Apps\\澜枢软件\\old\\";
    ApplyTagFolder(picked, sizeof picked, "澜枢软件\\");
    EXPECT_STREQ(picked, "E:\\Apps\\澜枢软件\\old\\");
    char untouched[520] = "E:\\";
    ApplyTagFolder(untouched, sizeof untouched, "");
    EXPECT_STREQ(untouched, "E:\\");
    // A folder of 259 bytes plus a tag of 259 bytes still fits the field.
    char longDir[520];
    std::string folder(258, 'a');
    folder += '\\';
    std::string tag(258, 'b');
    tag += '\\';
    CopyBounded(longDir, sizeof longDir, folder.c_str());
    ApplyTagFolder(longDir, sizeof longDir, tag.c_str());
    EXPECT_EQ(strlen(longDir), 518u);
}

TEST(FinishText, ShowsSuccessOrTheRecordedFailure) {
    char text[260];
    FormatFinishText(text, sizeof text, 0, "ignored");
    EXPECT_STREQ(text, "澜枢软件已安装完成。\r\n\r\n单击 [完成(F)] 关闭此向导。");
    FormatFinishText(text, sizeof text, 1, "用户终止。");
    EXPECT_STREQ(text, "用户终止。\r\n\r\n单击 [完成(F)] 关闭此向导。");
}

TEST(FinishText, LongFailureIsCutAtACharacterAndKeepsTheHint) {
    std::string error;
    while (error.size() < 259)
        error += "错";
    error.resize(259 - 1); // 129 characters of two bytes
    char text[260];
    FormatFinishText(text, sizeof text, 1, error.c_str());
    std::string shown = text;
    const std::string hint = "\r\n\r\n单击 [完成(F)] 关闭此向导。";
    ASSERT_GE(shown.size(), hint.size());
    EXPECT_EQ(shown.substr(shown.size() - hint.size()), hint);
    std::string kept = shown.substr(0, shown.size() - hint.size());
    EXPECT_EQ(kept.size() % 2, 0u) << "a double-byte character was split";
    EXPECT_EQ(kept, error.substr(0, kept.size()));
    EXPECT_LE(shown.size(), 259u);
}

TEST(TitleFont, IsBoldTahomaOfTheAskedHeight) {
    HFONT font = MakeTitleFont(14);
    ASSERT_NE(font, nullptr);
    LOGFONTA described = {};
    ASSERT_EQ(GetObjectA(font, sizeof described, &described), static_cast<int>(sizeof described));
    EXPECT_EQ(described.lfHeight, 14);
    EXPECT_EQ(described.lfWeight, FW_BOLD);
    EXPECT_EQ(described.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(described.lfPitchAndFamily, VARIABLE_PITCH);
    EXPECT_STREQ(described.lfFaceName, "Tahoma");
    DeleteObject(font);
}

} // namespace
