#pragma once

#include <string_view>

#include "manifests/manifest.h"

namespace qu {

// The processes of a "/bin/ps -Ao pid=,comm=" listing whose command is an
// absolute path: each line is blanks, the pid, one separator character and the
// path to the end of the line. Unparsable lines are skipped; a later line
// replaces an earlier one with the same path.
ProcessTable parseProcessListing(std::string_view listing);

// The processes whose path is the tail of at least one of the files, compared
// as folded text, so neither letter case nor the composition of accented
// letters matters ("/./Applications/X.app/Contents/MacOS/X" holds
// "/applications/x.app/contents/macos/x"). Grows with processes plus files,
// not with their product.
ProcessTable processesRunningFrom(const ProcessTable& processes, const PathList& files);
// The same rule as a plain scan of every (folded) process against every
// (folded) file: the reference the indexed lookup is checked and measured against.
ProcessTable processesRunningFromByScan(const ProcessTable& processes, const PathList& files);

}  // namespace qu
