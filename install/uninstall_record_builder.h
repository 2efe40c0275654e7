#pragma once
// Collects what an installation made, for the uninstaller's record: every
// file of the taken groups as it lies now, the folders holding them, the
// dated backup folders, the services and links that exist.
#include "install/setup_context.h"
#include "record/uninstall_record.h"

UninstallRecord BuildUninstallRecord(const SetupContext& context);

// Size and last write time of a file; false when it cannot be read.
bool ReadFileStamp(const std::string& path, uint64_t* size, uint64_t* writeTime);
