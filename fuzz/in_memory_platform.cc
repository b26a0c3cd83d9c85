#include "in_memory_platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>

namespace qu::fuzzing {
namespace {

std::vector<std::string> commandOf(const std::string& program,
                                   const std::vector<std::string>& arguments) {
  std::vector<std::string> command{program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

// Hands out the text line by line the way a pipe reader does: each line with
// its newline, lines longer than 1023 bytes in pieces.
class ScriptedChild : public PipedChild {
 public:
  explicit ScriptedChild(std::string output) : output_(std::move(output)) {}

  std::optional<std::string> readLine() override {
    if (at_ >= output_.size()) return std::nullopt;
    constexpr std::size_t kLongestPiece = 1023;
    std::size_t end = output_.find('\n', at_);
    end = end == std::string::npos ? output_.size() : end + 1;
    if (end - at_ > kLongestPiece) end = at_ + kLongestPiece;
    std::string line = output_.substr(at_, end - at_);
    at_ = end;
    return line;
  }
  ExitStatus wait() override { return ExitStatus::exited(0); }

 private:
  std::string output_;
  std::size_t at_ = 0;
};

}  // namespace

CapturedOutput InMemoryPlatform::captureOutput(const std::string& program,
                                               const std::vector<std::string>& arguments) {
  auto found = outputs.find(commandOf(program, arguments));
  if (found == outputs.end()) return {ExitStatus::exited(1), ""};
  return {ExitStatus::exited(0), found->second};
}

ExitStatus InMemoryPlatform::runAndWait(const std::string& program,
                                        const std::vector<std::string>& arguments) {
  started.push_back(commandOf(program, arguments));
  return ExitStatus::exited(0);
}

Status InMemoryPlatform::startDetached(const std::string& program,
                                       const std::vector<std::string>& arguments) {
  started.push_back(commandOf(program, arguments));
  return Status::ok();
}

Result<std::unique_ptr<PipedChild>> InMemoryPlatform::startPiped(
    const std::string& program, const std::vector<std::string>& arguments) {
  started.push_back(commandOf(program, arguments));
  return std::unique_ptr<PipedChild>(std::make_unique<ScriptedChild>(pipedOutput));
}

bool InMemoryPlatform::exists(const std::string& path) {
  return files.contains(path) || directories.contains(path) || present.contains(path);
}

std::optional<mode_t> InMemoryPlatform::linkMode(const std::string& path) {
  if (directories.contains(path)) return S_IFDIR | 0755;
  if (files.contains(path) || present.contains(path)) return S_IFREG | 0644;
  return std::nullopt;
}

std::optional<std::vector<std::string>> InMemoryPlatform::listDirectory(const std::string& path) {
  auto found = directories.find(path);
  if (found == directories.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> InMemoryPlatform::readFile(const std::string& path) {
  auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return found->second;
}

PathState InMemoryPlatform::examine(const std::string& path) {
  if (directories.contains(path)) return {PathState::Kind::Directory, 0, {}};
  if (files.contains(path) || present.contains(path)) return {PathState::Kind::Regular, 0, {}};
  return {PathState::Kind::Missing, 0, {}};
}

Removal InMemoryPlatform::removePath(const std::string& path, RemovalScope /*scope*/) {
  removed.push_back(path);
  return Removal::of(Removal::Outcome::Removed);
}

Result<std::vector<bool>> InMemoryPlatform::removePropertyListKeys(
    const std::string& path, const std::vector<std::string>& /*keyPaths*/) {
  editedPropertyLists.push_back(path);
  return Status::error(ENOENT, "no such property list: " + path);
}

Status InMemoryPlatform::signalProcessGroup(pid_t group, int signal, const std::string& program) {
  signals.push_back({group, signal, program});
  return Status::ok();
}

int InMemoryPlatform::sendQuitEvent(const LaunchedApplication& application) {
  quitRequests.push_back(application);
  return 0;
}

}  // namespace qu::fuzzing
