#pragma once
// Collects what an installation made, for the uninstaller's record: the
// files of the taken groups this run placed (or that an earlier installation
// placed and nobody changed since), with their size and CRC-32, the folders
// holding them, the dated backup folders, the services and links that exist.
// Texts are written as UTF-8.
#include "install/setup_context.h"
#include "record/uninstall_record.h"

UninstallRecord BuildUninstallRecord(const SetupContext& context);
