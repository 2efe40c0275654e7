// Texts the user reads on the way through the wizard, byte for byte: the
// data-server question, the Location explanation, the headers of Options,
// Confirm and Installing, and the whole Confirm list of each package shape.
#include "tests/e2e/e2e_support.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

const char kQuestion[] =
    "公司共享版，必须且只能指定一台电脑做数据服务器．\n是否选择这台电脑做为数据服务器";
const char kLocationText[] = "安装程序将把 澜枢软件v2.0.0.1 "
                             "安装到下列文件夹。要安装到不同的文件夹，请点击【浏览】并先把其他文件"
                             "夹。点击【下一步】继续设置其他选项。";

class VisibleTextsTest : public ::testing::Test {
  protected:
    void SetUp() override { CleanInstallation(); }
    void TearDown() override { CleanInstallation(); }
    std::string exe_, work_;
};

TEST_F(VisibleTextsTest, DataServerQuestionAndPageHeaders) {
    WizardDriver driver;
    ASSERT_TRUE(PrepareSetup(RunnablePackage(), "texts", &exe_, &work_));
    ASSERT_TRUE(StartWizard(&driver, exe_, work_));
    driver.ClickFrameButton(IDOK);
    HWND box = driver.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver.ItemText(box, 0xFFFF), kQuestion);
    EXPECT_EQ(driver.Text(box), "安装提示");
    EXPECT_EQ(GetWindow(box, GW_OWNER), driver.Frame());
    EXPECT_TRUE(driver.IsVisible(box, IDYES));
    EXPECT_TRUE(driver.IsVisible(box, IDNO));
    EXPECT_EQ(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    driver.AnswerMessageBox(box, IDYES);
    ASSERT_TRUE(driver.WaitForPage(1));
    ASSERT_TRUE(WizardDriver::WaitUntil(
        [&] { return !driver.PageText(IDC_REQUIRED_SPACE).empty(); }, 5000));
    EXPECT_EQ(driver.PageText(IDC_LOCATION_TEXT), kLocationText);

    struct Header {
        int Page;
        const char* Title;
        const char* Subtitle;
    };
    const Header headers[] = {
        {2, "附加选项", "创建程序快速启动方式。"},
        {3, "安装确认", ""},
        {4, "正在安装", ""},
    };
    for (const Header& header : headers) {
        SCOPED_TRACE(header.Title);
        driver.ClickFrameButton(IDOK);
        // The Installing page may give way to Finish at once; Finish covers
        // the header but leaves its texts alone.
        ASSERT_TRUE(
            WizardDriver::WaitUntil([&] { return driver.PageIndex() >= header.Page; }, 10000));
        EXPECT_EQ(driver.FrameText(IDC_HEADER_TITLE), header.Title);
        EXPECT_EQ(driver.FrameText(IDC_HEADER_SUBTITLE), header.Subtitle);
    }
    std::vector<std::string> reports;
    ASSERT_TRUE(WaitForFinish(&driver, 120000, &reports));
    for (const std::string& report : reports)
        ADD_FAILURE() << "message box: " << report;
    driver.ClickFrameButton(IDCANCEL);
    EXPECT_EQ(driver.WaitForExit(5000), 0);
}

// The Confirm list line by line for both package shapes; only a chosen
// server side brings the database line.
TEST_F(VisibleTextsTest, ConfirmListOfEachShape) {
    const std::string dirLine = std::string("安装目录：") + kInstallDir;
    struct Shape {
        const char* Name;
        bool WithServer;
        int Answer; // to the data-server question; 0: none is asked
        std::vector<std::string> Lines;
    };
    const Shape shapes[] = {
        {"server-yes",
         true,
         IDYES,
         {"澜枢软件 v2.0.0.1 安装前确认", "服务器：√", "数据库：√", "客户端：√", dirLine,
          "创建桌面快捷方式：√", "创建快速启动快捷方式：√", "创建开始菜单快捷方式：√",
          "注册程序到 Win 程序管理：√"}},
        {"server-no",
         true,
         IDNO,
         {"澜枢软件 v2.0.0.1 安装前确认", "服务器：×", "客户端：√", dirLine, "创建桌面快捷方式：√",
          "创建快速启动快捷方式：√", "创建开始菜单快捷方式：√", "注册程序到 Win 程序管理：√"}},
        {"no-server-group",
         false,
         0,
         {"澜枢软件 v2.0.0.1 安装前确认", "服务器：×", "客户端：√", dirLine, "创建桌面快捷方式：√",
          "创建快速启动快捷方式：√", "创建开始菜单快捷方式：√", "注册程序到 Win 程序管理：√"}},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.Name);
        WizardDriver driver;
        ASSERT_TRUE(PrepareSetup(RunnablePackage(shape.WithServer), shape.Name, &exe_, &work_));
        ASSERT_TRUE(StartWizard(&driver, exe_, work_));
        ASSERT_TRUE(GoToLocation(&driver, shape.Answer));
        ASSERT_TRUE(PressNext(&driver, 2));
        ASSERT_TRUE(PressNext(&driver, 3));
        EXPECT_EQ(driver.ListLines(GetDlgItem(driver.Page(), IDC_LOG_LIST)), shape.Lines);
        driver.ClickFrameButton(IDCANCEL);
        EXPECT_EQ(driver.WaitForExit(5000), 0);
    }
}

} // namespace
