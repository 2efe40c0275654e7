// Whole installations through the wizard: success, a cancel answered both
// ways while the worker is still unpacking, and a stop during the post-install
// commands.
#include "tests/e2e/e2e_support.h"

#include "resources/resource_ids.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

const char kSuccessText[] = "澜枢软件已安装完成。\r\n\r\n单击 [完成(F)] 关闭此向导。";

class InstallRunTest : public ::testing::Test {
  protected:
    void SetUp() override { CleanInstallation(); }
    void TearDown() override { CleanInstallation(); }

    // Welcome to Installing, answering Yes to the data-server question.
    void RunToInstalling(const TestPackage& package, const char* name) {
        ASSERT_TRUE(PrepareSetup(package, name, &exe_, &work_));
        ASSERT_TRUE(StartWizard(&driver_, exe_, work_));
        ASSERT_TRUE(GoToLocation(&driver_, IDYES));
        ASSERT_TRUE(PressNext(&driver_, 2));
        ASSERT_TRUE(PressNext(&driver_, 3));
        driver_.ClickFrameButton(IDOK);
        ASSERT_TRUE(WizardDriver::WaitUntil([&] { return driver_.PageIndex() >= 4; }, 10000));
    }

    void ExpectOnlyFinishButton() {
        HWND frame = driver_.Frame();
        EXPECT_FALSE(driver_.IsVisible(frame, IDOK));
        EXPECT_FALSE(driver_.IsVisible(frame, IDC_BACK));
        EXPECT_TRUE(driver_.IsVisible(frame, IDCANCEL));
        EXPECT_EQ(driver_.FrameText(IDCANCEL), "完成(&F)");
    }

    std::string exe_, work_;
    WizardDriver driver_;
};

