#include "system/spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>
#include <vector>

#include "system/os.h"

extern char** environ;

namespace qu {

namespace {

class FileActions {
 public:
  FileActions() { initError_ = ::posix_spawn_file_actions_init(&actions_); }
  ~FileActions() {
    if (initError_ == 0) ::posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  int initError() const { return initError_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  int initError_ = 0;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { initError_ = ::posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() {
    if (initError_ == 0) ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  int initError() const { return initError_; }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  int initError_ = 0;
};

// argv for posix_spawn: the strings stay owned here, the pointer array ends
// with null.
class ArgumentVector {
 public:
  ArgumentVector(const std::string& program, const std::vector<std::string>& arguments) {
    strings_.reserve(arguments.size() + 1);
    strings_.push_back(program);
    strings_.insert(strings_.end(), arguments.begin(), arguments.end());
    point();
  }
  // An environment block: the strings as given.
  explicit ArgumentVector(std::vector<std::string> strings) : strings_(std::move(strings)) {
    point();
  }
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;
  char* const* get() const { return pointers_.data(); }

 private:
  void point() {
    pointers_.reserve(strings_.size() + 1);
    for (std::string& text : strings_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }

  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

Status spawnError(int errnum, const std::string& program) {
  return Status::fromErrno(errnum, "start " + program);
}

// A child should not inherit whatever signal setup the uninstaller has, nor
// what its own caller left ignored (SIGINT and SIGQUIT under nohup, SIGCHLD).
// `flags` may hold flags of the system's own already.
int prepareAttributes(SpawnAttributes& attributes, short flags) {
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigfillset(&defaults);
  if (int error = ::posix_spawnattr_setsigmask(attributes.get(), &none)) return error;
  if (int error = ::posix_spawnattr_setsigdefault(attributes.get(), &defaults)) return error;
  return ::posix_spawnattr_setflags(
      attributes.get(), static_cast<short>(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
}

int redirectToDevNull(FileActions& actions, int target) {
  return ::posix_spawn_file_actions_addopen(actions.get(), target, "/dev/null", O_WRONLY, 0);
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      output_(std::move(other.output_)),
      status_(std::exchange(other.status_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    finish();
    pid_ = std::exchange(other.pid_, -1);
    output_ = std::move(other.output_);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

ChildProcess::~ChildProcess() { finish(); }

void ChildProcess::finish() {
  // Closing first: a child still writing gets EPIPE instead of blocking us.
  output_.reset();
  if (pid_ > 0 && !status_) waitForChild(pid_);
  pid_ = -1;
}

ExitStatus ChildProcess::wait() {
  // Never waitpid(-1): a released child is no longer ours to reap.
  if (pid_ <= 0) return status_.value_or(ExitStatus::notStarted(ECHILD));
  if (!status_) status_ = waitForChild(pid_);
  return *status_;
}

pid_t ChildProcess::release() {
  output_.reset();
  return std::exchange(pid_, -1);
}

void DetachedChildren::add(ChildProcess child) {
  const pid_t pid = child.release();
  if (pid > 0) pids_.push_back(pid);
}

void DetachedChildren::reapEnded() {
  std::erase_if(pids_, [](pid_t pid) {
    int status = 0;
    pid_t answer = 0;
    do {
      answer = ::waitpid(pid, &status, WNOHANG);
    } while (answer < 0 && errno == EINTR);
    // Ended and reaped now, or no longer ours to reap.
    return answer != 0;
  });
}

Result<ChildProcess> spawnChild(const std::string& program,
                                const std::vector<std::string>& arguments, ChildStreams streams,
                                const std::vector<std::string>* environment) {
  FileActions actions;
  if (actions.initError() != 0) return spawnError(actions.initError(), program);
  SpawnAttributes attributes;
  if (attributes.initError() != 0) return spawnError(attributes.initError(), program);
  // Before any redirection: what the system adds must not undo one.
  short flags = 0;
  if (int error = os::keepDescriptorsFromChild(actions.get(), flags)) {
    return spawnError(error, program);
  }
  if (int error = prepareAttributes(attributes, flags)) return spawnError(error, program);

  // Our ends are close-on-exec, so the child holds only the copy dup2 makes
  // and sees the end of our pipe once it exits.
  UniqueFd readEnd;
  UniqueFd writeEnd;
  if (streams.output == ChildStream::Pipe) {
    int ends[2];
    if (int error = os::openPipe(ends)) return spawnError(error, program);
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
    if (int error = ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(),
                                                       STDOUT_FILENO)) {
      return spawnError(error, program);
    }
  } else if (streams.output == ChildStream::DevNull) {
    if (int error = redirectToDevNull(actions, STDOUT_FILENO)) return spawnError(error, program);
  } else if (streams.output == ChildStream::OurStandardError) {
    if (int error = ::posix_spawn_file_actions_adddup2(actions.get(), STDERR_FILENO,
                                                       STDOUT_FILENO)) {
      return spawnError(error, program);
    }
  }
  if (streams.error == ChildStream::DevNull) {
    if (int error = redirectToDevNull(actions, STDERR_FILENO)) return spawnError(error, program);
  }

  ArgumentVector argv(program, arguments);
  std::optional<ArgumentVector> envp;
  if (environment != nullptr) envp.emplace(*environment);
  pid_t pid = -1;
  // A failed exec (missing or not executable) comes back as the result.
  const int error = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(),
                                  argv.get(), envp ? envp->get() : environ);
  if (error != 0) return spawnError(error, program);
  return ChildProcess(pid, std::move(readEnd));
}

std::vector<std::string> resetEnvironment(const std::vector<std::string>& ours,
                                          const std::string& rootHome) {
  std::vector<std::string> reset{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "HOME=" + rootHome};
  for (const std::string& variable : ours) {
    // The caller's language is theirs to keep; nothing else of theirs is. A
    // value with "/" or "%" names a file or a format, not a language.
    const bool locale = variable.starts_with("LANG=") || variable.starts_with("LANGUAGE=") ||
                        variable.starts_with("LC_");
    const std::string_view value = std::string_view(variable).substr(variable.find('=') + 1);
    if (locale && value.find_first_of("/%") == std::string_view::npos) {
      reset.push_back(variable);
    }
  }
  return reset;
}

ExitStatus waitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    // The child is gone without a status we can read; count it as a failure.
    if (errno != EINTR) return ExitStatus::notStarted(errno);
  }
  if (WIFSIGNALED(status)) return ExitStatus::signaled(WTERMSIG(status));
  return ExitStatus::exited(WEXITSTATUS(status));
}

}  // namespace qu
