#pragma once

#include <optional>
#include <string>
#include <utility>

#include "manifests/manifest.h"
#include "uninstaller/run_report.h"

namespace qu {

// Deletes what a package put on disk, best effort, printing one progress line
// per manifest path. Each path is first judged by the run's RemovalRules and
// then handed to the platform once, which reaches it without following links
// that are not the system's own. Paths left in place for a reason worth
// knowing (shared, system directory, link refused, not empty) are reported
// through Platform::keepPath() and the run's report; failed deletions are
// silent.
class FileRemoval {
 public:
  explicit FileRemoval(RunContext& run)
      : platform_(run.platform), progress_(run.progress), rules_(run.rules), report_(run.report) {}

  // Deletes the manifest's files, then those of its directories that are left
  // empty (a lone ".DS_Store" file counts as empty), and adds the item's share
  // to the run's percentage. A missing manifest or list counts as empty.
  void removeManifest(Manifest* manifest);

  // For each path: advances the position, prints its progress line, and
  // deletes it unless it is a directory and skipDirectories holds, where
  // ifNotEmpty still lets an empty directory go. Directories merely skipped,
  // without ifNotEmpty, are not reported: their verdict comes in the
  // directory pass.
  void removeItems(const PathList& paths, bool skipDirectories, bool ifNotEmpty, int total);

  // Deletes a path named on its own ("additionalfiles", a receipt bundle):
  // a directory with everything in it, unless unlessDirectory holds and the
  // path is a directory. Refusals are logged, since someone asked for it.
  void removeItem(const std::string& path, bool unlessDirectory = false);

  // The progress line for the path at `current` of `total`, at the run's
  // percentage: "Uninstalling:\t[<run percent>%] <name>" in text.
  void printProgressForName(const std::string& name, int total, int current);

  // Holds back the deletion of one path (the package's uninstall plist)
  // wherever the package names it, until removeDeferred(): while it stays,
  // a package that is not gone is still listed.
  void deferPath(const std::string& path);
  // Deletes the held-back path, as it was asked for, if it was.
  void removeDeferred();
  // Paths the system refused to delete, each logged; paths kept for a reason
  // (shared, a system directory, a refused link, a mount, too deep) are not
  // counted.
  int failures() const { return failures_; }

 private:
  // Whether a path named on its own is worth a log line when the rules keep it.
  enum class Named { InList, OnItsOwn };
  void remove(const std::string& path, RemovalScope scope, Named named);
  void keep(const std::string& path, KeepReason reason, const std::string& detail,
            const std::string& logLine);

  bool isDeferred(const std::string& path) const;

  Platform& platform_;
  RunProgress& progress_;
  const RemovalRules& rules_;
  RunReport& report_;
  int failures_ = 0;
  struct Deferred {
    std::string folded;      // normalised, letter case folded
    std::string foldedName;  // its last component, folded
    std::size_t nameBytes = 0;  // the last component's length as named
    std::optional<std::pair<std::string, RemovalScope>> asked;  // the path as named, and how
    Named named = Named::InList;
  };
  Deferred deferred_;
  mutable std::string scratch_;  // isDeferred()'s fold, kept for its capacity
};

}  // namespace qu
