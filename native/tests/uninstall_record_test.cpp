// The uninstaller's record: round trips, refusal of unreadable records, and
// the path rules that keep a tampered record inside the install folder.
#include "native/tests/exact_bytes.h"
#include "record/uninstall_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Version 1 (GBK, write times) is still read; version 2 is what is written.
const char kHeader[] = "MDPX-UNINSTALL 1\r\n";
const char kHeaderV2[] = "MDPX-UNINSTALL 2\r\n";

RecordError Parse(const std::string& text, UninstallRecord* record, size_t* badLine = nullptr) {
    // The text in a heap block of exactly its size: a read past it is reported.
    std::vector<char> bytes = ExactBytes(text);
    return ParseUninstallRecord(bytes.empty() ? nullptr : bytes.data(), bytes.size(), record,
                                badLine);
}

TEST(UninstallRecord, RoundTripKeepsEveryItem) {
    UninstallRecord record;
    record.Product = "澜枢软件";
    record.Version = "v2.0.0.1";
    record.KeyName = UninstallKeyForProduct(record.Product);
    record.Services = {"VTR NetWork Mysql"};
    record.Links = {{LinkPlace::StartMenu, "a.lnk"}, {LinkPlace::QuickLaunch, "b c.lnk"}};
    record.BackupFolders = {"VTRServer\\2026.12.09.3"};
    record.Folders = {"VTRServer\\Mysql\\bin", "VTRServer"};
    record.Files = {{"VTRServer\\a b.exe", 0, 0, 0},
                    {"VTRServer\\Mysql\\澜枢\\x", 1ull << 40, 0, 0xA1B2C3D4u}};
    std::string text = FormatUninstallRecord(record);
    EXPECT_EQ(text.substr(0, 18), kHeaderV2);
    UninstallRecord back;
    ASSERT_EQ(Parse(text, &back), RecordError::kOk);
    EXPECT_EQ(back.FormatVersion, 2);
    EXPECT_EQ(RecordCodePage(back), kRecordCodePageUtf8);
    EXPECT_EQ(back.Product, record.Product);
    EXPECT_EQ(back.Version, record.Version);
    EXPECT_EQ(back.KeyName, record.KeyName);
    EXPECT_EQ(back.Services, record.Services);
    ASSERT_EQ(back.Links.size(), 2u);
    EXPECT_EQ(back.Links[1].Place, LinkPlace::QuickLaunch);
    EXPECT_EQ(back.Links[1].Name, "b c.lnk");
    EXPECT_EQ(back.BackupFolders, record.BackupFolders);
    EXPECT_EQ(back.Folders, record.Folders);
    ASSERT_EQ(back.Files.size(), 2u);
    EXPECT_EQ(back.Files[1].Path, record.Files[1].Path);
    EXPECT_EQ(back.Files[1].Size, record.Files[1].Size);
    EXPECT_EQ(back.Files[1].Crc, record.Files[1].Crc);
    EXPECT_TRUE(back.Refused.empty());
    // Bare line feeds are read too.
    std::string lf = text;
    for (size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at))
        lf.erase(at, 1);
    ASSERT_EQ(Parse(lf, &back), RecordError::kOk);
    EXPECT_EQ(back.Files.size(), 2u);
}