TEST_F(InstallRunTest, FullInstallReachesFinishWithSuccessText) {
    TestPackage package = RunnablePackage();
    RunToInstalling(package, "full");
    std::vector<std::string> reports;
    ASSERT_TRUE(WaitForFinish(&driver_, 120000, &reports));
    EXPECT_EQ(driver_.PageText(IDC_FINISH_TEXT), kSuccessText);
    ExpectOnlyFinishButton();
    // Enter and the other routes to Next and Back stay put on Finish.
    SendMessageA(driver_.Frame(), WM_COMMAND, IDOK, 0);
    SendMessageA(driver_.Frame(), WM_COMMAND, IDC_BACK, 0);
    SendMessageA(driver_.Frame(), WM_INSTALL_DONE, 0, 0);
    EXPECT_EQ(driver_.PageIndex(), 5);

    std::string dir = kInstallDir;
    std::string bytes;
    ASSERT_TRUE(ReadBytes(dir + "VTRServer\\conf\\server.ini", &bytes));
    EXPECT_EQ(bytes, "[server]\r\nport=8600\r\n");
    EXPECT_TRUE(PathExists(dir + "VTRClient\\client.ini"));
    EXPECT_TRUE(PathExists(dir + "VTRServer\\Mysql\\my.ini"));
    // The package's times, not the time of unpacking.
    HANDLE file = CreateFileA((dir + "VTRClient\\client.ini").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME written = {};
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    PackageFileTime expected = package.Files[3].Times.LastWrite;
    EXPECT_EQ(written.dwLowDateTime, expected.Low);
    EXPECT_EQ(written.dwHighDateTime, expected.High);
    // The set-up runs of both programs, and the network database service.
    EXPECT_TRUE(PathExists(dir + "VTRServer\\setup-runs.log"));
    EXPECT_TRUE(PathExists(dir + "VTRClient\\setup-runs.log"));
    EXPECT_TRUE(ServiceExists("VTR NetWork Mysql"));
    EXPECT_FALSE(ServiceExists("VTR Personal Mysql"));
    for (const std::string& report : reports)
        ADD_FAILURE() << "message box: " << report;

    driver_.ClickFrameButton(IDCANCEL);
    EXPECT_EQ(driver_.WaitForExit(5000), 0);
}

TEST_F(InstallRunTest, CancelAnsweredCancelLetsTheInstallGoOn) {
    TestPackage package = RunnablePackage();
    AddBulkFiles(&package, 300, 64 * 1024);
    RunToInstalling(package, "cancel-no");
    ASSERT_EQ(driver_.PageIndex(), 4) << "the installation ended too soon to be cancelled";
    HWND frame = driver_.Frame();
    EXPECT_FALSE(driver_.IsEnabled(frame, IDOK));
    EXPECT_FALSE(driver_.IsEnabled(frame, IDC_BACK));
    // Enter on the disabled Next does not leave the Installing page.
    SendMessageA(frame, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(driver_.PageIndex(), 4);

    driver_.ClickFrameButton(IDCANCEL);
    HWND box = driver_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver_.ItemText(box, 0xFFFF), "确认退出安装，选“是”。继续，选“否”");
    EXPECT_EQ(driver_.Text(box), "终止确认");
    driver_.AnswerMessageBox(box, IDCANCEL);
    ASSERT_TRUE(WaitForFinish(&driver_, 180000, nullptr));
    EXPECT_EQ(driver_.PageText(IDC_FINISH_TEXT), kSuccessText);
    EXPECT_TRUE(PathExists(std::string(kInstallDir) + "VTRClient\\data\\bulk0299.bin"));
    driver_.ClickFrameButton(IDCANCEL);
    EXPECT_EQ(driver_.WaitForExit(5000), 0);
}

TEST_F(InstallRunTest, CancelAnsweredOkStopsWithinASecond) {
    TestPackage package = RunnablePackage();
    AddBulkFiles(&package, 300, 64 * 1024);
    RunToInstalling(package, "cancel-yes");
    ASSERT_EQ(driver_.PageIndex(), 4) << "the installation ended too soon to be cancelled";
    driver_.ClickFrameButton(IDCANCEL);
    HWND box = driver_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    DWORD answered = GetTickCount();
    driver_.AnswerMessageBox(box, IDOK);
    ASSERT_TRUE(WizardDriver::WaitUntil([&] { return driver_.PageIndex() == 5; }, 3000));
    EXPECT_LT(GetTickCount() - answered, 1500u);
    EXPECT_EQ(driver_.PageText(IDC_FINISH_TEXT), "用户终止。\r\n\r\n单击 [完成(F)] 关闭此向导。");
    ExpectOnlyFinishButton();
    // Nothing after the stop: no set-up run, no later files.
    Sleep(500);
    EXPECT_EQ(driver_.PageIndex(), 5);
    EXPECT_FALSE(PathExists(std::string(kInstallDir) + "VTRClient\\setup-runs.log"));
    EXPECT_FALSE(PathExists(std::string(kInstallDir) + "VTRClient\\data\\bulk0299.bin"));
    driver_.ClickFrameButton(IDCANCEL);
    EXPECT_EQ(driver_.WaitForExit(5000), 0);
}

// The client's desktop link, which the post-install actions make after the
// server's set-up run.
std::string ClientDesktopLink() {
    char folder[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    return std::string(folder) + "\\澜枢软件.lnk";
}

bool LogNamesClientLink(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (line.find("\\澜枢软件.lnk") != std::string::npos)
            return true;
    }
    return false;
}

// The stop question while the worker is inside the server's set-up run, held
// there by the sample program (it waits while "setup-run.hold" lies beside
// it), where the worker cannot park. The question comes all the same; once
// the run ends the worker parks before its next command (the client's links)
// and starts nothing while the question is open; OK ends the installation
// with "用户终止。" and nothing more is started; Cancel lets it finish.
TEST_F(InstallRunTest, StopDuringSetupRunAsksAtOnceAndStartsNothingMore) {
    const struct {
        const char* Name;
        bool RunEndsWhileAsking;
        int Answer;
    } cases[] = {
        {"stop-in-run", false, IDOK},
        {"stop-parked", true, IDOK},
        {"go-on-parked", true, IDCANCEL},
    };
    const std::string server = std::string(kInstallDir) + "VTRServer\\";
    const std::string client = std::string(kInstallDir) + "VTRClient\\";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CleanInstallation();
        TestPackage package = RunnablePackage();
        // Server entries come first; the two server files lead the package.
        package.Files.insert(package.Files.begin() + 2,
                             TestFile{PackageGroup::Server, "setup-run.hold", "", MakeTimes(50)});
        ASSERT_NO_FATAL_FAILURE(RunToInstalling(package, c.Name));
        ASSERT_TRUE(
            WizardDriver::WaitUntil([&] { return PathExists(server + "setup-runs.log"); }, 60000))
            << "the server's set-up run did not begin";
        HWND page = driver_.Page();
        HWND bar = GetDlgItem(page, IDC_PROGRESS);
        HWND list = GetDlgItem(page, IDC_LOG_LIST);
        int heldAt = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));

        DWORD clicked = GetTickCount();
        driver_.ClickFrameButton(IDCANCEL);
        HWND box = driver_.WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        // Nothing to wait for: the run is still held, the worker inside it.
        DWORD shownAfter = GetTickCount() - clicked;
        printf("%s: question on screen %lu ms after the click\n", c.Name, shownAfter);
        EXPECT_LT(shownAfter, 5000u);
        EXPECT_TRUE(PathExists(server + "setup-run.hold"));

        if (c.RunEndsWhileAsking) {
            DeleteFileA((server + "setup-run.hold").c_str());
            // The run's step is counted as the worker leaves it...
            ASSERT_TRUE(WizardDriver::WaitUntil(
                [&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == heldAt + 1; }, 10000));
            // ...and then it parks before the client's links.
            Sleep(1000);
            EXPECT_TRUE(IsWindow(box));
            EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), heldAt + 1);
            EXPECT_FALSE(LogNamesClientLink(driver_.ListLines(list)));
            EXPECT_FALSE(PathExists(ClientDesktopLink()));
        }
        driver_.AnswerMessageBox(box, c.Answer);
        if (c.Answer == IDCANCEL) {
            ASSERT_TRUE(WaitForFinish(&driver_, 60000, nullptr));
            EXPECT_EQ(driver_.PageText(IDC_FINISH_TEXT), kSuccessText);
            EXPECT_TRUE(PathExists(ClientDesktopLink()));
            EXPECT_TRUE(PathExists(client + "setup-runs.log"));
        } else {
            ASSERT_TRUE(WizardDriver::WaitUntil([&] { return driver_.PageIndex() == 5; }, 5000));
            EXPECT_EQ(driver_.PageText(IDC_FINISH_TEXT),
                      "用户终止。\r\n\r\n单击 [完成(F)] 关闭此向导。");
            // A run still held ends now; nothing follows it.
            DeleteFileA((server + "setup-run.hold").c_str());
            Sleep(1000);
            EXPECT_EQ(driver_.PageIndex(), 5);
            EXPECT_FALSE(PathExists(ClientDesktopLink()));
            EXPECT_FALSE(PathExists(client + "setup-runs.log"));
        }
        driver_.ClickFrameButton(IDCANCEL);
        EXPECT_EQ(driver_.WaitForExit(5000), 0);
    }
}

} // namespace
