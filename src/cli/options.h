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
  bool json = false;      // --json: JSON for scripts instead of text
  ItemList selection;     // --id and --all, each item at most once
};

// Requests that are answered before anything is loaded.
enum class EarlyRequest { None, Help, Version };

// Looks for --help (-h) and --version among the options, that is before
// "--", reading the command line as parseOptions() does; help wins over
// version. Prints nothing: the parser's complaints about the rest are left
// to parseOptions().
EarlyRequest readEarlyRequest(std::vector<std::string> arguments);

// Reads every option with getopt_long ("glavi:nh"; --id, --verbose, --list,
// --all, --gui, --dry-run, --json; --help and --version are read, and then
// ignored, here) against the catalogue. Returns the exit status when the
// command line ends the run by itself: 1 after "Invalid ID Specified: %s.",
// 0 after "Usage" (and a hint on standard error). Arguments that are not
// options are ignored, each with a line on standard error. The parser's state
// is reset first, so it can run again.
std::optional<int> parseOptions(Platform& platform, const Catalogue& catalogue,
                                std::vector<std::string> arguments, Options& options);

}  // namespace qu
