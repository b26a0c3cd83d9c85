#include "uninstaller/progress_line.h"

#include <boost/lexical_cast.hpp>

namespace qu {

// Perl syntax, default options: "." also takes the newline, so group 2 keeps
// the tool's own line end.
ProgressLineMatcher::ProgressLineMatcher() : pattern_("Uninstalling:\\s+\\[(\\d+)%\\](.*)") {}

std::optional<ProgressLine> ProgressLineMatcher::match(std::string_view line) const {
  boost::match_results<std::string_view::const_iterator> groups;
  if (!boost::regex_match(line.begin(), line.end(), groups, pattern_)) return std::nullopt;
  ProgressLine progress;
  // Digits beyond the 32-bit range are no percentage: not a progress line.
  if (!boost::conversion::try_lexical_convert(groups[1].str(), progress.percent)) {
    return std::nullopt;
  }
  progress.text = groups[2].str();
  return progress;
}

}  // namespace qu
