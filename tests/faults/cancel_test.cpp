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

    // The Finish text once the page has set it; a page caught between its
    // creation and its first message still shows the template's text.
    static std::string FinishText(WizardDriver* driver) {
        std::string text;
        WizardDriver::WaitUntil(
            [&] {
                text = driver->PageText(IDC_FINISH_TEXT);
                return text == kCancelText || text == kSuccessText;
            },
            2000);
        return text;
    }

    struct RunOutcome {
        RunEnd End = RunEnd::kBroken;
        DWORD StopMs = 0;
        std::string Story; // what the driver met, for a broken run's report
    };

    // One run cancelled after delayMs on the Installing page.
    RunOutcome CancelOnce(DWORD delayMs) {
        RunOutcome run;
        WizardDriver driver;
        if (!ReachInstalling(&driver)) {
            // A box instead of the wizard (start-up refused the program) says why.
            HWND box = driver.Frame() ? nullptr : driver.FindMessageBox();
            std::string shown = box ? ", box \"" + driver.ItemText(box, 0xFFFF) + "\"" : "";
            run.Story = driver.Frame() ? "Installing page never came"
                                       : "no wizard" + shown + ", program ended with " +
                                             std::to_string(driver.WaitForExit(5000));
            return run;
        }
        Sleep(delayMs);
        // Between two pages the frame briefly has none: look again once one
        // of them is there.
        WizardDriver::WaitUntil([&] { return driver.PageIndex() >= 4; }, 2000);
        int page = driver.PageIndex();
        run.Story = "page " + std::to_string(page);
        if (page < 4) {
            HWND box = driver.FindMessageBox();
            run.Story += driver.HasExited()
                             ? ", program ended with " + std::to_string(driver.WaitForExit(0))
                             : ", program running" +
                                   (box ? ", box \"" + driver.ItemText(box, 0xFFFF) + "\"" : "");
        }
        if (page == 4) {
            driver.ClickFrameButton(IDCANCEL);
            // The question, or the end of an installation that finished
            // first: the click then met the Finish page's button (the
            // program ends), or the stop found nothing left to ask about
            // (Finish stays up).
            HWND box = nullptr;
            WizardDriver::WaitUntil(
                [&] {
                    box = driver.FindMessageBox();
                    return box || driver.HasExited() || driver.PageIndex() == 5;
                },
                5000);
            if (box) {
                DWORD answered = GetTickCount();
                driver.AnswerMessageBox(box, IDOK);
                bool finished =
                    WizardDriver::WaitUntil([&] { return driver.PageIndex() == 5; }, 5000);
                run.StopMs = GetTickCount() - answered;
                std::string text = finished ? FinishText(&driver) : "";
                run.Story += ", question answered, then page " +
                             std::to_string(driver.PageIndex()) + " \"" + text + "\"";
                if (text == kCancelText)
                    run.End = RunEnd::kCancelled;
                else if (text == kSuccessText)
                    run.End = RunEnd::kFinishedFirst;
            } else if (driver.HasExited()) {
                int code = driver.WaitForExit(5000);
                run.Story += ", no question, ended with " + std::to_string(code);
                run.End = code == 0 ? RunEnd::kFinishedFirst : RunEnd::kBroken;
                return run;
            } else {
                std::string text = FinishText(&driver);
                run.Story += ", no question, page " + std::to_string(driver.PageIndex()) + " \"" +
                             text + "\"";
                if (driver.PageIndex() == 5 && text == kSuccessText)
                    run.End = RunEnd::kFinishedFirst;
            }
        } else if (page == 5) {
            std::string text = FinishText(&driver);
            run.Story += " \"" + text + "\"";
            if (text == kSuccessText)
                run.End = RunEnd::kFinishedFirst;
        }
        driver.ClickFrameButton(IDCANCEL);
        int code = driver.WaitForExit(5000);
        if (code != 0) {
            run.Story += ", Finish did not end the program (" + std::to_string(code) + ")";
            run.End = RunEnd::kBroken;
        }
        return run;
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
        RunOutcome outcome = CancelOnce(delay);
        RunEnd end = outcome.End;
        DWORD stopMs = outcome.StopMs;
        SCOPED_TRACE("run " + std::to_string(run) + ", cancelled after " + std::to_string(delay) +
                     " ms");
        EXPECT_NE(end, RunEnd::kBroken) << outcome.Story;
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
