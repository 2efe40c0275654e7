// Runs last (files and tests are taken in name order): prints the table of
// every fault case recorded in this build's results folder.
#include "tests/support/fault_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace {

// The results are GBK; the log that shows this is read as UTF-8.
std::string GbkToUtf8(const std::string& text) {
    int wide = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring buffer(wide, L'\0');
    MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &buffer[0], wide);
    int narrow = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(narrow, '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, &out[0], narrow, nullptr, nullptr);
    return out;
}

} // namespace

TEST(ReliabilitySummary, PrintsTheTableOfEveryCase) {
    std::string table = ResultsTable();
    printf("\nReliability under faults (results in %s\\reliability):\n%s\n", TEST_SCRATCH_DIR,
           GbkToUtf8(table).c_str());
    fflush(stdout);
    EXPECT_NE(table.find("\n| "), std::string::npos) << "no case recorded a result";
}
