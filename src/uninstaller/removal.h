#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "manifests/manifest.h"
#include "uninstaller/file_pass.h"
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
  // directory pass. The file pass of a real run unlinks a window of paths
  // grouped by directory (file_pass.h) before it reports them; every path is
  // reported in the listed order, and only once it is gone.
  void removeItems(const PathList& paths, bool skipDirectories, bool ifNotEmpty, int total);
  // How many paths the file pass groups at a time (kFileWindow), so a test
  // sees window boundaries with a few paths.
  void setFileWindow(std::size_t paths) { fileWindow_ = std::max<std::size_t>(1, paths); }

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
  // What the held-back path and the rules make of a path, and, when nothing
  // is against it, what the platform's removal did.
  PathFate decide(const std::string& path, RemovalScope scope, Named named);
  // Whether the path is the held-back one, noting how it was asked for.
  bool hold(const std::string& path, RemovalScope scope, Named named);
  // decide() for a path that is not held back.
  PathFate judgeAndRemove(const std::string& path, RemovalScope scope);
  // Everything said about one path once its fate is known.
  void conclude(const std::string& path, RemovalScope scope, Named named, const PathFate& fate);
  // One path of a list, in the listed order: its progress line, then what
  // became of it.
  void reportListed(const std::string& path, RemovalScope scope, int total, const PathFate& fate);
  void keep(const std::string& path, KeepReason reason, const std::string& detail,
            const std::string& logLine);

  bool isDeferred(const std::string& path) const;

  Platform& platform_;
  RunProgress& progress_;
  const RemovalRules& rules_;
  RunReport& report_;
  int failures_ = 0;
  std::size_t fileWindow_ = kFileWindow;
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
