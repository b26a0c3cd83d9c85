#pragma once

#include <optional>
#include <string>
#include <vector>

#include "items/catalogue.h"
#include "platform/platform.h"

namespace qu {

// What the command line asked for.
struct Options {
  bool list = false;      // --list
  bool isSilent = true;   // cleared by --gui
  bool dryRun = false;    // --dry-run: show the removal, change nothing
  ItemList selection;     // --id and --all, each item at most once
};

// Reads every option with getopt_long ("glavi:n"; --id, --verbose, --list,
// --all, --gui, --dry-run) against the catalogue. Returns the exit status when the
// command line ends the run by itself: 1 after "Invalid ID Specified: %s.",
// 0 after "Usage". The parser's state is reset first, so it can run again.
std::optional<int> parseOptions(Platform& platform, const Catalogue& catalogue,
                                std::vector<std::string> arguments, Options& options);

}  // namespace qu
