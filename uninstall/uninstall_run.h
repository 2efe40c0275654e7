#pragma once
// Removes what an installation recorded, and only that: services, links,
// files whose size and last write time still match the record, folders once
// empty, the Programs and Features entry. Never follows a path that leads out
// of the install folder. What was already gone counts as removed.
#include "record/uninstall_record.h"

#include <functional>
#include <string>
#include <vector>

struct KeptItem {
    std::string Name;   // a path relative to the install folder, or a name
    std::string Reason; // why it stays, for the user
};

struct UninstallOutcome {
    int FilesRemoved = 0;
    int FoldersRemoved = 0;
    int ServicesRemoved = 0;
    int LinksRemoved = 0;
    bool EntryRemoved = false;
    std::vector<KeptItem> Kept;   // left on purpose
    std::vector<KeptItem> Failed; // should have gone and could not
};

// Called after each item: done of total, and what is being removed.
using UninstallProgress = std::function<void(size_t done, size_t total, const std::string& item)>;

// installDir ends in a backslash. The uninstaller program and the record are
// not touched here (they go last, once everything else is gone).
UninstallOutcome RunUninstall(const UninstallRecord& record, const std::string& installDir,
                              const UninstallProgress& progress);

// What is left in the install folder besides the uninstaller and its record
// (files created after the installation), as paths relative to it; at most
// limit names.
std::vector<std::string> LeftoverFiles(const std::string& installDir, size_t limit);
