#include "system/real_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "extensions/file_handle.h"
#include "extensions/plist_io.h"
#include "extensions/recurse.h"
#include "system/applications.h"
#include "system/line_output.h"
#include "system/log_line.h"
#include "system/remove_path.h"
#include "system/spawn.h"
#include "platform/unique_fd.h"

namespace qu {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

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
  RealPlatform(Locations locations, WriteCall write)
      : locations_(std::move(locations)),
        write_(std::move(write)),
        output_(STDOUT_FILENO, paceOf(STDOUT_FILENO)) {}
  RealPlatform(const RealPlatform&) = delete;
  RealPlatform& operator=(const RealPlatform&) = delete;
  ~RealPlatform() override { reportLoss(output_.flush()); }

  const Locations& locations() const override { return locations_; }

  CapturedOutput captureOutput(const std::string& program,
                               const std::vector<std::string>& arguments) override {
    // Standard error goes nowhere rather than into a pipe nobody reads,
    // where a talkative child could stall.
    auto child =
        spawnChild(program, arguments, {ChildStream::Pipe, ChildStream::DevNull});
    if (!child) return {ExitStatus::notStarted(child.error().errnum()), {}};
    // A failed read leaves no output, which callers take as a failed query.
    std::string output = readAllBytes(child->outputFd()).value_or(std::string());
    child->closeOutput();
    const ExitStatus status = child->wait();
    detached_.reapEnded();
    return {status, std::move(output)};
  }

  ExitStatus runAndWait(const std::string& program,
                        const std::vector<std::string>& arguments) override {
    auto child = spawnChild(program, arguments, streamsSharingOutput());
    if (!child) return ExitStatus::notStarted(child.error().errnum());
    const ExitStatus status = child->wait();
    detached_.reapEnded();
    return status;
  }

  Status startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override {
    auto child = spawnChild(program, arguments, streamsSharingOutput());
    if (!child) return child.error();
    // Not waited for: reaped once it has ended, after a later wait or at the end.
    detached_.add(std::move(child).value());
    return Status::ok();
  }

  Result<std::unique_ptr<PipedChild>> startPiped(
      const std::string& program, const std::vector<std::string>& arguments) override {
    reportLoss(output_.flushBeforeChild());
    auto child = spawnChild(program, arguments, {ChildStream::Pipe, ChildStream::Inherit});
    if (!child) return child.error();
    return std::unique_ptr<PipedChild>(
        std::make_unique<RealPipedChild>(std::move(child).value(), detached_));
  }

  void print(std::string_view text) override { reportLoss(output_.print(text)); }

  void printProgress(std::string_view line) override { print(line); }

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
    std::unique_ptr<DIR, DirCloser> directory(::opendir(path.c_str()));
    if (!directory) return std::nullopt;
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(directory.get())) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
      errno = 0;
    }
    if (errno != 0) return std::nullopt;
    std::sort(names.begin(), names.end());
    return names;
  }

  std::optional<std::string> readFile(const std::string& path) override {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return std::nullopt;
    return readAllBytes(file.get());
  }

  Status removePath(const std::string& path) override { return removePathTree(path); }

  Status removeUnlessDirectory(const std::string& path) override {
    return removeNonDirectory(path);
  }

  Status removePropertyListKeys(const std::string& path,
                                const std::vector<std::string>& keyPaths) override {
    auto contents = plist::readFile(path);
    if (!contents) {
      if (!exists(path)) return Status::fromErrno(ENOENT, "read " + path);
      return Status::error(EINVAL, "read " + path + ": not a property list");
    }
    plist::Dictionary* dictionary = contents->dictionary();
    if (dictionary == nullptr) {
      return Status::error(EINVAL, "read " + path + ": not a dictionary");
    }
    plist::removeObjectsForRecursiveKeys(*dictionary, keyPaths);
    if (write_) return plist::writeFileAtomically(path, *contents, write_);
    return plist::writeFileAtomically(path, *contents);
  }

  // A directory kept because it is not empty needs no action and no word.
  void leaveDirectory(const std::string&) override {}

  Status becomeRoot() override {
    if (::setuid(0) != 0) return Status::fromErrno(errno, "setuid 0");
    return Status::ok();
  }

  pid_t ownProcessGroup() override { return ::getpgrp(); }

  Status signalProcessGroup(pid_t group, int signal, const std::string&) override {
    // killpg(0) is our own group and killpg(1) every process there is.
    if (group <= 1) {
      return Status::error(EINVAL, "signal group " + std::to_string(group) + ": refused");
    }
    if (group == ::getpgrp()) {
      return Status::error(EPERM, "signal group " + std::to_string(group) + ": our own group");
    }
    if (::killpg(group, signal) != 0) {
      return Status::fromErrno(errno, "signal group " + std::to_string(group));
    }
    return Status::ok();
  }

  std::vector<LaunchedApplication> launchedApplications() override {
    return runningApplications();
  }

  int sendQuitEvent(const LaunchedApplication& application) override {
    // A value beyond pid_t would turn negative and address a whole group.
    if (application.serialLow > static_cast<std::uint32_t>(INT_MAX)) return EINVAL;
    const auto pid = static_cast<pid_t>(application.serialLow);
    if (pid <= 1 || pid == ::getpid()) return EPERM;
    if (::kill(pid, SIGTERM) != 0) return errno;
    return 0;
  }

 private:
  // A child that shares our standard output must see everything we printed
  // before it, or its lines would overtake ours; once no one reads our
  // output, the child's goes nowhere instead of into a broken pipe.
  ChildStreams streamsSharingOutput() {
    reportLoss(output_.flushBeforeChild());
    return {output_.lost() ? ChildStream::DevNull : ChildStream::Inherit, ChildStream::Inherit};
  }

  // Losing standard output stops the printing and nothing else.
  void reportLoss(const Status& status) {
    if (status) return;
    writeLogLine("Standard output lost (" + std::string(std::strerror(status.errnum())) +
                 "): nothing more is printed; the run goes on");
  }

  Locations locations_;
  WriteCall write_;  // empty: write(2) itself
  LineOutput output_;
  DetachedChildren detached_;
};

}  // namespace

std::unique_ptr<Platform> makeRealPlatform(Locations locations) {
  return std::make_unique<RealPlatform>(std::move(locations), WriteCall());
}

std::unique_ptr<Platform> makeRealPlatform(Locations locations, WriteCall write) {
  return std::make_unique<RealPlatform>(std::move(locations), std::move(write));
}

}  // namespace qu