TEST(UninstallRecord, UnreadableRecordsAreRefusedWhole) {
    const struct {
        std::string Text;
        RecordError Expected;
        size_t BadLine;
    } cases[] = {
        {"", RecordError::kEmpty, 0},
        {"MDPX-UNINSTALL 3\r\nN x\r\n", RecordError::kOtherVersion, 1},
        {"MDPX-UNINSTALL\r\n", RecordError::kNotARecord, 1},
        {"PK\x03\x04 binary", RecordError::kNotARecord, 1},
        {std::string(kHeader) + "X something\r\n", RecordError::kMalformed, 2},
        {std::string(kHeader) + "N ok\r\nF 12 0123 a.txt\r\n", RecordError::kMalformed, 3},
        {std::string(kHeader) + "F -1 0000000000000000 a.txt\r\n", RecordError::kMalformed, 2},
        {std::string(kHeader) + "F 1 000000000000000G a.txt\r\n", RecordError::kMalformed, 2},
        {std::string(kHeader) + "F 1 0000000000000000\r\n", RecordError::kMalformed, 2},
        {std::string(kHeader) + "L X a.lnk\r\n", RecordError::kMalformed, 2},
        {std::string(kHeader) + std::string("N a\0b\r\n", 7), RecordError::kMalformed, 2},
        {std::string(kHeader) + "N a\rb\r\n", RecordError::kMalformed, 2},
        {std::string(kHeader) + "K\r\n", RecordError::kMalformed, 2},
        // Version 2: UTF-8 only, a CRC of 8 hex digits.
        {std::string(kHeaderV2) + "N \xC0\xBD\r\n", RecordError::kMalformed, 2},
        {std::string(kHeaderV2) + "N \xE6\xBE\r\n", RecordError::kMalformed, 2},
        {std::string(kHeaderV2) + "N \xED\xA0\x80\r\n", RecordError::kMalformed, 2},
        {std::string(kHeaderV2) + "F 1 0000000000000001 a.txt\r\n", RecordError::kMalformed, 2},
        {std::string(kHeaderV2) + "F 1 0000000G a.txt\r\n", RecordError::kMalformed, 2},
    };
    for (const auto& c : cases) {
        UninstallRecord record;
        record.Product = "left over";
        size_t badLine = 99;
        EXPECT_EQ(Parse(c.Text, &record, &badLine), c.Expected) << c.Text;
        EXPECT_EQ(badLine, c.BadLine) << c.Text;
        EXPECT_TRUE(record.Product.empty() && record.Files.empty()) << c.Text;
    }
    UninstallRecord record;
    std::string huge(kUninstallRecordMaxBytes + 1, 'x');
    EXPECT_EQ(ParseUninstallRecord(huge.data(), huge.size(), &record), RecordError::kTooLarge);
    EXPECT_EQ(ParseUninstallRecord(nullptr, 0, &record), RecordError::kEmpty);
}

// Items that could reach outside the install folder are not taken but listed.
TEST(UninstallRecord, ItemsLeavingTheInstallFolderAreRefusedAndNamed) {
    const std::string refused[] = {
        "F 1 0000000000000001 ..\\outside.txt",
        "F 1 0000000000000001 a\\..\\..\\outside.txt",
        "F 1 0000000000000001 C:\\Windows\\win.ini",
        "F 1 0000000000000001 \\\\server\\share\\x",
        "F 1 0000000000000001 \\rooted.txt",
        "F 1 0000000000000001 /rooted.txt",
        "F 1 0000000000000001 a/../../x",
        "F 1 0000000000000001 a\\...\\x",
        "F 1 0000000000000001 a\\*.txt",
        "F 1 0000000000000001 file.txt:stream",
        "F 1 0000000000000001 " + std::string(260, 'a'),
        "D ..",
        "D .",
        "B D:\\other",
        "L S ..\\..\\Windows\\x.lnk",
        "L D notalink.exe",
        "L Q .lnk",
        "K Software\\Other",
        "S Spooler",
    };
    std::string text = kHeader;
    for (const std::string& line : refused)
        text += line + "\r\n";
    text += "F 3 0000000000000002 VTRServer\\ok.txt\r\n";
    UninstallRecord record;
    ASSERT_EQ(Parse(text, &record), RecordError::kOk);
    ASSERT_EQ(record.Files.size(), 1u);
    EXPECT_EQ(record.Files[0].Path, "VTRServer\\ok.txt");
    EXPECT_TRUE(record.Folders.empty() && record.BackupFolders.empty() && record.Links.empty() &&
                record.Services.empty() && record.KeyName.empty());
    ASSERT_EQ(record.Refused.size(), sizeof refused / sizeof refused[0]);
    EXPECT_EQ(record.Refused[0], "1 0000000000000001 ..\\outside.txt");
}

// A product without a name or a version can still be uninstalled.
TEST(UninstallRecord, EmptyNameAndVersionAreRead) {
    UninstallRecord record;
    record.KeyName = UninstallKeyForProduct("");
    std::string text = FormatUninstallRecord(record);
    UninstallRecord back;
    back.Product = "left over";
    ASSERT_EQ(Parse(text, &back), RecordError::kOk) << text;
    EXPECT_EQ(back.Product, "");
    EXPECT_EQ(back.Version, "");
    EXPECT_EQ(back.KeyName, "MDPX Setup");
    ASSERT_EQ(Parse(std::string(kHeader) + "N\r\nV\r\n", &back), RecordError::kOk);
}

