// Console driver for the demo: starts the uninstaller without its silent
// switch, prints its question, prints "SHOT <name>" and waits for a line (the
// calling script takes the picture), then answers No. Texts are printed in GBK.
#include "wizard_driver.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: uninstall-driver <uninstaller.exe> [working folder]\n");
        return 2;
    }
    WizardDriver driver;
    if (!driver.Start(argv[1], argc > 2 ? argv[2] : "")) {
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
    printf("caption: %s\nquestion: %s\nSHOT 8-uninstall-question\n", driver.Text(box).c_str(),
           driver.ItemText(box, 0xFFFF).c_str());
    fflush(stdout);
    char line[64];
    if (!fgets(line, sizeof line, stdin))
        Sleep(300);
    driver.AnswerMessageBox(box, IDNO);
    printf("answered No; exit code %d\n", driver.WaitForExit(15000));
    return 0;
}
