#include "core/config_values.h"
#include "core/drive_choice.h"
#include "core/text_util.h"
#include "core/work_paths.h"
#include "native/tests/exact_bytes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// "澜枢" in GBK: two double-byte characters.
const std::string kTwoChars = "\xC0\xBD\xCA\xE0";

const std::vector<std::string>& Sources() {
    static const std::vector<std::string> sources = {
        "",
        "abc",
        "ab" + kTwoChars,
        kTwoChars + kTwoChars + "z",
        "a\x95\x5C\\b", // trail byte 0x5C, then a real separator
        "ab\xC0",       // lead byte with no trail byte
        std::string(40, 'x') + kTwoChars,
    };
    return sources;
}

TEST(BoundedText, CopyAndFormatStayInsideExactlySizedBuffers) {
    for (const std::string& source : Sources()) {
        std::vector<char> src = ExactText(source);
        for (size_t capacity = 1; capacity <= source.size() + 2; ++capacity) {
            size_t expected = GbkBoundaryAtOrBelow(src.data(), capacity - 1);
            ASSERT_LT(expected, capacity);
            ASSERT_EQ(GbkBoundaryAtOrBelow(src.data(), expected), expected) << "cut is a boundary";

            std::vector<char> copy(capacity, '#');
            EXPECT_EQ(CopyBounded(copy.data(), capacity, src.data()), expected);
            EXPECT_EQ(strlen(copy.data()), expected);
            EXPECT_EQ(memcmp(copy.data(), src.data(), expected), 0);

            std::vector<char> formatted(capacity, '#');
            size_t stored = FormatBounded(formatted.data(), capacity, "%s", src.data());
            EXPECT_EQ(stored, strlen(formatted.data()));
            EXPECT_EQ(GbkBoundaryAtOrBelow(formatted.data(), stored), stored);
            EXPECT_EQ(memcmp(formatted.data(), src.data(), stored), 0);

            std::vector<char> fits(capacity, '#');
            EXPECT_EQ(FormatFits(fits.data(), capacity, "%s", src.data()),
                      source.size() < capacity);
            EXPECT_LT(strlen(fits.data()), capacity);
        }
    }
}

TEST(BoundedText, ZeroCapacityAndFullBuffersAreLeftAlone) {
    char guard = '#';
    EXPECT_EQ(CopyBounded(&guard, 0, "abc"), 0u);
    EXPECT_EQ(FormatBounded(&guard, 0, "%s", "abc"), 0u);
    EXPECT_FALSE(FormatFits(&guard, 0, "%s", "abc"));
    EXPECT_EQ(guard, '#');

    std::vector<char> unterminated(8, 'x');
    EXPECT_EQ(AppendBounded(unterminated.data(), unterminated.size(), "abc"), 8u);
    EXPECT_EQ(std::string(unterminated.begin(), unterminated.end()), "xxxxxxxx");

    std::vector<char> buf(8, '\0');
    memcpy(buf.data(), "abcde", 5);
    EXPECT_EQ(AppendBounded(buf.data(), buf.size(), kTwoChars.c_str()), 7u) << "one whole char";
    EXPECT_EQ(AppendBounded(buf.data(), buf.size(), "z"), 7u) << "only the terminator's room left";
    EXPECT_EQ(std::string(buf.data()), "abcde\xC0\xBD");
}

TEST(BoundedText, LoneLeadBytesAndTrailBackslashesAtTheEnd) {
    EXPECT_EQ(GbkBoundaryAtOrBelow(ExactText("ab\xC0").data(), 10), 2u);
    EXPECT_EQ(GbkBoundaryAtOrBelow(ExactText("\xC0").data(), 1), 0u);
    EXPECT_EQ(GbkBoundaryAtOrBelow(ExactText("abc").data(), 0), 0u);
    EXPECT_EQ(FindLastSeparatorGbk(ExactText("a\\\xC0").data()), 1);
    EXPECT_EQ(FindLastSeparatorGbk(ExactText("\xC0\\").data()), -1);
    EXPECT_EQ(FindLastSeparatorGbk(ExactText("\\").data()), 0);
    EXPECT_EQ(FindLastSeparatorGbk(ExactText("").data()), -1);
    EXPECT_TRUE(EndsWithBackslashByte(ExactText("\x95\x5C").data()));
    EXPECT_FALSE(EndsWithBackslashByte(ExactText("").data()));
}

