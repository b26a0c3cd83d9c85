#pragma once

#include <optional>
#include <string>

#include "uninstaller/run_report.h"

namespace qu {

// Removes one gallery collection by running its gallery setup tool
// ("--verbose" "--uninstall" "--keepconfigs" "--guid" <identifier>) and
// reprinting the tool's "Uninstalling: [p%]" lines scaled to the collection's
// share of the run. The tool's standard error passes through. False, with a
// log line and the percentage untouched, when the tool is missing or cannot
// be started; otherwise true whatever the tool's exit status.
bool uninstallGallery(RunContext& run, const std::optional<std::string>& setupPath,
                      const std::optional<std::string>& identifier);

}  // namespace qu
