// The wizard's pages driven as a person would, without installing anything.
#include "tests/e2e/e2e_support.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

PackageHeader HeaderOf(const TestPackage& package) {
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    PackageHeader header = {};
    memcpy(&header, index.data(), sizeof header);
    return header;
}

class WizardPagesTest : public ::testing::Test {
  protected:
    void SetUp() override { CleanInstallation(); }
    void TearDown() override { CleanInstallation(); }

    void Launch(const TestPackage& package, const char* name) {
        ASSERT_TRUE(PrepareSetup(package, name, &exe_, &work_));
        ASSERT_TRUE(StartWizard(&driver_, exe_, work_));
    }

    std::vector<std::string> ConfirmLines() {
        return driver_.ListLines(GetDlgItem(driver_.Page(), IDC_LOG_LIST));
    }

    std::string exe_, work_;
    WizardDriver driver_;
};

TEST_F(WizardPagesTest, WelcomeShowsNameVersionAndCaption) {
    Launch(RunnablePackage(), "welcome");
    EXPECT_EQ(driver_.Text(driver_.Frame()), "澜枢软件v2.0.0.1 安装向导");
    EXPECT_EQ(driver_.PageText(IDC_WELCOME_CAPTION), "欢迎使用【 澜枢软件v2.0.0.1 】安装向导");
    EXPECT_EQ(driver_.PageText(IDC_WELCOME_INTRO),
              "此向导将引导你完成【 澜枢软件v2.0.0.1 】的安装进程");
    HWND frame = driver_.Frame();
    EXPECT_FALSE(driver_.IsVisible(frame, IDC_BACK));
    EXPECT_TRUE(driver_.IsEnabled(frame, IDOK));
    EXPECT_EQ(driver_.FrameText(IDCANCEL), "取消");
}

TEST_F(WizardPagesTest, DataServerYesCountsServerDatabaseAndClient) {
    TestPackage package = RunnablePackage();
    PackageHeader header = HeaderOf(package);
    Launch(package, "server-yes");
    ASSERT_TRUE(GoToLocation(&driver_, IDYES));
    HWND frame = driver_.Frame();
    EXPECT_EQ(driver_.FrameText(IDC_HEADER_TITLE), "请选择安装位置");
    EXPECT_EQ(driver_.FrameText(IDC_HEADER_SUBTITLE), "选择【 澜枢软件v2.0.0.1 】的安装文件夹。");
    EXPECT_TRUE(driver_.IsVisible(frame, IDC_BACK));
    EXPECT_EQ(driver_.PageText(IDC_INSTALL_DIR), kInstallDir);
    EXPECT_TRUE(driver_.IsChecked(IDC_SERVER_BOX));
    EXPECT_TRUE(driver_.IsChecked(IDC_CLIENT_BOX));
    EXPECT_EQ(
        driver_.PageText(IDC_REQUIRED_SPACE),
        RequiredText(uint64_t(header.ServerBytes) + header.DatabaseBytes + header.ClientBytes));
    EXPECT_EQ(driver_.PageText(IDC_AVAILABLE_SPACE).rfind("可用空间：", 0), 0u);

    // Clearing a side lowers the space; with neither side Next is refused.
    driver_.ClickPageControl(IDC_CLIENT_BOX);
    EXPECT_EQ(driver_.PageText(IDC_REQUIRED_SPACE),
              RequiredText(uint64_t(header.ServerBytes) + header.DatabaseBytes));
    driver_.ClickPageControl(IDC_SERVER_BOX);
    EXPECT_EQ(driver_.PageText(IDC_REQUIRED_SPACE), RequiredText(0));
    EXPECT_FALSE(driver_.IsEnabled(frame, IDOK));
    driver_.ClickPageControl(IDC_SERVER_BOX);
    EXPECT_TRUE(driver_.IsEnabled(frame, IDOK));

    // Shown again: no question, the server box as left, the client box on.
    ASSERT_TRUE(PressBack(&driver_, 0));
    EXPECT_FALSE(driver_.IsVisible(frame, IDC_BACK));
    ASSERT_TRUE(PressNext(&driver_, 1));
    Sleep(300);
    EXPECT_EQ(driver_.FindMessageBox(), nullptr);
    EXPECT_TRUE(driver_.IsChecked(IDC_SERVER_BOX));
    EXPECT_TRUE(driver_.IsChecked(IDC_CLIENT_BOX));
    EXPECT_EQ(driver_.PageText(IDC_INSTALL_DIR), kInstallDir);
}

TEST_F(WizardPagesTest, DataServerNoLeavesClientOnly) {
    TestPackage package = RunnablePackage();
    PackageHeader header = HeaderOf(package);
    Launch(package, "server-no");
    ASSERT_TRUE(GoToLocation(&driver_, IDNO));
    EXPECT_FALSE(driver_.IsChecked(IDC_SERVER_BOX));
    EXPECT_TRUE(driver_.IsChecked(IDC_CLIENT_BOX));
    EXPECT_EQ(driver_.PageText(IDC_REQUIRED_SPACE), RequiredText(header.ClientBytes));

    ASSERT_TRUE(PressNext(&driver_, 2));
    ASSERT_TRUE(PressNext(&driver_, 3));
    std::vector<std::string> lines = ConfirmLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1], "服务器：×");
    EXPECT_EQ(lines[2], "客户端：√");
}

