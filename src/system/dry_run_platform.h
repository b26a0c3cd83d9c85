#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_wrapper.h"

namespace qu {

// Shows what a removal would do without doing it. Queries go to the wrapped
// platform; every effect is printed instead, one line starting with "Would "
// through the wrapped platform's print, and progress lines are dropped.
// Queries answer as they would during the real run: a path this run has
// "deleted", and everything below it, no longer exists, is no directory
// entry and cannot be read.
class DryRunPlatform : public PlatformWrapper {
 public:
  explicit DryRunPlatform(Platform& target) : PlatformWrapper(target) {}

  // "Would run: <program> <argument>...", quoted with quoteArgument().
  // runAndWait answers ExitStatus::skipped(); startPiped a child with no
  // output whose wait() answers the same.
  ExitStatus runAndWait(const std::string& program,
                        const std::vector<std::string>& arguments) override;
  Status startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override;
  Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) override;

  void printProgress(std::string_view) override {}

  bool exists(const std::string& path) override;
  std::optional<mode_t> linkMode(const std::string& path) override;
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) override;

  // "Would delete: <path>" for a path that is there (or that this user cannot
  // rule out), remembered as deleted. Refuses and fails like the real deletion.
  Status removePath(const std::string& path) override;
  // Built on this class's own linkMode() and removePath(), never on the
  // wrapped platform's deletion.
  Status removeUnlessDirectory(const std::string& path) override {
    return Platform::removeUnlessDirectory(path);
  }
  // "Would remove key: <key path> from <file>" per key path, in order, when
  // the file reads as a dictionary; otherwise the real call's error, silently.
  Status removePropertyListKeys(const std::string& path,
                                const std::vector<std::string>& keyPaths) override;
  // "Would keep: <path>".
  void leaveDirectory(const std::string& path) override;

  // Nothing changes identity in a dry run.
  Status becomeRoot() override { return Status::ok(); }
  // "Would kill: <group> <program>"; refuses the groups the real call refuses.
  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override;
  // "Would quit: <name> <path> <process id>", name and path quoted with
  // quoteArgument(); answers 0.
  int sendQuitEvent(const LaunchedApplication& application) override;

  // Whether this run has deleted the path or one of its ancestors. Paths are
  // compared without "." and empty components.
  bool isDeleted(const std::string& path) const;

 private:
  bool isDeletedNormalised(const std::string& normal) const;
  // False only when the path is known to be absent: deleted by this run, or
  // missing from a parent directory that can be listed.
  bool mightExist(const std::string& normal);
  void show(const std::string& line);

  std::set<std::string> deleted_;  // absolute, normalised
};

// One argument as a dry run shows it: as it is, or in double quotes when it
// is empty or holds white space, a double quote or a backslash; inside the
// quotes a double quote or a backslash is preceded by a backslash.
std::string quoteArgument(std::string_view argument);

// The program and its arguments, each quoted with quoteArgument(), joined by
// single blanks.
std::string quoteCommandLine(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace qu
