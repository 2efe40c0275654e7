// Console driver for the demo: starts the uninstaller without its silent
// switch, prints its question, prints "SHOT <name>" and waits for a line (the
// calling script takes the picture), then answers No; with "yes" after the
// program it answers Yes and does the same for the final box. Texts are
// printed in GBK.
#include "wizard_driver.h"

#include <cstdio>
#include <string>

namespace {

void Shot(const char* name) {
    printf("SHOT %s\n", name);
    fflush(stdout);
    char line[64];
    if (!fgets(line, sizeof line, stdin))
        Sleep(300);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: uninstall-driver <uninstaller.exe> [yes]\n");
        return 2;
    }
    bool yes = argc > 2 && std::string(argv[2]) == "yes";
    WizardDriver driver;
    if (!driver.Start(argv[1], "")) {
        printf("FAILED: cannot start the uninstaller\n");
        return 1;
    }
    HWND box = nullptr;
    WizardDriver::WaitUntil([&] { return (box = FindMessageBoxByCaption(L"卸载", {})) != nullptr; },
                            20000);
    if (box == nullptr) {
        printf("FAILED: no question\n");
        return 1;
    }
    printf("caption: %s\nquestion: %s\n", driver.Text(box).c_str(),
           driver.ItemText(box, 0xFFFF).c_str());
    Shot("8-uninstall-question");
    driver.AnswerMessageBox(box, yes ? IDYES : IDNO);
    if (yes) {
        HWND summary = nullptr;
        WizardDriver::WaitUntil(
            [&] { return (summary = FindMessageBoxByCaption(L"卸载", {box})) != nullptr; }, 120000);
        if (summary == nullptr) {
            printf("FAILED: no final box\n");
            return 1;
        }
        printf("summary: %s\n", driver.ItemText(summary, 0xFFFF).c_str());
        Shot("9-uninstall-summary");
        driver.AnswerMessageBox(summary, IDOK);
    }
    printf("answered %s; exit code %d\n", yes ? "Yes" : "No", driver.WaitForExit(15000));
    return 0;
}
