#include "uninstaller/gallery_sequence.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "extensions/paths.h"
#include "uninstaller/progress_line.h"

namespace qu {
namespace {

// Whether the path lies below one of the maker's own folders, ".." and all
// spelt out: the preferences naming the tool are anyone's to write, and root
// may own many programs that are not the gallery's.
bool insideMakerFolders(const Locations& locations, const std::string& path) {
  if (!isPlainAbsolutePath(path)) return false;
  const std::string normal = normalisedPath(path);
  return std::any_of(locations.makerFolders.begin(), locations.makerFolders.end(),
                     [&normal](const std::string& folder) {
                       const std::string prefix = normalisedPath(folder) + "/";
                       return normal.size() > prefix.size() && normal.starts_with(prefix);
                     });
}

}  // namespace

bool uninstallGallery(RunContext& run, const std::optional<std::string>& setupPath,
                      const std::optional<std::string>& identifier) {
  Platform& platform = run.platform;
  RunProgress& progress = run.progress;
  ProgramCall call{ProgramRole::GallerySetup, setupPath.value_or(""), setupPath.value_or(""),
                   {"--verbose", "--uninstall", "--keepconfigs", "--guid"}};
  if (identifier) call.arguments.push_back(*identifier);
  if (!setupPath || !platform.exists(*setupPath)) {
    platform.log("Cannot find Gallery Setup executable at: '" + setupPath.value_or("(null)") + "'");
    run.report.programNotRun(call, Status::error(ENOENT, "no such program"));
    return false;
  }
  if (!insideMakerFolders(platform.locations(), *setupPath)) {
    platform.log("Refusing to run Gallery Setup executable at: '" + *setupPath +
                 "': it is not inside the maker's folders");
    run.report.programNotRun(call, Status::error(EACCES, "not inside the maker's folders"));
    return false;
  }
  // It runs as root, and its path comes from a file every user may write.
  if (const Status trusted = platform.trustedByRoot(*setupPath); !trusted) {
    platform.log("Refusing to run Gallery Setup executable at: '" + *setupPath +
                 "': " + trusted.message());
    run.report.programNotRun(call, trusted);
    return false;
  }

  Result<std::unique_ptr<PipedChild>> started = platform.startPiped(call.program, call.arguments);
  if (!started) {
    platform.log("Could not start Gallery Setup executable at: '" + *setupPath +
                 "': " + std::strerror(started.error().errnum()));
    run.report.programEnded(call, ExitStatus::notStarted(started.error().errnum()));
    return false;
  }
  PipedChild& tool = *started.value();

  const ProgressLineMatcher progressLines;
  while (std::optional<std::string> line = tool.readLine()) {
    std::optional<ProgressLine> match = progressLines.match(*line);
    if (!match) continue;

    // 64 bits: a run percentage plus the largest 32-bit value must not overflow.
    const long long shown = static_cast<long long>(progress.percent) +
                            match->percent / (progress.itemCount > 0 ? progress.itemCount : 1);
    run.report.toolProgress(shown, match->text);
  }
  // The exit status tells nothing the tool has not printed already; it only
  // goes into the report.
  run.report.programEnded(call, tool.wait());

  progress.percent += progress.share();
  return true;
}

}  // namespace qu
