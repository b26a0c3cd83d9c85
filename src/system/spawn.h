#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace qu {

// Where one of a child's standard streams goes.
enum class ChildStream { Inherit, Pipe, DevNull, OurStandardError };

struct ChildStreams {
  // Pipe: readable through outputFd(); OurStandardError: wherever our
  // standard error goes, so our standard output stays ours alone.
  ChildStream output = ChildStream::Inherit;
  ChildStream error = ChildStream::Inherit;  // Inherit or DevNull
};

// A started child process. Unless it was waited for or released, going out
// of scope closes our end of its output pipe and then waits for it, so no
// descriptor leaks and no child is left unreaped.
class ChildProcess {
 public:
  ChildProcess(pid_t pid, UniqueFd output) : pid_(pid), output_(std::move(output)) {}
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // Read end of the output pipe, or -1 when there is none (any more).
  int outputFd() const { return output_.get(); }
  void closeOutput() { output_.reset(); }

  // Waits until the child has ended; later calls give the same answer.
  ExitStatus wait();
  // Gives up the child: it runs on and this object no longer waits for it.
  // Answers its pid, for whoever reaps it instead.
  pid_t release();

 private:
  void finish();

  pid_t pid_ = -1;
  UniqueFd output_;
  std::optional<ExitStatus> status_;
};

// Children that run on unwaited for. Each is reaped once it has ended,
// without ever waiting for one that still runs; whatever is left when this
// goes away is adopted by init once we exit.
class DetachedChildren {
 public:
  DetachedChildren() = default;
  DetachedChildren(const DetachedChildren&) = delete;
  DetachedChildren& operator=(const DetachedChildren&) = delete;
  ~DetachedChildren() { reapEnded(); }

  void add(ChildProcess child);
  // Reaps those that have ended (waitpid with WNOHANG).
  void reapEnded();
  std::size_t count() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// Starts the program directly (no shell, no PATH search) with argv[0] set to
// the program path and every argument passed unchanged, empty ones included.
// The child gets our environment and working directory, an empty signal mask
// and the default action for every signal, whatever our caller left ignored.
// A program that cannot be executed is reported as an error Status carrying
// the errno. `environment` ("NAME=value" each) replaces ours when given.
Result<ChildProcess> spawnChild(const std::string& program,
                                const std::vector<std::string>& arguments, ChildStreams streams,
                                const std::vector<std::string>* environment = nullptr);

// The environment for programs we run as root on behalf of a caller who is
// not root (a setuid start, or a helper that kept the caller's
// environment): a fixed PATH, root's HOME and the caller's locale variables,
// and nothing else, as sudo's env_reset gives. `ours` is "NAME=value" each.
std::vector<std::string> resetEnvironment(const std::vector<std::string>& ours,
                                          const std::string& rootHome);

// waitpid() for one child, not cut short by signals.
ExitStatus waitForChild(pid_t pid);

}  // namespace qu
