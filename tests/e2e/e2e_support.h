#pragma once
// Shared steps of the end-to-end tests: packages made into real setup
// programs, the install folder on D:, and tidying up what a run leaves.
#include "tests/support/test_support.h"
#include "tools/wizard_driver/wizard_driver.h"

#include <string>
#include <vector>

// Where the setup program installs by default: D:\ plus the tag folder.
extern const char kInstallDir[];

// A package whose programs really run: the sample server and client
// programs and the database stand-in, plus a few data files.
TestPackage RunnablePackage(bool withServer = true);
// Adds count files of size bytes each (poorly compressible) to the client group.
void AddBulkFiles(TestPackage* package, int count, size_t size);

// Builds the package into <scratch>\e2e\<name>.exe and gives a fresh working
// folder for the run; false when the program could not be written.
bool PrepareSetup(const TestPackage& package, const std::string& name, std::string* exePath,
                  std::string* workDir);

// Removes the install folder, the services, the shortcuts and the Programs
// and Features entry a run makes.
void CleanInstallation();
// Names of the Programs and Features keys our installations made.
std::vector<std::string> UninstallEntryKeys();

// Starts the program and waits for the Welcome page.
bool StartWizard(WizardDriver* driver, const std::string& exePath, const std::string& workDir);
// From Welcome to Location, answering the data-server question when it comes.
bool GoToLocation(WizardDriver* driver, int answer);
// Presses Next and waits for the given page.
bool PressNext(WizardDriver* driver, int page);
bool PressBack(WizardDriver* driver, int page);
// Waits for Finish, closing any message box of the post-install actions;
// their texts go to reports.
bool WaitForFinish(WizardDriver* driver, DWORD timeoutMs, std::vector<std::string>* reports);

std::string RequiredText(uint64_t bytes);
bool ServiceExists(const char* name);
