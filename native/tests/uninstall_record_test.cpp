// The uninstaller's record: round trips, refusal of unreadable records, and
// the path rules that keep a tampered record inside the install folder.
#include "native/tests/exact_bytes.h"
#include "record/uninstall_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kHeader[] = "MDPX-UNINSTALL 1\r\n";

RecordError Parse(const std::string& text, UninstallRecord* record, size_t* badLine = nullptr) {
    // The text in a heap block of exactly its size: a read past it is reported.
    std::vector<char> bytes = ExactBytes(text);
    return ParseUninstallRecord(bytes.empty() ? nullptr : bytes.data(), bytes.size(), record,
                                badLine);
}

TEST(UninstallRecord, RoundTripKeepsEveryItem) {
    UninstallRecord record;
    record.Product = "\xC0\xBD\xCA\xE0软件";
    record.Version = "v2.0.0.1";
    record.KeyName = UninstallKeyForProduct(record.Product);
    record.Services = {"VTR NetWork Mysql"};
    record.Links = {{LinkPlace::StartMenu, "a.lnk"}, {LinkPlace::QuickLaunch, "b c.lnk"}};
    record.BackupFolders = {"VTRServer\\2026.12.09.3"};
    record.Folders = {"VTRServer\\Mysql\\bin", "VTRServer"};
    record.Files = {{"VTRServer\\a b.exe", 0, 0},
                    {"VTRServer\\Mysql\\bin\\x", 1ull << 40, 0x01DB49D2A1B2C3D4ull}};
    std::string text = FormatUninstallRecord(record);
    UninstallRecord back;
    ASSERT_EQ(Parse(text, &back), RecordError::kOk);
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
    EXPECT_EQ(back.Files[1].WriteTime, record.Files[1].WriteTime);
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
        {"MDPX-UNINSTALL 2\r\nN x\r\n", RecordError::kOtherVersion, 1},
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
        {std::string(kHeader) + "N\r\n", RecordError::kMalformed, 2},
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