// In UTF-8 no byte of a character is taken for a separator or a dot, and
// the limit counts characters as the system does (UTF-16 units).
TEST(UninstallRecord, Utf8ItemsLeavingTheInstallFolderAreRefused) {
    const std::string refused[] = {
        "F 1 00000001 澜\\..\\..\\outside.txt",
        "F 1 00000001 ..\\outside.txt",
        "F 1 00000001 C:\\澜枢\\x",
        "F 1 00000001 " + std::string(260, 'a'),
        "D 澜\\..",
        "L S 澜\\..\\x.lnk",
        "K MDPX 澜\\x",
    };
    std::string text = kHeaderV2;
    for (const std::string& line : refused)
        text += line + "\r\n";
    std::string longName;
    for (int i = 0; i < 259; ++i)
        longName += "澜"; // 777 bytes, 259 characters
    text += "F 3 0000000A 澜枢\\ok.txt\r\nF 3 0000000B " + longName + "\r\n";
    UninstallRecord record;
    ASSERT_EQ(Parse(text, &record), RecordError::kOk);
    ASSERT_EQ(record.Files.size(), 2u);
    EXPECT_EQ(record.Files[0].Path, "澜枢\\ok.txt");
    EXPECT_EQ(record.Files[0].Crc, 0xAu);
    EXPECT_EQ(record.Refused.size(), sizeof refused / sizeof refused[0]);
    EXPECT_FALSE(IsContainedRelativePath(longName + "a", kRecordCodePageUtf8));
    EXPECT_TRUE(IsSafeLinkName("卸载澜枢软件.lnk", kRecordCodePageUtf8));
    EXPECT_TRUE(IsSafeKeyName("MDPX 澜枢软件", kRecordCodePageUtf8));
}

TEST(UninstallRecord, Utf8Validation) {
    EXPECT_TRUE(IsWellFormedUtf8(""));
    EXPECT_TRUE(IsWellFormedUtf8("a澜\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsWellFormedUtf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(IsWellFormedUtf8("\xE0\x80\xAF"));     // overlong '/'
    EXPECT_FALSE(IsWellFormedUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(IsWellFormedUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(IsWellFormedUtf8("\xE6\xBE"));         // cut short
    EXPECT_FALSE(IsWellFormedUtf8("\x80"));
}

TEST(UninstallRecord, PathRules) {
    const struct {
        std::string Path;
        bool Contained;
    } cases[] = {
        {"a.txt", true},
        {"VTRServer\\Mysql\\data\\ibdata1", true},
        {"a\x95\x5C"
         "b.txt",
         true}, // trail byte 0x5C is not a separator
        {"\xC0\xBD\xCA\xE0\\x", true},
        {std::string(259, 'a'), true},
        {std::string(260, 'a'), false},
        {"", false},
        {"..", false},
        {"a\\..", false},
        {"a\\\\b", false},
        {"a\\", false},
        {"a\\ . \\b", false},
        {"C:x", false},
        {"a\x01"
         "b",
         false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsContainedRelativePath(c.Path), c.Contained) << c.Path;
    EXPECT_TRUE(IsSafeLinkName("卸载澜枢软件.lnk"));
    EXPECT_TRUE(IsSafeLinkName("A.LNK"));
    EXPECT_FALSE(IsSafeLinkName("a\\b.lnk"));
    EXPECT_FALSE(IsSafeLinkName("a.lnk.exe"));
    EXPECT_TRUE(IsSafeKeyName("MDPX \xC0\x5C")); // trail byte 0x5C, not a key separator
    EXPECT_FALSE(IsSafeKeyName("a\\b"));
    EXPECT_FALSE(IsSafeKeyName(""));
}

TEST(UninstallRecord, KeyIsTheProductsWhateverTheVersion) {
    EXPECT_EQ(UninstallKeyForProduct("App"), "MDPX App");
    EXPECT_EQ(UninstallKeyForProduct(""), "MDPX Setup");
    EXPECT_EQ(UninstallKeyForProduct("a\\b"), "MDPX a_b");
    std::string longName;
    for (int i = 0; i < 150; ++i)
        longName += "\xC0\xBD";
    std::string key = UninstallKeyForProduct(longName);
    EXPECT_LE(key.size(), 185u);
    EXPECT_TRUE(IsSafeKeyName(key));
    EXPECT_EQ((key.size() - 5) % 2, 0u); // no character cut in half
}

} // namespace
