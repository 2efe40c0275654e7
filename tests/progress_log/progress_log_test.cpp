// The helpers latch their windows for the life of the process; ctest runs
// every test in a process of its own, so each test starts unlatched.
#include "install/progress_log.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

// A hidden top-level window holding two progress bars and two list boxes,
// the second of each to show that later window arguments are ignored.
class ProgressLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        frame = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 400, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
        bar = Child(PROGRESS_CLASSA, 0, 0);
        otherBar = Child(PROGRESS_CLASSA, 0, 30);
        DWORD listStyle = WS_VSCROLL | LBS_NOINTEGRALHEIGHT;
        list = Child("LISTBOX", listStyle, 60);
        otherList = Child("LISTBOX", listStyle, 200);
        RECT client;
        GetClientRect(list, &client);
        int itemHeight = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
        ASSERT_GT(itemHeight, 0);
        visibleLines = client.bottom / itemHeight;
        ASSERT_GT(visibleLines, 2);
    }
    void TearDown() override { DestroyWindow(frame); }

    HWND Child(const char* windowClass, DWORD style, int y) {
        HWND child = CreateWindowExA(0, windowClass, "", WS_CHILD | WS_VISIBLE | style, 0, y, 300,
                                     y >= 60 ? 100 : 20, frame, nullptr, nullptr, nullptr);
        EXPECT_NE(child, nullptr);
        return child;
    }

    static int Range(HWND progress, bool low) {
        return static_cast<int>(SendMessageA(progress, PBM_GETRANGE, low ? TRUE : FALSE, 0));
    }
    static int Pos(HWND progress) {
        return static_cast<int>(SendMessageA(progress, PBM_GETPOS, 0, 0));
    }
    static int Count(HWND listBox) {
        return static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    }
    static int Top(HWND listBox) {
        return static_cast<int>(SendMessageA(listBox, LB_GETTOPINDEX, 0, 0));
    }
    static std::string Line(HWND listBox, int index) {
        char text[512] = {};
        SendMessageA(listBox, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }

    HWND frame = nullptr, bar = nullptr, otherBar = nullptr, list = nullptr, otherList = nullptr;
    int visibleLines = 0;
};

TEST_F(ProgressLogTest, BarsLatchTheFirstWindowOfEachHelper) {
    // The Installing page binds both helpers, then the worker passes null.
    SetProgressPos(bar, 0);
    SetProgressRange(bar, 0);
    SetProgressRange(nullptr, 300);
    EXPECT_EQ(Range(bar, true), 1);
    EXPECT_EQ(Range(bar, false), 300);
    EXPECT_EQ(Pos(bar), 1); // position 0 sent, held at the minimum by the bar

    EXPECT_EQ(SetProgressPos(nullptr, 120), 1);
    EXPECT_EQ(SetProgressPos(otherBar, 7), 120);
    EXPECT_EQ(Pos(bar), 7);
    SetProgressRange(otherBar, 50);
    EXPECT_EQ(Range(bar, false), 50);
    EXPECT_EQ(Pos(bar), 1);
    EXPECT_EQ(Range(otherBar, false), 100); // untouched default
    EXPECT_EQ(Pos(otherBar), 0);
}

TEST_F(ProgressLogTest, StepCountsBeyondSixteenBitsStillFillTheBar) {
    SetProgressRange(bar, 65535);
    EXPECT_EQ(Range(bar, false), 65535);
    SetProgressRange(nullptr, 70000);
    EXPECT_EQ(Range(bar, true), 1);
    EXPECT_EQ(Range(bar, false), 70000);
    SetProgressPos(bar, 70000);
    EXPECT_EQ(Pos(bar), 70000);
}

TEST_F(ProgressLogTest, LogLinesJoinPrefixAndTextInTheLatchedList) {
    AppendLogLine(list, nullptr, "抽取：");
    EXPECT_EQ(Count(list), 0);
    AppendLogLine(nullptr, "server\\data\\a.txt", "抽取：");
    AppendLogLine(otherList, "\"D:\\app\\x.exe\" Install", "注册：");
    AppendLogLine(nullptr, "no prefix", nullptr);
    AppendLogLine(nullptr, nullptr, "注册：");
    ASSERT_EQ(Count(list), 3);
    EXPECT_EQ(Count(otherList), 0);
    EXPECT_EQ(Line(list, 0), "抽取：server\\data\\a.txt");
    EXPECT_EQ(Line(list, 1), "注册：\"D:\\app\\x.exe\" Install");
    EXPECT_EQ(Line(list, 2), "no prefix");
}

TEST_F(ProgressLogTest, LongLinesAreCutAtACharacterBoundary) {
    std::string wide;
    for (int i = 0; i < 150; ++i)
        wide += "中";
    AppendLogLine(list, wide.c_str(), "抽取：");
    AppendLogLine(list, wide.c_str(), "a");
    ASSERT_EQ(Count(list), 2);
    // 6 prefix bytes + 126 characters; 1 prefix byte + 129 characters.
    EXPECT_EQ(Line(list, 0), "抽取：" + wide.substr(0, 252));
    EXPECT_EQ(Line(list, 1), "a" + wide.substr(0, 258));
}

TEST_F(ProgressLogTest, ScrollsOneLineOnceNewLinesFallBelowTheView) {
    AppendLogLine(list, nullptr, "");
    for (int i = 0; i < visibleLines; ++i) {
        AppendLogLine(nullptr, std::to_string(i).c_str(), "");
        EXPECT_EQ(Top(list), 0) << "line " << i;
    }
    for (int i = 1; i <= 3; ++i) {
        AppendLogLine(nullptr, "more", "");
        EXPECT_EQ(Top(list), i);
    }
    // The user scrolled back to the top: a new line still moves by one only.
    SendMessageA(list, LB_SETTOPINDEX, 0, 0);
    AppendLogLine(nullptr, "after scroll", "");
    EXPECT_EQ(Top(list), 1);

    EXPECT_EQ(IsLineBelowView(list, 1 + visibleLines - 1), 0);
    EXPECT_EQ(IsLineBelowView(list, 1 + visibleLines), 1);
    // A failed query counts as below the view.
    EXPECT_EQ(IsLineBelowView(nullptr, 0), 1);
}

} // namespace
