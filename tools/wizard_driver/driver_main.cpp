// Console driver for the demo: runs a setup program through every wizard
// page, answering Yes to the data-server question. Before each page's
// screenshot it prints "SHOT <name>" and waits for a line on standard input,
// so the calling script can take the picture; the line also gives the frame's
// place on the screen, in pixels, to cut the picture to. Texts are printed in
// GBK.
#include "wizard_driver.h"

#include "resources/resource_ids.h"

#include <cstdio>

static HWND g_Frame = nullptr;

static void Shot(const char* name) {
    RECT frame = {};
    if (g_Frame && GetWindowRect(g_Frame, &frame))
        printf("SHOT %s %ld %ld %ld %ld\n", name, static_cast<long>(frame.left),
               static_cast<long>(frame.top), static_cast<long>(frame.right - frame.left),
               static_cast<long>(frame.bottom - frame.top));
    else
        printf("SHOT %s\n", name);
    fflush(stdout);
    char line[64];
    if (!fgets(line, sizeof line, stdin))
        Sleep(300);
}

static void Say(const char* label, const std::string& text) {
    printf("%s: %s\n", label, text.c_str());
    fflush(stdout);
}

static int Fail(const char* what) {
    printf("FAILED: %s\n", what);
    fflush(stdout);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: wizard-driver <setup.exe> [working folder]\n");
        return 2;
    }
    // Screen pixels, whatever the DPI: the picture is cut to them.
    SetProcessDPIAware();
    WizardDriver driver;
    if (!driver.Start(argv[1], argc > 2 ? argv[2] : ""))
        return Fail("cannot start the setup program");
    if (!driver.WaitForFrame() || !driver.WaitForPage(0))
        return Fail("no wizard");
    HWND frame = driver.Frame();
    g_Frame = frame;
    Say("caption", driver.Text(frame));
    Say("welcome", driver.PageText(IDC_WELCOME_CAPTION));
    Shot("1-welcome");

    driver.ClickFrameButton(IDOK);
    HWND box = driver.WaitForMessageBox();
    if (box) {
        Say("question", driver.ItemText(box, 0xFFFF));
        Shot("2-question");
        driver.AnswerMessageBox(box, IDYES);
    }
    if (!driver.WaitForPage(1))
        return Fail("no location page");
    Sleep(200);
    Say("install folder", driver.PageText(IDC_INSTALL_DIR));
    Say("required", driver.PageText(IDC_REQUIRED_SPACE));
    Say("available", driver.PageText(IDC_AVAILABLE_SPACE));
    Shot("3-location");

    driver.ClickFrameButton(IDOK);
    if (!driver.WaitForPage(2))
        return Fail("no options page");
    Shot("4-options");
    driver.ClickFrameButton(IDOK);
    if (!driver.WaitForPage(3))
        return Fail("no confirm page");
    for (const std::string& line : driver.ListLines(GetDlgItem(driver.Page(), IDC_LOG_LIST)))
        Say("confirm", line);
    Shot("5-confirm");

    driver.ClickFrameButton(IDOK);
    if (!driver.WaitForPage(4))
        return Fail("no installing page");
    Shot("6-installing");
    // Database failures are reported in message boxes; note and close them.
    bool finished = WizardDriver::WaitUntil(
        [&] {
            if (HWND report = driver.FindMessageBox()) {
                Say("message", driver.ItemText(report, 0xFFFF));
                driver.AnswerMessageBox(report, IDOK);
                Sleep(200);
            }
            return driver.PageIndex() == 5;
        },
        180000);
    if (!finished)
        return Fail("the installation did not finish");
    Sleep(200);
    Say("finish", driver.PageText(IDC_FINISH_TEXT));
    Shot("7-finish");
    driver.ClickFrameButton(IDCANCEL);
    int code = driver.WaitForExit(15000);
    printf("exit code: %d\n", code);
    return code == 0 ? 0 : 1;
}
