// Every wizard page laid out at the screen's DPI: the side and header pictures
// fill their panels, no static text is cut, and every control keeps its place
// and size in dialog units. Runs at the prefix's DPI; at_dpi.sh runs it again
// with the prefix at 144 and 192 DPI (SETUP_TEST_DPI names the DPI expected).
#include "tests/e2e/e2e_support.h"

#include "resources/resource_ids.h"
#include "wizard/wizard_pages.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

std::wstring WideText(HWND window) {
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text));
    return text;
}

int Id(HWND window) {
    return static_cast<int>(GetWindowLongPtrA(window, GWLP_ID));
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

LONG_PTR StyleOf(HWND window) {
    return GetWindowLongPtrA(window, GWL_STYLE);
}

// A child's rectangle in its parent's client coordinates.
RECT PlaceIn(HWND parent, HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// Children in z-order, each named by id, class and how many of the same id
// and class came before it: the frame moves its header band to the bottom,
// so only these names, not positions, pair a running dialog with its copy.
// Pages (child dialogs) are left out.
std::map<std::string, HWND> Children(HWND parent) {
    std::map<std::string, HWND> named;
    std::map<std::string, int> seen;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "#32770")
            continue;
        std::string key = std::to_string(Id(child)) + " " + ClassOf(child);
        named[key + " #" + std::to_string(seen[key]++)] = child;
    }
    return named;
}

class PageLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Physical pixels, as the screen shows them, whatever Wine would make
        // of a program that does not say it knows about DPI.
        SetProcessDPIAware();
        CleanInstallation();
        HDC screen = GetDC(nullptr);
        dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        if (const char* wanted = getenv("SETUP_TEST_DPI")) {
            ASSERT_EQ(dpi_, atoi(wanted)) << "the prefix is not at the DPI this run is for";
        }
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }
    void TearDown() override {
        for (auto& copy : copies_)
            DestroyWindow(copy.second);
        if (copyFrame_)
            DestroyWindow(copyFrame_);
        if (module_)
            FreeLibrary(module_);
        CleanInstallation();
    }

    // Copies of the templates made in this process from the program's own
    // resources, at the same DPI: what the templates mean in pixels here.
    void MakeCopies() {
        module_ = LoadLibraryExA(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
        copyFrame_ = CreateDialogParamA(module_, MAKEINTRESOURCEA(IDD_WIZARD_FRAME), nullptr,
                                        QuietDialog, 0);
        ASSERT_NE(copyFrame_, nullptr);
        const int pages[] = {IDD_WELCOME, IDD_LOCATION,   IDD_OPTIONS,
                             IDD_CONFIRM, IDD_INSTALLING, IDD_FINISH};
        for (int page = 0; page < 6; ++page) {
            copies_[page] = CreateDialogParamA(module_, MAKEINTRESOURCEA(pages[page]), copyFrame_,
                                               QuietDialog, 0);
            ASSERT_NE(copies_[page], nullptr) << "page " << page;
        }
    }

    RECT Units(HWND copyDialog, RECT units) {
        MapDialogRect(copyDialog, &units);
        return units;
    }

    // The font a control of the running program draws with: the pages'
    // caption font where the page contract gives one, else the template's.
    HFONT FontFor(HWND copy, int page, HWND realParent, int id) {
        bool caption =
            (realParent == driver_.Frame() && id == IDC_HEADER_TITLE && page >= 1 && page <= 4) ||
            (page == 0 && id == IDC_WELCOME_CAPTION) || (page == 5 && id == IDC_FINISH_TEXT);
        if (!caption)
            return reinterpret_cast<HFONT>(SendMessageA(copy, WM_GETFONT, 0, 0));
        int height = page == 0 ? 18 : 14;
        HFONT& font = captionFonts_[height];
        if (!font)
            font = MakeTitleFont(MulDiv(height, dpi_, USER_DEFAULT_SCREEN_DPI));
        return font;
    }

    // The text of a visible static fits its rectangle, measured as the
    // control draws it.
    void ExpectTextFits(HWND real, HFONT font) {
        LONG_PTR style = StyleOf(real);
        LONG_PTR kind = style & SS_TYPEMASK;
        if (kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT && kind != SS_LEFTNOWORDWRAP)
            return;
        std::wstring text = WideText(real);
        // Status lines are padded with blanks to their full width.
        while (!text.empty() && text.back() == L' ')
            text.pop_back();
        if (text.empty())
            return;
        RECT client = {};
        GetClientRect(real, &client);
        RECT need = client;
        UINT flags = DT_CALCRECT | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0);
        if (kind != SS_LEFTNOWORDWRAP)
            flags |= DT_WORDBREAK;
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, flags);
        SelectObject(dc, old);
        DeleteDC(dc);
        // A one-line status cuts a long path at its edge on purpose; only its
        // height must fit.
        if (kind != SS_LEFTNOWORDWRAP) {
            EXPECT_LE(need.right - need.left, client.right) << ToGbk(text);
        }
        EXPECT_LE(need.bottom - need.top, client.bottom) << ToGbk(text);
    }

    // The picture control fills the rectangle of its template, whose bottom
    // reaches the separator line below it.
    void ExpectPictureFills(HWND realParent, HWND picture, HWND copyParent, RECT units,
                            HWND separator) {
        RECT want = Units(copyParent, units);
        RECT got = PlaceIn(realParent, picture);
        EXPECT_EQ(Describe(got), Describe(want)) << "picture";
        RECT line = PlaceIn(driver_.Frame(), separator);
        RECT inFrame = PlaceIn(driver_.Frame(), picture);
        EXPECT_GE(inFrame.bottom, line.top) << "a band between the picture and the separator";
    }

    // One dialog of the running program against its copy.
    void CheckDialog(HWND real, HWND copy, int page) {
        std::map<std::string, HWND> reals = Children(real), copies = Children(copy);
        ASSERT_EQ(reals.size(), copies.size());
        for (const auto& entry : copies) {
            SCOPED_TRACE("page " + std::to_string(page) + ", control " + entry.first);
            auto found = reals.find(entry.first);
            ASSERT_NE(found, reals.end());
            HWND mine = entry.second, theirs = found->second;
            if (!IsWindowVisible(theirs))
                continue;
            if ((StyleOf(theirs) & SS_TYPEMASK) == SS_BITMAP && ClassOf(theirs) == "Static") {
                bool header = real == driver_.Frame();
                HWND separator = header ? GetDlgItem(real, IDC_HEADER_SEPARATOR) : bottomLine_;
                ExpectPictureFills(real, theirs, copy,
                                   header ? kHeaderPictureUnits : kSidePictureUnits, separator);
                continue;
            }
            // Place and size in dialog units, as the template has them.
            EXPECT_EQ(Describe(PlaceIn(real, theirs)), Describe(PlaceIn(copy, mine)));
            // The frame's header texts lie under the full-height pages.
            bool covered = real == driver_.Frame() && (page == 0 || page == 5);
            if (ClassOf(theirs) == "Static" && Id(theirs) != IDC_HEADER_BAND &&
                !(StyleOf(theirs) & SS_SUNKEN) && !covered)
                ExpectTextFits(theirs, FontFor(mine, page, real, Id(theirs)));
        }
    }

    void CheckButtons() {
        HWND frame = driver_.Frame();
        RECT size = Units(copyFrame_, {0, 0, 50, 14});
        int left = -1;
        for (int id : {IDC_BACK, IDOK, IDCANCEL}) {
            RECT r = PlaceIn(frame, GetDlgItem(frame, id));
            EXPECT_EQ(r.right - r.left, size.right) << id;
            EXPECT_EQ(r.bottom - r.top, size.bottom) << id;
            EXPECT_GT(r.left, left) << "buttons out of order at " << id;
            left = r.right;
        }
    }

    void CheckPage(int page) {
        SCOPED_TRACE("page " + std::to_string(page) + " at " + std::to_string(dpi_) + " DPI");
        ASSERT_EQ(driver_.PageIndex(), page);
        Sleep(200);
        HWND frame = driver_.Frame();
        // The separator above the buttons: the only sunken line of the frame
        // below its header.
        for (HWND child = GetWindow(frame, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if ((StyleOf(child) & SS_SUNKEN) && Id(child) != IDC_HEADER_SEPARATOR)
                bottomLine_ = child;
        ASSERT_NE(bottomLine_, nullptr);
        ASSERT_NO_FATAL_FAILURE(CheckDialog(frame, copyFrame_, page));
        ASSERT_NO_FATAL_FAILURE(CheckDialog(driver_.Page(), copies_[page], page));
        CheckButtons();
        // Full-height pages cover the header; inner ones start below it.
        RECT placed = PlaceIn(frame, driver_.Page());
        int top = page == 0 || page == 5
                      ? 0
                      : PlaceIn(frame, GetDlgItem(frame, IDC_HEADER_SEPARATOR)).bottom;
        EXPECT_EQ(placed.top, top);
        checked_++;
    }

    int dpi_ = 0;
    int checked_ = 0;
    std::string exe_, work_;
    WizardDriver driver_;
    HMODULE module_ = nullptr;
    HWND copyFrame_ = nullptr;
    HWND bottomLine_ = nullptr;
    std::map<int, HWND> copies_;
    std::map<int, HFONT> captionFonts_;
};

TEST_F(PageLayoutTest, EveryPageFitsAtTheScreenDpi) {
    TestPackage package = RunnablePackage();
    // Enough to unpack that the Installing page is still there when looked at.
    AddBulkFiles(&package, 300, 64 * 1024);
    ASSERT_TRUE(PrepareSetup(package, "layout", &exe_, &work_));
    ASSERT_NO_FATAL_FAILURE(MakeCopies());
    ASSERT_TRUE(StartWizard(&driver_, exe_, work_));
    CheckPage(0);
    ASSERT_TRUE(GoToLocation(&driver_, IDYES));
    CheckPage(1);
    ASSERT_TRUE(PressNext(&driver_, 2));
    CheckPage(2);
    ASSERT_TRUE(PressNext(&driver_, 3));
    CheckPage(3);
    driver_.ClickFrameButton(IDOK);
    ASSERT_TRUE(driver_.WaitForPage(4));
    // The stop question holds the worker, and the page, while it is open.
    driver_.ClickFrameButton(IDCANCEL);
    HWND box = driver_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    CheckPage(4);
    driver_.AnswerMessageBox(box, IDCANCEL);
    ASSERT_TRUE(WaitForFinish(&driver_, 180000, nullptr));
    CheckPage(5);
    EXPECT_EQ(checked_, 6);
    driver_.ClickFrameButton(IDCANCEL);
    EXPECT_EQ(driver_.WaitForExit(5000), 0);
}

} // namespace