TEST(ConfigValues, IntegersWrapInsteadOfOverflowing) {
    auto parse = [](const std::string& text) { return ParseIniInteger(ExactText(text).data()); };
    EXPECT_EQ(parse("2147483647"), INT32_MAX);
    EXPECT_EQ(parse("2147483648"), INT32_MIN);
    EXPECT_EQ(parse("-2147483648"), INT32_MIN);
    EXPECT_EQ(parse("4294967295"), -1);
    EXPECT_EQ(parse("-4294967295"), 1);
    EXPECT_EQ(parse("4294967296"), 0);
    EXPECT_EQ(parse(" \t\r\n\v\f-5"), -5);
    EXPECT_EQ(parse("--5"), 0);
    EXPECT_EQ(parse("+-5"), 0);
    EXPECT_EQ(parse("5 6"), 5);
    EXPECT_EQ(parse("-"), 0);
    // A thousand digits: the sanitizer would stop on signed overflow here.
    parse(std::string(1000, '9'));
    parse("-" + std::string(1000, '9'));
}

TEST(ConfigValues, FolderSeparatorStaysInsideTinyAndUnterminatedFields) {
    auto append = [](std::vector<char> field) {
        AppendFolderSeparator(field.data(), field.size());
        return field;
    };
    EXPECT_EQ(append({'\0'}), (std::vector<char>{'\0'}));
    EXPECT_EQ(append({'a', '\0'}), (std::vector<char>{'a', '\0'})) << "no room";
    EXPECT_EQ(append({'a', '\0', '\0'}), (std::vector<char>{'a', '\\', '\0'}));
    EXPECT_EQ(append({'a', 'b', 'c', 'd'}), (std::vector<char>{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(append({'\x95', '\x5C', '\0', '\0'}), (std::vector<char>{'\x95', '\x5C', '\0', '\0'}))
        << "only the last byte is looked at";
    char guard = '#';
    AppendFolderSeparator(&guard, 0);
    EXPECT_EQ(guard, '#');
}

TEST(WorkPaths, ExactFitSucceedsAndOneByteLessIsRefused) {
    for (size_t tempLength : {0u, 3u, 200u, 250u}) {
        std::vector<char> temp = ExactText(std::string(tempLength, 'T'));
        size_t dirLength = tempLength + 13; // "MDPX" + 8 digits + "\"
        std::vector<char> dir(dirLength + 1);
        ASSERT_TRUE(MakeWorkDirPath(dir.data(), dir.size(), temp.data(), 0xFFFFFFFFu));
        EXPECT_EQ(strlen(dir.data()), dirLength);
        std::vector<char> shortDir(dirLength);
        EXPECT_FALSE(MakeWorkDirPath(shortDir.data(), shortDir.size(), temp.data(), 7));
        EXPECT_LT(strlen(shortDir.data()), shortDir.size());

        std::vector<char> ini(dirLength + 12 + 1);
        ASSERT_TRUE(MakeConfigPath(ini.data(), ini.size(), dir.data(), 0xFFFFFFFFu));
        EXPECT_EQ(strlen(ini.data()), dirLength + 12);
        std::vector<char> shortIni(dirLength + 12);
        EXPECT_FALSE(MakeConfigPath(shortIni.data(), shortIni.size(), dir.data(), 1));
        EXPECT_LT(strlen(shortIni.data()), shortIni.size());
    }
}

TEST(DriveChoice, ReadsOnlyTheGivenCount) {
    const unsigned F = kDriveTypeFixed;
    std::vector<unsigned> one{F};
    EXPECT_EQ(ChooseDriveIndex(one.data(), one.size()), 0);
    std::vector<unsigned> noSecondFixed{F, 5, 2, 4};
    EXPECT_EQ(ChooseDriveIndex(noSecondFixed.data(), noSecondFixed.size()), 3);
    std::vector<unsigned> fixedAtEnd{5, F, 2, F};
    EXPECT_EQ(ChooseDriveIndex(fixedAtEnd.data(), fixedAtEnd.size()), 3);
    EXPECT_EQ(ChooseDriveIndex(nullptr, 0), -1);
}

} // namespace
