#include "uninstaller/gallery_sequence.h"

#include <boost/lexical_cast.hpp>
#include <boost/regex.hpp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "extensions/text.h"

namespace qu {

bool uninstallGallery(Platform& platform, RunProgress& progress,
                      const std::optional<std::string>& setupPath,
                      const std::optional<std::string>& identifier) {
  if (!setupPath || !platform.exists(*setupPath)) {
    platform.log("Cannot find Gallery Setup executable at: '" + setupPath.value_or("(null)") + "'");
    return false;
  }

  std::vector<std::string> arguments{"--verbose", "--uninstall", "--keepconfigs", "--guid"};
  if (identifier) arguments.push_back(*identifier);
  Result<std::unique_ptr<PipedChild>> started = platform.startPiped(*setupPath, arguments);
  if (!started) {
    platform.log("Could not start Gallery Setup executable at: '" + *setupPath +
                 "': " + std::strerror(started.error().errnum()));
    return false;
  }
  PipedChild& tool = *started.value();

  // Perl syntax, default options: "." also takes the newline, so group 2
  // keeps the tool's own line end.
  const boost::regex progressLine("Uninstalling:\\s+\\[(\\d+)%\\](.*)");
  while (std::optional<std::string> line = tool.readLine()) {
    boost::smatch match;
    if (!boost::regex_match(*line, match, progressLine)) continue;
    std::int32_t toolPercent = 0;
    // Digits beyond the 32-bit range are no percentage: not a progress line.
    if (!boost::conversion::try_lexical_convert(match[1].str(), toolPercent)) continue;

    const std::string text = match[2].str();
    // 64 bits: a run percentage plus the largest 32-bit value must not overflow.
    const long long shown = static_cast<long long>(progress.percent) +
                            toolPercent / (progress.itemCount > 0 ? progress.itemCount : 1);
    std::string out = format("Uninstalling: [%lld%%]%s", shown, text.c_str());
    if (!text.ends_with('\n')) out += '\n';
    platform.print(out);
  }
  // The exit status tells nothing the tool has not printed already.
  (void)tool.wait();

  progress.percent += progress.share();
  return true;
}

}  // namespace qu
