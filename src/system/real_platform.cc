#include "system/real_platform.h"

#include <dirent.h>
#include <pwd.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "extensions/case_folding.h"
#include "extensions/file_handle.h"
#include "extensions/paths.h"
#include "extensions/plist_io.h"
#include "extensions/recurse.h"
#include "system/applications.h"
#include "system/concurrent_capture.h"
#include "system/line_output.h"
#include "system/os.h"
#include "system/log_line.h"
#include "system/path_walk.h"
#include "system/walk_queries.h"
#include "system/remove_path.h"
#include "system/spawn.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace qu {

namespace {

std::vector<std::string> ourEnvironment() {
  std::vector<std::string> variables;
  for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
    variables.emplace_back(*variable);
  }
  return variables;
}

std::string rootHome() {
  passwd entry{};
  passwd* root = nullptr;
  std::string buffer(16384, '\0');
  if (::getpwuid_r(0, &entry, buffer.data(), buffer.size(), &root) != 0 || root == nullptr ||
      root->pw_dir == nullptr) {
    return "/";
  }
  return root->pw_dir;
}

WriteCall writeCall() {
  return [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); };
}

LineOutput::Pace paceOf(int fd) {
  return ::isatty(fd) ? LineOutput::Pace::EveryLine : LineOutput::Pace::Blocks;
}

class RealPipedChild final : public PipedChild {
 public:
  RealPipedChild(ChildProcess child, DetachedChildren& detached)
      : child_(std::move(child)), reader_(child_.outputFd()), detached_(detached) {}

  std::optional<std::string> readLine() override {
    if (child_.outputFd() < 0) return std::nullopt;
    return reader_.readLine();
  }

  ExitStatus wait() override {
    // Whatever was not read yet is drained, so a child still writing can
    // finish instead of blocking on a full pipe.
    if (child_.outputFd() >= 0) {
      while (reader_.readLine()) {
      }
      child_.closeOutput();
    }
    const ExitStatus status = child_.wait();
    detached_.reapEnded();
    return status;
  }

 private:
  ChildProcess child_;
  LineReader reader_;
  DetachedChildren& detached_;
};

class RealPlatform final : public Platform {
 public:
  RealPlatform(Locations locations, RealPlatformOptions options)
      : locations_(std::move(locations)),
        options_(std::move(options)),
        write_(options_.propertyListWrite ? options_.propertyListWrite : writeCall()),
        walker_(locations_.administratorsGroup),
        output_(STDOUT_FILENO, paceOf(STDOUT_FILENO)) {
    // Started by someone who is not root, the process may hold root's rights
    // all the same (a setuid start): what runs as root must not run in the
    // caller's environment, their PATH and loader variables.
    if (::getuid() != 0) cleanEnvironment_ = resetEnvironment(ourEnvironment(), rootHome());
  }
  RealPlatform(const RealPlatform&) = delete;
  RealPlatform& operator=(const RealPlatform&) = delete;
  ~RealPlatform() override { reportLoss(output_.flush()); }

  const Locations& locations() const override { return locations_; }

  CapturedOutput captureOutput(const std::string& program,
                               const std::vector<std::string>& arguments) override {
    // Standard error goes nowhere rather than into a pipe nobody reads,
    // where a talkative child could stall.
    forgetWalkedDirectories();
    auto child = spawnChild(program, arguments, {ChildStream::Pipe, ChildStream::DevNull},
                            childEnvironment());
    if (!child) return {ExitStatus::notStarted(child.error().errnum()), {}};
    // A failed read leaves no output, which callers take as a failed query.
    std::string output = readAllBytes(child->outputFd()).value_or(std::string());
    child->closeOutput();
    const ExitStatus status = child->wait();
    detached_.reapEnded();
    return {status, std::move(output)};
  }

  std::vector<CapturedOutput> captureOutputs(const std::vector<ToolQuery>& queries) override {
    forgetWalkedDirectories();
    std::vector<CapturedOutput> answers =
        captureConcurrently(queries, concurrentQueryLimit(), childEnvironment());
    detached_.reapEnded();
    return answers;
  }

  ExitStatus runAndWait(const std::string& program,
                        const std::vector<std::string>& arguments) override {
    forgetWalkedDirectories();
    auto child = spawnChild(program, arguments, streamsSharingOutput(), childEnvironment());
    if (!child) return ExitStatus::notStarted(child.error().errnum());
    const ExitStatus status = child->wait();
    detached_.reapEnded();
    return status;
  }

