// The Location page's 浏览(B) end to end: the system's folder picker driven
// through its tree, and what the page makes of the choice.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/folder_picker.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

const char kUntouched[] = "-";

class FolderPickerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CleanInstallation();
        RemoveTree("D:\\picker");
        for (const char* folder : {"D:\\picker", "D:\\picker\\Apps", "D:\\picker\\澜枢软件",
                                   "D:\\picker\\澜枢软件\\sub"})
            CreateDirectoryA(folder, nullptr);
    }
    void TearDown() override {
        CleanInstallation();
        RemoveTree("D:\\picker");
    }

    // Opens the picker from the page, after marking the space text so a
    // refresh shows.
    void OpenPicker(FolderPicker* picker) {
        SendMessageW(GetDlgItem(driver_.Page(), IDC_AVAILABLE_SPACE), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(L"-"));
        ASSERT_EQ(driver_.PageText(IDC_AVAILABLE_SPACE), kUntouched);
        PostMessageA(GetDlgItem(driver_.Page(), IDC_BROWSE), BM_CLICK, 0, 0);
        ASSERT_TRUE(picker->Wait()) << "the folder picker did not open";
    }

    bool PickerClosed(const FolderPicker& picker) { return !IsWindow(picker.Dialog()); }

    std::string exe_, work_;
    WizardDriver driver_;
};

TEST_F(FolderPickerTest, ChosenFolderGetsTheTagOnceAndCancelChangesNothing) {
    ASSERT_TRUE(PrepareSetup(RunnablePackage(), "picker", &exe_, &work_));
    ASSERT_TRUE(StartWizard(&driver_, exe_, work_));
    ASSERT_TRUE(GoToLocation(&driver_, IDNO));
    ASSERT_EQ(driver_.PageText(IDC_INSTALL_DIR), kInstallDir);

    struct Pick {
        const char* Folder;
        const char* InstallDir;
    };
    const Pick picks[] = {
        {"D:\\picker\\Apps", "D:\\picker\\Apps\\澜枢软件\\"},
        // A drive root keeps its one backslash.
        {"D:\\", "D:\\澜枢软件\\"},
        // A path already holding the tag folder is taken as picked.
        {"D:\\picker\\澜枢软件\\sub", "D:\\picker\\澜枢软件\\sub\\"},
    };
    for (const Pick& pick : picks) {
        SCOPED_TRACE(pick.Folder);
        FolderPicker picker(driver_.ProcessId());
        OpenPicker(&picker);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(picker.SelectPath(pick.Folder)) << "tree:\n" << picker.Dump(3);
        picker.Press(IDOK);
        ASSERT_TRUE(WizardDriver::WaitUntil([&] { return PickerClosed(picker); }, 5000));
        ASSERT_TRUE(WizardDriver::WaitUntil(
            [&] { return driver_.PageText(IDC_INSTALL_DIR) == pick.InstallDir; }, 5000))
            << driver_.PageText(IDC_INSTALL_DIR);
        std::string space = driver_.PageText(IDC_AVAILABLE_SPACE);
        EXPECT_EQ(space.rfind("可用空间：", 0), 0u) << space;
        EXPECT_TRUE(!space.empty() && space.back() == 'G') << space;
    }

    // Cancel: the folder and the space text stay as they were.
    std::string before = driver_.PageText(IDC_INSTALL_DIR);
    FolderPicker picker(driver_.ProcessId());
    OpenPicker(&picker);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(picker.SelectPath("D:\\picker\\Apps"));
    picker.Press(IDCANCEL);
    ASSERT_TRUE(WizardDriver::WaitUntil([&] { return PickerClosed(picker); }, 5000));
    Sleep(200);
    EXPECT_EQ(driver_.PageText(IDC_INSTALL_DIR), before);
    EXPECT_EQ(driver_.PageText(IDC_AVAILABLE_SPACE), kUntouched);

    // The choice is what the Confirm page and the installation use.
    ASSERT_TRUE(PressNext(&driver_, 2));
    ASSERT_TRUE(PressNext(&driver_, 3));
    std::vector<std::string> lines = driver_.ListLines(GetDlgItem(driver_.Page(), IDC_LOG_LIST));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], std::string("安装目录：") + before);
    driver_.ClickFrameButton(IDCANCEL);
    EXPECT_EQ(driver_.WaitForExit(5000), 0);
}

} // namespace
