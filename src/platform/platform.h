#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locations.h"
#include "platform/removal.h"
#include "platform/result.h"
#include "platform/status.h"

namespace qu {

// What a query of a system tool produced: how it ended and its standard output.
struct CapturedOutput {
  ExitStatus status;
  std::string output;
};

// One query of a system tool: the program and its argument vector.
struct ToolQuery {
  std::string program;
  std::vector<std::string> arguments;
};

// A started child whose standard output arrives through a pipe, read line by line.
class PipedChild {
 public:
  virtual ~PipedChild() = default;
  // The next line with its newline, a last line without one, or nothing at the
  // end of the output. Lines longer than 1023 bytes come back in pieces.
  virtual std::optional<std::string> readLine() = 0;
  // Waits for the child to exit. Call once, after readLine() reported the end.
  virtual ExitStatus wait() = 0;
};

// An application the system reports as launched.
struct LaunchedApplication {
  std::string path;       // the bundle, "/Applications/X.app"
  std::string name;       // "X"
  std::uint32_t serialHigh = 0;  // process serial number, high part
  std::uint32_t serialLow = 0;   // process serial number, low part
};

// The one seam between the uninstaller and the operating system. Every effect
// (starting programs, deleting, rewriting property lists, signals, identity,
// output and log) and every fixed location goes through here, so a test, a
// dry run or a fault-injecting wrapper can stand in for any part of it.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual const Locations& locations() const = 0;

  // --- Programs. The argument vector excludes the program name; every element
  // is passed as one argument, empty strings included. Never through a shell.