  Status startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override {
    forgetWalkedDirectories();
    auto child = spawnChild(program, arguments, streamsSharingOutput(), childEnvironment());
    if (!child) return child.error();
    // Not waited for: reaped once it has ended, after a later wait or at the end.
    detached_.add(std::move(child).value());
    return Status::ok();
  }

  Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) override {
    reportLoss(output_.flushBeforeChild());
    forgetWalkedDirectories();
    auto child = spawnChild(program, arguments, {ChildStream::Pipe, ChildStream::Inherit},
                            childEnvironment());
    if (!child) return child.error();
    return std::unique_ptr<PipedChild>(
        std::make_unique<RealPipedChild>(std::move(child).value(), detached_));
  }

  void reserveStandardOutput() override { standardOutputReserved_ = true; }

  void print(std::string_view text) override { reportLoss(output_.print(text)); }

  void printProgress(std::string_view line) override { print(line); }

  void printError(std::string_view text) override {
    (void)std::fwrite(text.data(), 1, text.size(), stderr);
  }

  void log(std::string_view message) override { writeLogLine(message); }

  bool exists(const std::string& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
  }

  std::optional<mode_t> linkMode(const std::string& path) override {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_mode;
  }

  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override {
    return listWithWalk(walker_, path);
  }

  Status controlledByRoot(const std::string& path) override {
    return controlledByRootWithWalk(walker_, path);
  }

  Status trustedByRoot(const std::string& path) override {
    return trustedByRootWithWalk(walker_, path);
  }

  std::optional<std::string> readFile(const std::string& path) override {
    std::string refusal;
    std::optional<std::string> bytes = readFileWithWalk(walker_, path, kMaxReadBytes, refusal);
    if (!refusal.empty()) writeLogLine("Not reading '" + path + "': " + refusal);
    return bytes;
  }

  PathState examine(const std::string& path) override { return examineWithWalk(walker_, path); }

  Removal removePath(const std::string& path, RemovalScope scope) override {
    return removeWithWalk(walker_, path, scope, options_.hooks);
  }

  Removal judgeTreeRemoval(const std::string& path) override {
    return judgeTreeWithWalk(walker_, path);
  }

  Result<std::vector<bool>> removePropertyListKeys(
      const std::string& path, const std::vector<std::string>& keyPaths) override {
    if (!isPlainAbsolutePath(path)) return Status::error(EINVAL, "read " + path + ": not absolute");
    const std::string normal = normalisedPath(path);
    const WalkedDirectory parent = walker_.parentOf(normal);
    if (!parent.reached()) {
      if (!parent.link.empty()) {
        return propertyListRefusal(path, {PathState::Kind::LinkRefused, 0, parent.link});
      }
      return Status::fromErrno(parent.errnum, "read " + path);
    }
    // The file itself, never what a link in its place points to; a pipe or
    // device would block or never end.
    const std::string name(lastComponent(normal));
    UniqueFd file(::openat(parent.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
      if (errno == ELOOP) return propertyListRefusal(path, {PathState::Kind::Link, 0, {}});
      return Status::fromErrno(errno, "read " + path);
    }
    struct stat original {};
    if (::fstat(file.get(), &original) != 0) return Status::fromErrno(errno, "read " + path);
    if (!S_ISREG(original.st_mode)) {
      return Status::error(EINVAL, "read " + path + ": not a regular file");
    }
    if (static_cast<std::size_t>(original.st_size) > kMaxReadBytes) {
      return Status::error(EFBIG, "read " + path + ": too large");
    }
    const std::optional<std::string> bytes = readAllBytes(file.get(), kMaxReadBytes);
    if (!bytes && errno == EFBIG) return Status::error(EFBIG, "read " + path + ": too large");
    file.reset();
    std::optional<plist::Value> contents = bytes ? plist::parse(*bytes) : std::nullopt;
    if (!contents) return Status::error(EINVAL, "read " + path + ": not a property list");
    plist::Dictionary* dictionary = contents->dictionary();
    if (dictionary == nullptr) {
      return Status::error(EINVAL, "read " + path + ": not a dictionary");
    }
    std::vector<bool> removed = plist::removeObjectsForRecursiveKeys(*dictionary, keyPaths);
    if (Status written = plist::writeFileAtomicallyAt(parent.fd, name, *contents, original, write_,
                                                      path, os::flushToStorage);
        !written) {
      return written;
    }
    return removed;
  }

  // Nothing happens to a path a removal keeps; the engine has said why.
  void keepPath(const std::string&, KeepReason, const std::string&) override {}

  Status becomeRoot() override {
    if (::setuid(0) != 0) return Status::fromErrno(errno, "setuid 0");
    return Status::ok();
  }

  pid_t ownProcessGroup() override { return ::getpgrp(); }

  Status signalProcessGroup(pid_t group, int signal, const std::string& program) override {
    // killpg(0) is our own group and killpg(1) every process there is.
    if (group <= 1) {
      return Status::error(EINVAL, "signal group " + std::to_string(group) + ": refused");
    }
    if (group == ::getpgrp()) {
      return Status::error(EPERM, "signal group " + std::to_string(group) + ": our own group");
    }
    // The id came from text, read a while ago: it may be another program's now.
    if (!stillRuns(group, program)) {
      writeLogLine("Not killing process group " + std::to_string(group) +
                   ": it no longer runs " + program);
      return Status::error(ESRCH, "signal group " + std::to_string(group) + ": not " + program);
    }
    if (::killpg(group, signal) != 0) {
      return Status::fromErrno(errno, "signal group " + std::to_string(group));
    }
    return Status::ok();
  }

  bool stillRuns(pid_t pid, const std::string& program) override {
    return runsExecutable(pid, program, os::executableOf);
  }

  int quitRefusal(const LaunchedApplication& application) override {
    return qu::quitRefusal(application, ::getpid(), os::executableOf);
  }

  std::vector<LaunchedApplication> launchedApplications() override {
    return applicationsAmong(os::processIds(), os::executableOf);
  }

  int sendQuitEvent(const LaunchedApplication& application) override {
    // Only while it still runs a program of that application's bundle.
    if (int refusal = quitRefusal(application)) return refusal;
    const auto pid = static_cast<pid_t>(application.serialLow);
    return os::requestQuit(pid);
  }

 private:
  // A program may move or re-own directories the walk holds; after it, every
  // path is walked afresh rather than through what it reached before.
  void forgetWalkedDirectories() { walker_.forget("/", true); }

  const std::vector<std::string>* childEnvironment() const {
    return cleanEnvironment_ ? &*cleanEnvironment_ : nullptr;
  }

  // A child that shares our standard output must see everything we printed
  // before it, or its lines would overtake ours. While standard output is
  // reserved for a JSON stream, the child writes to our standard error, lost
  // or not (standard error is where its lines were going all along); once no
  // one reads an ordinary output, the child's goes nowhere instead of into a
  // broken pipe.
  ChildStreams streamsSharingOutput() {
    reportLoss(output_.flushBeforeChild());
    if (standardOutputReserved_) return {ChildStream::OurStandardError, ChildStream::Inherit};
    if (output_.lost()) return {ChildStream::DevNull, ChildStream::Inherit};
    return {ChildStream::Inherit, ChildStream::Inherit};
  }

  // Losing standard output stops the printing and nothing else.
  void reportLoss(const Status& status) {
    if (status) return;
    writeLogLine("Standard output lost (" + std::string(std::strerror(status.errnum())) +
                 "): nothing more is printed; the run goes on");
  }

  Locations locations_;
  RealPlatformOptions options_;
  WriteCall write_;
  PathWalker walker_;
  LineOutput output_;
  DetachedChildren detached_;
  std::optional<std::vector<std::string>> cleanEnvironment_;  // none: children get ours
  bool standardOutputReserved_ = false;
};

}  // namespace

Locations systemLocations() {
  Locations locations;
  locations.administratorsGroup = os::administratorsGroup();
  return locations;
}

std::unique_ptr<Platform> makeRealPlatform(Locations locations) {
  return std::make_unique<RealPlatform>(std::move(locations), RealPlatformOptions());
}

std::unique_ptr<Platform> makeRealPlatform(Locations locations, RealPlatformOptions options) {
  return std::make_unique<RealPlatform>(std::move(locations), std::move(options));
}

}  // namespace qu
