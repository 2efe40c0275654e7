// The user cancels the installation at random moments, through the real
// program's wizard: every run reaches Finish within about a second of the
// confirmation, showing the cancel text (or the success text when the
// installation had already ended), and the program ends.
#include "tests/e2e/e2e_support.h"
#include "tests/support/fault_support.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace {

const char kCancelText[] = "用户终止。\r\n\r\n单击 [完成(F)] 关闭此向导。";
const char kSuccessText[] = "澜枢软件已安装完成。\r\n\r\n单击 [完成(F)] 关闭此向导。";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Many small files, no programs, no service and no shortcuts: a finished
// installation ends at once, so a run costs little either way.
TestPackage CancelPackage() {
    TestPackage package = PlainPackage(60, 6000);
    std::string config = SampleConfigText();
    config = ReplaceAll(config, "DB2=1", "DB2=0");
    for (const char* key : {"StartMenu=1", "Desktop=1", "QuickStart=1"}) {
        std::string off = key;
        off.back() = '0';
        config = ReplaceAll(config, key, off);
    }
    package.Config = config;
    return package;
}

std::set<std::string> TopLevelNames(const std::string& root) {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "*").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE) {
        names.insert(found.cFileName);
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            break;
        }
    }
    names.erase("澜枢软件");
    return names;
}

enum class RunEnd { kCancelled, kFinishedFirst, kBroken };

class CancelTest : public ::testing::Test {
  protected:
    void SetUp() override { CleanInstallation(); }
    void TearDown() override { CleanInstallation(); }

    // Welcome to Installing; false when a page did not come.
    bool ReachInstalling(WizardDriver* driver) {
        return StartWizard(driver, exe_, work_) && GoToLocation(driver, IDYES) &&
               PressNext(driver, 2) && PressNext(driver, 3) &&
               (driver->ClickFrameButton(IDOK),
                WizardDriver::WaitUntil([&] { return driver->PageIndex() >= 4; }, 10000));
    }

    // One run cancelled after delayMs on the Installing page.
    RunEnd CancelOnce(DWORD delayMs, DWORD* stopMs) {
        WizardDriver driver;
        if (!ReachInstalling(&driver))
            return RunEnd::kBroken;
        Sleep(delayMs);
        RunEnd end = RunEnd::kBroken;
        if (driver.PageIndex() == 4) {
            driver.ClickFrameButton(IDCANCEL);
            HWND box = driver.WaitForMessageBox(5000);
            if (box) {
                DWORD answered = GetTickCount();
                driver.AnswerMessageBox(box, IDOK);
                bool finished =
                    WizardDriver::WaitUntil([&] { return driver.PageIndex() == 5; }, 5000);
                *stopMs = GetTickCount() - answered;
                std::string text = finished ? driver.PageText(IDC_FINISH_TEXT) : "";
                if (text == kCancelText)
                    end = RunEnd::kCancelled;
                else if (text == kSuccessText)
                    end = RunEnd::kFinishedFirst;
            } else if (driver.HasExited() || driver.PageIndex() == 5) {
                // The click met the Finish page's button: it had just ended.
                return driver.WaitForExit(5000) == 0 ? RunEnd::kFinishedFirst : RunEnd::kBroken;
            }
        } else if (driver.PageIndex() == 5 && driver.PageText(IDC_FINISH_TEXT) == kSuccessText) {
            end = RunEnd::kFinishedFirst;
            *stopMs = 0;
        }
        driver.ClickFrameButton(IDCANCEL);
        if (driver.WaitForExit(5000) != 0)
            end = RunEnd::kBroken;
        return end;
    }

    std::string exe_, work_;
};

TEST_F(CancelTest, CancelAtRandomMomentsReachesFinishWithinASecond) {
    TestPackage package = CancelPackage();
    ASSERT_TRUE(PrepareSetup(package, "faults-cancel", &exe_, &work_));
    std::set<std::string> before = TopLevelNames(TEST_INSTALL_DRIVE);

    // How long an undisturbed installation stays on the Installing page.
    DWORD span = 0;
    {
        WizardDriver driver;
        ASSERT_TRUE(ReachInstalling(&driver));
        DWORD started = GetTickCount();
        ASSERT_TRUE(WizardDriver::WaitUntil([&] { return driver.PageIndex() == 5; }, 60000));
        span = GetTickCount() - started;
        driver.ClickFrameButton(IDCANCEL);
        ASSERT_EQ(driver.WaitForExit(5000), 0);
    }

    const int kRuns = 50;
    std::mt19937 random(20120913);
    CaseResult result{"User cancels at random moments (wizard)", kRuns, 0, 0, 0, ""};
    int finishedFirst = 0;
    DWORD slowest = 0;
    for (int run = 0; run < kRuns; ++run) {
        CleanInstallation();
        // Mostly within the unpacking, a few just past its end.
        DWORD delay = static_cast<DWORD>(std::uniform_real_distribution<>(0, 1.15)(random) * span);
        DWORD stopMs = 0;
        RunEnd end = CancelOnce(delay, &stopMs);
        SCOPED_TRACE("run " + std::to_string(run) + ", cancelled after " + std::to_string(delay) +
                     " ms");
        EXPECT_NE(end, RunEnd::kBroken);
        EXPECT_LT(stopMs, 1500u);
        bool kept = TopLevelNames(TEST_INSTALL_DRIVE) == before &&
                    CheckNoTornFiles(package, std::string(kInstallDir)) == "";
        EXPECT_TRUE(kept);
        slowest = std::max(slowest, stopMs);
        result.Survived += end != RunEnd::kBroken;
        result.MessageShown += end != RunEnd::kBroken && stopMs < 1500;
        result.NothingLost += kept;
        finishedFirst += end == RunEnd::kFinishedFirst;
    }
    result.Note = std::to_string(kRuns - finishedFirst) + " stopped with 用户终止。, " +
                  std::to_string(finishedFirst) + " had finished (success text); slowest stop " +
                  std::to_string(slowest) + " ms";
    RecordCase(result);
}

} // namespace
