#pragma once

#include "items/package_item.h"
#include "uninstaller/run_report.h"

namespace qu {

// Removes one package end to end, in this order: pre-remove script ("--silent"
// "true"/"false"), launchd services, running programs, kernel extensions,
// "additionalfiles", the manifest's files and empty directories (with
// progress), the package record (forgotten in the package database, or its
// receipt deleted), and the "plistremove" edits. Every step is attempted
// whatever the others did; outcomes of outside programs and settings that
// cannot be used go to the log. Paths are deleted under the run's rules
// (shared files and system directories stay). Always true.
bool uninstallPackage(RunContext& run, const PackageItem& item);

}  // namespace qu
