#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qu {

// Runs a system tool for its text: the whole standard output when it exits
// with status 0 and printed something, otherwise nothing. A program that
// cannot be started also gives nothing, with one log line naming it.
std::optional<std::string> stringFromExecutable(Platform& platform, const std::string& executable,
                                                const std::vector<std::string>& arguments);
// As above; `broke` becomes true when the tool could not be started or was
// killed by a signal, so its silence is no answer at all (an empty list is
// one, and so is a refusal by exit status).
std::optional<std::string> stringFromExecutable(Platform& platform, const std::string& executable,
                                                const std::vector<std::string>& arguments,
                                                bool& broke);
// The judgement above of an answer already captured (one of several queries
// run together): its text, or nothing, with the same log line and `broke`.
std::optional<std::string> outputOfQuery(Platform& platform, const std::string& executable,
                                         CapturedOutput captured, bool& broke);

}  // namespace qu