TEST_F(WizardPagesTest, PackageWithoutServerAsksNothing) {
    TestPackage package = RunnablePackage(false);
    PackageHeader header = HeaderOf(package);
    Launch(package, "no-server");
    ASSERT_TRUE(GoToLocation(&driver_, 0));
    EXPECT_EQ(driver_.FindMessageBox(), nullptr);
    HWND page = driver_.Page();
    EXPECT_FALSE(driver_.IsVisible(page, IDC_SERVER_BOX));
    EXPECT_TRUE(driver_.IsChecked(IDC_CLIENT_BOX));
    EXPECT_FALSE(driver_.IsEnabled(page, IDC_CLIENT_BOX));
    EXPECT_EQ(driver_.PageText(IDC_REQUIRED_SPACE),
              RequiredText(uint64_t(header.ClientBytes) + header.DatabaseBytes));
}

TEST_F(WizardPagesTest, ConfirmListsChoicesAndClearedOptions) {
    Launch(RunnablePackage(), "confirm");
    ASSERT_TRUE(GoToLocation(&driver_, IDYES));
    ASSERT_TRUE(PressNext(&driver_, 2));
    EXPECT_EQ(driver_.FrameText(IDC_HEADER_TITLE), "附加选项");
    EXPECT_TRUE(driver_.IsChecked(IDC_DESKTOP_BOX));
    EXPECT_FALSE(driver_.IsEnabled(driver_.Page(), IDC_STARTMENU_BOX));
    ASSERT_TRUE(PressNext(&driver_, 3));
    EXPECT_EQ(driver_.FrameText(IDC_HEADER_TITLE), "安装确认");
    std::vector<std::string> all = ConfirmLines();
    std::vector<std::string> expected = {"澜枢软件 v2.0.0.1 安装前确认",
                                         "服务器：√",
                                         "数据库：√",
                                         "客户端：√",
                                         std::string("安装目录：") + kInstallDir,
                                         "创建桌面快捷方式：√",
                                         "创建快速启动快捷方式：√",
                                         "创建开始菜单快捷方式：√",
                                         "注册程序到 Win 程序管理：√"};
    EXPECT_EQ(all, expected);

    // Options cleared, then Next: the record has them before Confirm reads it.
    ASSERT_TRUE(PressBack(&driver_, 2));
    driver_.ClickPageControl(IDC_DESKTOP_BOX);
    driver_.ClickPageControl(IDC_QUICKSTART_BOX);
    driver_.ClickPageControl(IDC_PROGRAMMG_BOX);
    ASSERT_TRUE(PressNext(&driver_, 3));
    std::vector<std::string> cleared = ConfirmLines();
    ASSERT_EQ(cleared.size(), 9u);
    EXPECT_EQ(cleared[5], "创建桌面快捷方式：×");
    EXPECT_EQ(cleared[6], "创建快速启动快捷方式：×");
    EXPECT_EQ(cleared[7], "创建开始菜单快捷方式：√");
    EXPECT_EQ(cleared[8], "注册程序到 Win 程序管理：×");
    // And the Options page shows them again as left.
    ASSERT_TRUE(PressBack(&driver_, 2));
    EXPECT_FALSE(driver_.IsChecked(IDC_DESKTOP_BOX));
    EXPECT_TRUE(driver_.IsChecked(IDC_STARTMENU_BOX));
}

TEST_F(WizardPagesTest, CloseOnPagesBeforeInstallingEndsAtOnce) {
    TestPackage package = RunnablePackage();
    ASSERT_TRUE(PrepareSetup(package, "close", &exe_, &work_));
    for (int page = 0; page <= 3; ++page) {
        WizardDriver driver;
        ASSERT_TRUE(StartWizard(&driver, exe_, work_));
        if (page >= 1) {
            ASSERT_TRUE(GoToLocation(&driver, IDYES));
        }
        for (int next = 2; next <= page; ++next)
            ASSERT_TRUE(PressNext(&driver, next));
        // A Cancel command with another notification code does nothing.
        PostMessageA(driver.Frame(), WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
        Sleep(200);
        ASSERT_FALSE(driver.HasExited()) << "page " << page;
        if (page == 3)
            PostMessageA(driver.Frame(), WM_CLOSE, 0, 0); // the close box
        else
            driver.ClickFrameButton(IDCANCEL);
        EXPECT_EQ(driver.WaitForExit(3000), 0) << "page " << page;
        EXPECT_EQ(driver.FindMessageBox(), nullptr);
    }
    EXPECT_FALSE(PathExists(kInstallDir));
}

TEST_F(WizardPagesTest, CommandsToHiddenButtonsDoNotMovePages) {
    Launch(RunnablePackage(), "hidden");
    // Back is hidden on Welcome: its command, however it comes, is ignored.
    SendMessageA(driver_.Frame(), WM_COMMAND, IDC_BACK, 0);
    EXPECT_EQ(driver_.PageIndex(), 0);
    ASSERT_TRUE(GoToLocation(&driver_, IDYES));
    driver_.ClickPageControl(IDC_SERVER_BOX);
    driver_.ClickPageControl(IDC_CLIENT_BOX);
    // Enter acts on the default button even while it is disabled.
    SendMessageA(driver_.Frame(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(driver_.PageIndex(), 1);
}

TEST_F(WizardPagesTest, DamagedPackageShowsMessageAndNoWizard) {
    TestPackage package = RunnablePackage();
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    payload.resize(payload.size() / 2); // streams now reach past the payload
    ASSERT_TRUE(PrepareSetup(package, "damaged", &exe_, &work_));
    ASSERT_TRUE(WriteTestSetup(package, exe_, &index, &payload));
    ASSERT_TRUE(driver_.Start(exe_, work_));
    HWND box = driver_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver_.ItemText(box, 0xFFFF), "安装包已损坏，无法安装。");
    EXPECT_EQ(driver_.WaitForFrame(300), nullptr);
    driver_.AnswerMessageBox(box, IDOK);
    EXPECT_EQ(driver_.WaitForExit(5000), 0);
}

} // namespace
