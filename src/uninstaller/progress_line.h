#pragma once

#include <boost/regex.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qu {

// A progress line of the gallery setup tool: "Uninstalling:", white space,
// "[<percent>%]" and the rest of the line.
struct ProgressLine {
  std::int32_t percent = 0;
  // Everything after "]", the line's own newline included.
  std::string text;
};

// Recognises the tool's progress lines; made once per collection removal.
class ProgressLineMatcher {
 public:
  ProgressLineMatcher();

  // The whole line must match. Nothing for any other line, and for one whose
  // percentage does not fit 32 bits.
  std::optional<ProgressLine> match(std::string_view line) const;

 private:
  boost::regex pattern_;
};

}  // namespace qu
