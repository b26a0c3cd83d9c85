#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_wrapper.h"

namespace qu {

// Where a dry run's effects go when they are not printed as "Would ..."
// lines: a reader that collects them (the plan document of `--dry-run
// --json`). Each call stands for one effect, in the order the removal would
// perform them.
class ShownEffects {
 public:
  virtual ~ShownEffects() = default;
  virtual void run(const std::string& program, const std::vector<std::string>& arguments) = 0;
  virtual void quit(const LaunchedApplication& application) = 0;
  virtual void kill(pid_t group, const std::string& program) = 0;
  virtual void remove(const std::string& path) = 0;
  virtual void keep(const std::string& path, KeepReason reason, const std::string& detail) = 0;
  virtual void removeKey(const std::string& file, const std::string& keyPath) = 0;
};

// Shows what a removal would do without doing it. Queries go to the wrapped
// platform; every effect is printed instead, one line starting with "Would "
// through the wrapped platform's print, and progress lines are dropped.
// Queries answer as they would during the real run: a path this run has
// "deleted", and everything below it, no longer exists, is no directory
// entry and cannot be read.
class DryRunPlatform : public PlatformWrapper {
 public:
  // Effects are printed as "Would ..." lines, through the target's print,
  // unless `effects` collects them.
  explicit DryRunPlatform(Platform& target, ShownEffects* effects = nullptr);
  ~DryRunPlatform() override;

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
  PathState examine(const std::string& path) override;
  // A program an earlier step would have deleted is missing, as for the
  // real run, so it is not shown as run.
  Status trustedByRoot(const std::string& path) override;

  // "Would delete: <path>" for a path the real removal would delete (judged
  // from the wrapped platform's examine() and listings, as this run has
  // left them), remembered as deleted; a path this user cannot rule out
  // counts as there. Answers what the real removal would.
  Removal removePath(const std::string& path, RemovalScope scope) override;
  // "Would remove key: <key path> from <file>" per key path, in order, when
  // the file reads as a dictionary; otherwise the real call's error, silently.
  Result<std::vector<bool>> removePropertyListKeys(
      const std::string& path, const std::vector<std::string>& keyPaths) override;
  // "Would keep: <path>".
  void keepPath(const std::string& path, KeepReason reason, const std::string& detail) override;

  // Nothing changes identity in a dry run.
  Status becomeRoot() override { return Status::ok(); }
  bool onlyShowsEffects() const override { return true; }
  // "Would kill: <group> <program>"; refuses the groups the real call refuses.
  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override;
  // "Would quit: <name> <path> <process id>", name and path quoted with
  // quoteArgument(); answers 0.
  int sendQuitEvent(const LaunchedApplication& application) override;

  // Whether this run has deleted the path or one of its ancestors: the same
  // spelling (without "." and empty components), or the same file as the
  // walk finds it, whatever the links and spelling on the way.
  bool isDeleted(const std::string& path);

 private:
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator<(const FileIdentity& a, const FileIdentity& b) {
      return a.device != b.device ? a.device < b.device : a.inode < b.inode;
    }
  };
  bool isDeletedNormalised(const std::string& normal);
  bool isSpeltDeleted(const std::string& normal) const;
  std::optional<FileIdentity> identityOf(const std::string& normal);
  // Whether the directory pass would take the directory: nothing in it, or
  // nothing but a ".DS_Store" file, once this run's deletions are gone.
  bool countsAsEmpty(const std::string& path);
  class ShownAsText;

  std::unique_ptr<ShownEffects> text_;
  ShownEffects& effects_;
  std::set<std::string> deleted_;  // absolute, normalised
  std::set<FileIdentity> deletedFiles_;
  // Nothing changes on disk in a dry run: a folder's identity is looked up once.
  std::map<std::string, std::optional<FileIdentity>, std::less<>> folders_;
};

// One argument as a dry run shows it: as it is, or in double quotes when it
// is empty or holds white space, a double quote or a backslash; inside the
// quotes a double quote or a backslash is preceded by a backslash.
std::string quoteArgument(std::string_view argument);

// The program and its arguments, each quoted with quoteArgument(), joined by
// single blanks.
std::string quoteCommandLine(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace qu
