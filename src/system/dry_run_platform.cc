#include "system/dry_run_platform.h"

#include <cerrno>
#include <utility>

#include "extensions/plist_io.h"
#include "extensions/recurse.h"

namespace qu {

namespace {

// "/./a//b/" and "/a/b" name the same file; manifests write the first kind.
// A relative path is left as it is: nothing relative is ever deleted.
std::string normalised(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::string(path);
  std::string result;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      result += '/';
      result += component;
    }
    start = end + 1;
  }
  return result.empty() ? "/" : result;
}

std::string parentOf(const std::string& normal) {
  const std::size_t slash = normal.rfind('/');
  return slash == 0 ? "/" : normal.substr(0, slash);
}

std::string childOf(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

bool needsQuotes(std::string_view argument) {
  if (argument.empty()) return true;
  for (char c : argument) {
    switch (c) {
      case ' ': case '\t': case '\n': case '\r': case '\v': case '\f': case '"': case '\\':
        return true;
      default:
        break;
    }
  }
  return false;
}

// Stands for a child a dry run did not start: no output, no exit.
class ShownChild final : public PipedChild {
 public:
  std::optional<std::string> readLine() override { return std::nullopt; }
  ExitStatus wait() override { return ExitStatus::skipped(); }
};

}  // namespace

std::string quoteArgument(std::string_view argument) {
  if (!needsQuotes(argument)) return std::string(argument);
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string quoteCommandLine(const std::string& program,
                             const std::vector<std::string>& arguments) {
  std::string line = quoteArgument(program);
  for (const std::string& argument : arguments) {
    line += ' ';
    line += quoteArgument(argument);
  }
  return line;
}

void DryRunPlatform::show(const std::string& line) { print("Would " + line + "\n"); }

ExitStatus DryRunPlatform::runAndWait(const std::string& program,
                                      const std::vector<std::string>& arguments) {
  show("run: " + quoteCommandLine(program, arguments));
  return ExitStatus::skipped();
}

Status DryRunPlatform::startDetached(const std::string& program,
                                     const std::vector<std::string>& arguments) {
  show("run: " + quoteCommandLine(program, arguments));
  return Status::ok();
}

Result<std::unique_ptr<PipedChild>> DryRunPlatform::startPiped(
    const std::string& program, const std::vector<std::string>& arguments) {
  show("run: " + quoteCommandLine(program, arguments));
  return std::unique_ptr<PipedChild>(std::make_unique<ShownChild>());
}

bool DryRunPlatform::isDeleted(const std::string& path) const {
  return isDeletedNormalised(normalised(path));
}

bool DryRunPlatform::isDeletedNormalised(const std::string& normal) const {
  if (deleted_.empty() || normal.empty() || normal.front() != '/') return false;
  // Every ancestor, then the path itself: "/a", "/a/b", "/a/b/c".
  for (std::size_t slash = normal.find('/', 1); slash != std::string::npos;
       slash = normal.find('/', slash + 1)) {
    if (deleted_.count(normal.substr(0, slash)) != 0) return true;
  }
  return deleted_.count(normal) != 0;
}

bool DryRunPlatform::exists(const std::string& path) {
  return !isDeleted(path) && PlatformWrapper::exists(path);
}

std::optional<mode_t> DryRunPlatform::linkMode(const std::string& path) {
  if (isDeleted(path)) return std::nullopt;
  return PlatformWrapper::linkMode(path);
}

std::optional<std::vector<std::string>> DryRunPlatform::listDirectory(const std::string& path) {
  const std::string normal = normalised(path);
  if (isDeletedNormalised(normal)) return std::nullopt;
  std::optional<std::vector<std::string>> names = PlatformWrapper::listDirectory(path);
  if (!names || deleted_.empty() || normal.front() != '/') return names;
  std::erase_if(*names, [&](const std::string& name) {
    return isDeletedNormalised(childOf(normal, name));
  });
  return names;
}

std::optional<std::string> DryRunPlatform::readFile(const std::string& path) {
  if (isDeleted(path)) return std::nullopt;
  return PlatformWrapper::readFile(path);
}

bool DryRunPlatform::mightExist(const std::string& normal) {
  if (isDeletedNormalised(normal)) return false;
  // A failed lstat means missing, or hidden from a user without the right to
  // look: only a parent that can be listed proves the path absent. A dry run
  // as an ordinary user thus shows what root might find behind closed doors.
  std::string path = normal;
  while (!PlatformWrapper::linkMode(path)) {
    if (path == "/") return true;
    const std::string parent = parentOf(path);
    if (const auto names = PlatformWrapper::listDirectory(parent)) {
      const std::string name = path.substr(parent == "/" ? 1 : parent.size() + 1);
      for (const std::string& entry : *names) {
        if (entry == name) return true;  // appeared since the lstat
      }
      return false;
    }
    path = parent;
  }
  // The path itself, or an ancestor we may not look into, is there.
  return true;
}

Status DryRunPlatform::removePath(const std::string& path) {
  const std::string normal = normalised(path);
  // The real deletion's refusals, so the engine sees the same answers.
  if (normal.empty() || normal.front() != '/' || normal == "/") {
    return Status::error(EINVAL, "remove '" + path + "': refused");
  }
  if (!mightExist(normal)) return Status::fromErrno(ENOENT, "remove " + path);
  show("delete: " + path);
  deleted_.insert(normal);
  return Status::ok();
}

Status DryRunPlatform::removePropertyListKeys(const std::string& path,
                                              const std::vector<std::string>& keyPaths) {
  const std::optional<std::string> bytes = readFile(path);
  std::optional<plist::Value> contents = bytes ? plist::parse(*bytes) : std::nullopt;
  if (!contents) {
    if (!exists(path)) return Status::fromErrno(ENOENT, "read " + path);
    return Status::error(EINVAL, "read " + path + ": not a property list");
  }
  plist::Dictionary* dictionary = contents->dictionary();
  if (dictionary == nullptr) {
    return Status::error(EINVAL, "read " + path + ": not a dictionary");
  }
  // The real edit would refuse to write what is left.
  plist::removeObjectsForRecursiveKeys(*dictionary, keyPaths);
  if (Status fits = plist::checkFitsXml(path, *contents); !fits) return fits;
  for (const std::string& keyPath : keyPaths) {
    std::string line = "remove key: ";
    line.append(keyPath).append(" from ").append(path);
    show(line);
  }
  return Status::ok();
}

void DryRunPlatform::leaveDirectory(const std::string& path) { show("keep: " + path); }

Status DryRunPlatform::signalProcessGroup(pid_t group, int, const std::string& program) {
  if (group <= 1) {
    return Status::error(EINVAL, "signal group " + std::to_string(group) + ": refused");
  }
  if (group == ownProcessGroup()) {
    return Status::error(EPERM, "signal group " + std::to_string(group) + ": our own group");
  }
  show("kill: " + std::to_string(group) + " " + program);
  return Status::ok();
}

int DryRunPlatform::sendQuitEvent(const LaunchedApplication& application) {
  show("quit: " + quoteArgument(application.name) + " " + quoteArgument(application.path) + " " +
       std::to_string(application.serialLow));
  return 0;
}

}  // namespace qu
