#pragma once
// Removes what an installation recorded, and only that: services whose
// program lies in the install folder, links that lead into it, files whose
// size and content still match the record, folders once empty, the Programs
// and Features entry. Every item is checked and deleted through one handle
// opened without following links, so nothing swapped in between can send a
// delete elsewhere. When the install folder's real path cannot be read,
// nothing is deleted. What was already gone counts as removed.
#include "record/uninstall_record.h"

#include <functional>
#include <string>
#include <vector>

struct KeptItem {
    std::wstring Name;  // a path relative to the install folder, or a name
    std::string Reason; // why it stays, for the user (GBK)
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
using UninstallProgress = std::function<void(size_t done, size_t total, const std::wstring& item)>;

// installDir ends in a backslash. The record is trusted already (its digest
// matched the entry's). The uninstaller program and the record are not
// touched here (they go last, once everything else is gone).
UninstallOutcome RunUninstall(const UninstallRecord& record, const std::wstring& installDir,
                              const UninstallProgress& progress);

// What is left in the install folder besides the uninstaller and its record
// (files created after the installation), as paths relative to it; at most
// limit names.
std::vector<std::wstring> LeftoverFiles(const std::wstring& installDir, size_t limit);

// How long the uninstaller waits for a deleted service to disappear and for
// its process to end before it counts the service as not removed.
constexpr unsigned long kServiceGoneWaitMs = 30000;
