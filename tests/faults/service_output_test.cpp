// The database commands answer with huge, empty or non-text output: the real
// program still reaches Finish, and every box it shows has a bounded caption
// and the service failure text.
#include "tests/e2e/e2e_support.h"
#include "tests/support/fault_support.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

struct OutputCase {
    const char* Mode;  // MYSQLD_STANDIN_MODE
    const char* Start; // MYSQLD_STANDIN_START
    const char* Name;
};

const OutputCase kCases[] = {
    {"big", "", "about 1 MB of output"},
    {"big", "fail", "about 1 MB of output, then the start fails"},
    {"silent", "", "no output at all"},
    {"binary", "", "bytes that are not text, starting with NUL"},
};

bool SaneCaption(const std::string& caption) {
    if (caption.size() > 259)
        return false;
    for (unsigned char c : caption) {
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\t')
            return false;
    }
    return true;
}

TEST(ServiceOutputTest, OddServiceOutputStillEndsOnTheFinishPage) {
    CaseResult result{"Service command output huge, empty or not text",
                      0,
                      0,
                      0,
                      0,
                      "1 MB, empty, binary; boxes captioned with at most 259 bytes"};
    for (const OutputCase& c : kCases) {
        SCOPED_TRACE(c.Name);
        CleanInstallation();
        std::string exe, work;
        ASSERT_TRUE(PrepareSetup(RunnablePackage(), "faults-service", &exe, &work));
        SetEnvironmentVariableA("MYSQLD_STANDIN_MODE", c.Mode);
        SetEnvironmentVariableA("MYSQLD_STANDIN_START", *c.Start ? c.Start : nullptr);
        WizardDriver driver;
        bool reached = StartWizard(&driver, exe, work) && GoToLocation(&driver, IDYES) &&
                       PressNext(&driver, 2) && PressNext(&driver, 3);
        SetEnvironmentVariableA("MYSQLD_STANDIN_MODE", nullptr);
        SetEnvironmentVariableA("MYSQLD_STANDIN_START", nullptr);
        ASSERT_TRUE(reached);
        driver.ClickFrameButton(IDOK);

        std::vector<std::pair<std::string, std::string>> boxes; // caption, text
        bool finished = WizardDriver::WaitUntil(
            [&] {
                if (HWND box = driver.FindMessageBox()) {
                    boxes.emplace_back(driver.Text(box), driver.ItemText(box, 0xFFFF));
                    driver.AnswerMessageBox(box, IDOK);
                    Sleep(100);
                }
                return driver.PageIndex() == 5;
            },
            90000);
        std::string finishText = finished ? driver.PageText(IDC_FINISH_TEXT) : "";
        driver.ClickFrameButton(IDCANCEL);
        bool ended = driver.WaitForExit(10000) == 0;
        EXPECT_TRUE(finished);
        EXPECT_TRUE(ended);
        bool sane = true, failureShown = false;
        for (const auto& box : boxes) {
            EXPECT_TRUE(SaneCaption(box.first)) << box.first.size() << " bytes";
            sane &= SaneCaption(box.first);
            failureShown |= box.second.find("数据库") == 0;
        }
        // Output that does not say the service was installed is a failure
        // the user is told about; a big success text is still a success.
        bool expectFailure = std::string(c.Mode) != "big" || *c.Start;
        EXPECT_EQ(failureShown, expectFailure) << boxes.size() << " boxes";
        ++result.Runs;
        result.Survived += finished && ended;
        result.MessageShown += finished && failureShown == expectFailure && sane &&
                               finishText.find("已安装完成") != std::string::npos;
        result.NothingLost += PathExists(std::string(kInstallDir) + "VTRClient\\client.ini");
    }
    CleanInstallation();
    RecordCase(result);
}

} // namespace
