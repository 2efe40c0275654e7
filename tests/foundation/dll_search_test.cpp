#include "core/dll_search.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

// planted.dll lies in the test programs' folder, which the default search
// looks at first, and is put into the current folder too.
TEST(DllSearch, PlantedDllBesideTheProgramIsNotLoadedOnceRestricted) {
    std::string dir = MakeScratchDir("dll_search");
    ASSERT_TRUE(CopyFileA(BinPath("planted.dll").c_str(), (dir + "planted.dll").c_str(), FALSE));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));

    HMODULE before = LoadLibraryA("planted.dll");
    ASSERT_NE(nullptr, before) << "the default search should find it (precondition)";
    FreeLibrary(before);

    RestrictDllSearchToSystemFolder();
    EXPECT_EQ(nullptr, LoadLibraryA("planted.dll"));
    HMODULE system = LoadLibraryA("version.dll");
    EXPECT_NE(nullptr, system);
    if (system != nullptr)
        FreeLibrary(system);
    SetCurrentDirectoryA(previous);
}

} // namespace
