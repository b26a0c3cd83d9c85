#pragma once

#include <string>

#include "platform/locations.h"

namespace qu {

// The --help text: every option with its meaning, the exit statuses, the
// fixed locations read and the tools run, and examples. Newline-ended.
std::string usageText(const Locations& locations);

// "quorvane-uninstall <version>" and a line end.
std::string versionText();

}  // namespace qu
