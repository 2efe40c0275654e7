// The manifests of the setup program and of the uninstaller it carries, read
// back from the built programs: administrator rights, Common Controls 6, the
// Windows versions the programs were made for, and DPI awareness.
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ManifestOf(const std::string& exePath) {
    HMODULE module = LoadLibraryExA(exePath.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module)
        return "";
    std::string text;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (found) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        if (data)
            text.assign(data, SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

// Collapses runs of white space, so the checks do not depend on line breaks.
std::string Flat(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (space && (out.empty() || out.back() == ' '))
            continue;
        out.push_back(space ? ' ' : c);
    }
    return out;
}

TEST(Manifests, NameWindows7To11AdministratorCommonControlsAndDpiAwareness) {
    const char* const kRequired[] = {
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>", // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>", // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", // 10 and 11
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">system"
        "</dpiAwareness>",
    };
    for (const char* program : {"setup.exe", "MDPX-Uninstall.exe"}) {
        SCOPED_TRACE(program);
        std::string manifest = Flat(ManifestOf(BinPath(program)));
        ASSERT_FALSE(manifest.empty()) << "no manifest resource";
        for (const char* required : kRequired)
            EXPECT_NE(manifest.find(required), std::string::npos) << required;
        // Per-monitor awareness would need the program to lay itself out again
        // on every move between screens; it does not.
        EXPECT_EQ(manifest.find("PerMonitor"), std::string::npos);
    }
}

} // namespace