  // Runs to completion with standard output captured (drained before the wait)
  // and standard error discarded.
  virtual CapturedOutput captureOutput(const std::string& program,
                                       const std::vector<std::string>& arguments) = 0;
  // Runs every query as captureOutput() does, several at a time where the
  // platform can (a bounded number), and answers in the order of the
  // queries, whatever order they end in. Here, one after another.
  virtual std::vector<CapturedOutput> captureOutputs(const std::vector<ToolQuery>& queries);
  // Runs to completion with the uninstaller's own streams.
  virtual ExitStatus runAndWait(const std::string& program,
                                const std::vector<std::string>& arguments) = 0;
  // Starts and does not wait.
  virtual Status startDetached(const std::string& program,
                               const std::vector<std::string>& arguments) = 0;
  // Starts with standard output to a pipe; standard error is inherited.
  virtual Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) = 0;

  // From now on standard output carries only what the tool itself prints (a
  // JSON stream): programs started with our streams write their standard
  // output to our standard error instead.
  virtual void reserveStandardOutput() = 0;

  // --- Text for the user (standard output) and lines for the system log.
  virtual void print(std::string_view text) = 0;
  // A progress line ("Uninstalling:..."), with its newline. Printed like any
  // other text, except in a dry run, whose effect lines replace it.
  virtual void printProgress(std::string_view line) = 0;
  // Text for the user on standard error: hints about the command line, not
  // log lines.
  virtual void printError(std::string_view text) = 0;
  virtual void log(std::string_view message) = 0;

  // --- File-system queries.
  // True when something exists at the path; follows symbolic links, so a
  // dangling link does not exist.
  virtual bool exists(const std::string& path) = 0;
  // The mode of the path itself (lstat), or nothing when it cannot be examined.
  virtual std::optional<mode_t> linkMode(const std::string& path) = 0;
  // Entry names of a directory, one level, hidden ones included, "." and ".."
  // excluded, sorted by name; nothing when it cannot be listed.
  virtual std::optional<std::vector<std::string>> listDirectory(const std::string& path) = 0;
  // The whole of a regular file, reached as examine() reaches paths; a link
  // at the end is followed only when it is the system's own. A named pipe,
  // a device, a socket, or a file larger than 64 MiB is refused (one log
  // line); a directory is no file, silently.
  virtual std::optional<std::string> readFile(const std::string& path) = 0;

  // What the removal's walk finds at the path: the path is reached one
  // component at a time from "/" through directory descriptors, following a
  // symbolic link on the way only when root owns it and everything above it,
  // and never following one at its end.
  virtual PathState examine(const std::string& path) = 0;
  // Whether root alone controls what runs from the path, so it may be run
  // as root: a regular file owned by root and writable by no one else but
  // the administrators' group, and so is every directory above it; links on
  // the way and at the end count only when they are the system's own. The
  // error says why not, fit for a log line.
  virtual Status trustedByRoot(const std::string& path) = 0;
  // Whether root alone controls what a system tool run as root would act on
  // at the path (a launchd job's description, a kernel extension's folder):
  // a regular file as above, or a folder owned by root and writable by no
  // one else, every directory above it likewise. Nothing there passes when
  // no one but root could put something there.
  virtual Status controlledByRoot(const std::string& path) = 0;

  // --- File-system effects.
  // Deletes the path as far as the scope allows, reaching it as examine()
  // does; a symbolic link at the end is removed itself, never followed.
  // Says what became of it. The caller has already checked the path against
  // the removal's rules (shared files, system directories).
  virtual Removal removePath(const std::string& path, RemovalScope scope) = 0;
  // What removePath(path, Tree) would answer, changing nothing: a tree on
  // another file system, too deep, or holding another user's folder stays.
  // Where files are not real, every tree would go.
  virtual Removal judgeTreeRemoval(const std::string&) {
    return Removal::of(Removal::Outcome::Removed);
  }
  // Removes the values named by the key paths from the dictionary property
  // list at the path and writes it back atomically, keeping its mode, owner
  // and every other value. The file is reached as examine() does and must be
  // a regular file, not a link. A file that cannot be read as a dictionary is
  // left untouched and reported with ENOENT (missing), ELOOP (a link, or a
  // link on the way refused) or EINVAL (not a dictionary); one holding a
  // value its written form cannot keep, with EILSEQ. Says, per key path,
  // whether a value was there and is gone.
  virtual Result<std::vector<bool>> removePropertyListKeys(
      const std::string& path, const std::vector<std::string>& keyPaths) = 0;
  // Reports a path of a package that the removal leaves in place, and why;
  // `detail` names the package that shares it or the refused link. Nothing
  // happens to it; a dry run shows it.
  virtual void keepPath(const std::string& path, KeepReason reason,
                        const std::string& detail) = 0;

  // --- Identity, processes and applications.
  virtual Status becomeRoot() = 0;
  virtual pid_t ownProcessGroup() = 0;
  // Sends the signal to the process group. `program` is the executable the
  // process table recorded for the group, used in messages only.
  virtual Status signalProcessGroup(pid_t group, int signal, const std::string& program) = 0;
  virtual std::vector<LaunchedApplication> launchedApplications() = 0;
  // Asks an application to quit without waiting; 0 when sent, else an errno.
  virtual int sendQuitEvent(const LaunchedApplication& application) = 0;
  // Whether the process still runs the program (process ids are reused),
  // and why a quit request must not go to an application's process (an
  // errno, or 0): the real platform asks both before each signal and quit
  // request, and a dry run asks them too, so it shows only what would go
  // out. Where processes are not real, the answers are yes and 0.
  virtual bool stillRuns(pid_t, const std::string&) { return true; }
  virtual int quitRefusal(const LaunchedApplication&) { return 0; }
  // Whether effects are only shown: a dry run's log claims none.
  virtual bool onlyShowsEffects() const { return false; }
};

// Each query through the platform's own captureOutput(), one after another.
inline std::vector<CapturedOutput> captureOneAfterAnother(Platform& platform,
                                                          const std::vector<ToolQuery>& queries) {
  std::vector<CapturedOutput> answers;
  answers.reserve(queries.size());
  for (const ToolQuery& query : queries) {
    answers.push_back(platform.captureOutput(query.program, query.arguments));
  }
  return answers;
}

inline std::vector<CapturedOutput> Platform::captureOutputs(const std::vector<ToolQuery>& queries) {
  return captureOneAfterAnother(*this, queries);
}

}  // namespace qu
