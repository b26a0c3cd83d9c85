#include "system/dry_run_platform.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "extensions/paths.h"
#include "extensions/plist_io.h"
#include "extensions/recurse.h"
#include "extensions/text.h"
#include "system/walk_queries.h"

namespace qu {

namespace {

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

// The effects as people read them: one "Would ..." line each.
class DryRunPlatform::ShownAsText final : public ShownEffects {
 public:
  explicit ShownAsText(Platform& printer) : printer_(printer) {}

  void run(const std::string& program, const std::vector<std::string>& arguments) override {
    show("run: " + quoteCommandLine(program, arguments));
  }
  void quit(const LaunchedApplication& application) override {
    show("quit: " + quoteArgument(application.name) + " " + quoteArgument(application.path) +
         " " + std::to_string(application.serialLow));
  }
  void kill(pid_t group, const std::string& program) override {
    show("kill: " + std::to_string(group) + " " + program);
  }
  void remove(const std::string& path) override { show("delete: " + path); }
  void keep(const std::string& path, KeepReason, const std::string&) override {
    show("keep: " + path);
  }
  void removeKey(const std::string& file, const std::string& keyPath) override {
    show("remove key: " + keyPath + " from " + file);
  }

 private:
  void show(const std::string& line) { printer_.print("Would " + visibleText(line) + "\n"); }
  Platform& printer_;
};

DryRunPlatform::DryRunPlatform(Platform& target, ShownEffects* effects)
    : PlatformWrapper(target),
      text_(effects == nullptr ? std::make_unique<ShownAsText>(target) : nullptr),
      effects_(effects == nullptr ? *text_ : *effects) {}

DryRunPlatform::~DryRunPlatform() = default;

ExitStatus DryRunPlatform::runAndWait(const std::string& program,
                                      const std::vector<std::string>& arguments) {
  effects_.run(program, arguments);
  return ExitStatus::skipped();
}

Status DryRunPlatform::startDetached(const std::string& program,
                                     const std::vector<std::string>& arguments) {
  effects_.run(program, arguments);
  return Status::ok();
}

Result<std::unique_ptr<PipedChild>> DryRunPlatform::startPiped(
    const std::string& program, const std::vector<std::string>& arguments) {
  effects_.run(program, arguments);
  return std::unique_ptr<PipedChild>(std::make_unique<ShownChild>());
}

bool DryRunPlatform::isDeleted(const std::string& path) {
  return isDeletedNormalised(normalisedPath(path));
}

bool DryRunPlatform::isSpeltDeleted(const std::string& normal) const {
  // Every ancestor, then the path itself: "/a", "/a/b", "/a/b/c".
  for (std::size_t slash = normal.find('/', 1); slash != std::string::npos;
       slash = normal.find('/', slash + 1)) {
    if (deleted_.count(normal.substr(0, slash)) != 0) return true;
  }
  return deleted_.count(normal) != 0;
}

std::optional<DryRunPlatform::FileIdentity> DryRunPlatform::identityOf(const std::string& normal) {
  const PathState state = PlatformWrapper::examine(normal);
  switch (state.kind) {
    case PathState::Kind::Directory:
    case PathState::Kind::Regular:
    case PathState::Kind::Link:
    case PathState::Kind::Other:
      return FileIdentity{state.device, state.inode};
    case PathState::Kind::Missing:
    case PathState::Kind::LinkRefused:
    case PathState::Kind::Unknown:
      break;
  }
  return std::nullopt;
}

bool DryRunPlatform::isDeletedNormalised(const std::string& normal) {
  if (deleted_.empty() || normal.empty() || normal.front() != '/') return false;
  if (isSpeltDeleted(normal)) return true;
  // The same files reached another way ("/var" and "/private/var"): each
  // folder on the way, then the path itself.
  for (std::size_t slash = normal.find('/', 1); slash != std::string::npos;
       slash = normal.find('/', slash + 1)) {
    const std::string folder = normal.substr(0, slash);
    auto known = folders_.find(folder);
    if (known == folders_.end()) known = folders_.emplace(folder, identityOf(folder)).first;
    if (known->second && deletedFiles_.count(*known->second) != 0) return true;
  }
  const std::optional<FileIdentity> identity = identityOf(normal);
  return identity && deletedFiles_.count(*identity) != 0;
}

bool DryRunPlatform::exists(const std::string& path) {
  return !isDeleted(path) && PlatformWrapper::exists(path);
}

std::optional<mode_t> DryRunPlatform::linkMode(const std::string& path) {
  if (isDeleted(path)) return std::nullopt;
  return PlatformWrapper::linkMode(path);
}

std::optional<std::vector<std::string>> DryRunPlatform::listDirectory(const std::string& path) {
  const std::string normal = normalisedPath(path);
  if (isDeletedNormalised(normal)) return std::nullopt;
  std::optional<std::vector<std::string>> names = PlatformWrapper::listDirectory(path);
  if (!names || deleted_.empty() || normal.front() != '/') return names;
  std::erase_if(*names, [&](const std::string& name) {
    return isDeletedNormalised(childPath(normal, name));
  });
  return names;
}

std::optional<std::string> DryRunPlatform::readFile(const std::string& path) {
  if (isDeleted(path)) return std::nullopt;
  return PlatformWrapper::readFile(path);
}

PathState DryRunPlatform::examine(const std::string& path) {
  if (isDeleted(path)) return {PathState::Kind::Missing, 0, {}};
  return PlatformWrapper::examine(path);
}

Status DryRunPlatform::trustedByRoot(const std::string& path) {
  // Worded as the walk words a missing program.
  if (isDeleted(path)) return Status::error(ENOENT, std::strerror(ENOENT));
  return PlatformWrapper::trustedByRoot(path);
}

bool DryRunPlatform::countsAsEmpty(const std::string& path) {
  // A directory this user cannot list is kept, as one the real removal
  // cannot list would be.
  const std::optional<std::vector<std::string>> names = listDirectory(path);
  if (!names) return false;
  if (names->empty()) return true;
  return names->size() == 1 && names->front().find(".DS_Store") != std::string::npos &&
         examine(childPath(normalisedPath(path), names->front())).kind ==
             PathState::Kind::Regular;
}

Removal DryRunPlatform::removePath(const std::string& path, RemovalScope scope) {
  const std::string normal = normalisedPath(path);
  // The real removal's refusals, so the engine sees the same answers.
  if (!isPlainAbsolutePath(path) || normal == "/") return Removal::of(Removal::Outcome::Refused);
  const PathState state = examine(path);
  switch (state.kind) {
    case PathState::Kind::Missing:
      return Removal::of(Removal::Outcome::Absent);
    case PathState::Kind::LinkRefused:
      return Removal::linkRefused(state.link);
    case PathState::Kind::Directory:
      if (scope == RemovalScope::NonDirectory) return Removal::of(Removal::Outcome::Directory);
      if (scope == RemovalScope::EmptyDirectory && !countsAsEmpty(path)) {
        return Removal::of(Removal::Outcome::NotEmpty);
      }
      // A tree is judged as the real removal judges it: what it would leave
      // on purpose stays, and nothing of it counts as deleted. What this user
      // cannot read is shown as root would delete it.
      if (scope == RemovalScope::Tree) {
        Removal verdict = PlatformWrapper::judgeTreeRemoval(path);
        if (verdict.errnum == EXDEV || verdict.errnum == ELOOP || !verdict.leftToOwners.empty()) {
          return verdict;
        }
      }
      break;
    // What this user may not look at could be there for root: shown.
    case PathState::Kind::Unknown:
    case PathState::Kind::Regular:
    case PathState::Kind::Link:
    case PathState::Kind::Other:
      break;
  }
  effects_.remove(path);
  deleted_.insert(normal);
  if (state.kind != PathState::Kind::Unknown) deletedFiles_.insert({state.device, state.inode});
  return Removal::of(Removal::Outcome::Removed);
}

Result<std::vector<bool>> DryRunPlatform::removePropertyListKeys(
    const std::string& path, const std::vector<std::string>& keyPaths) {
  // The real edit reaches only a regular file, never through a refused link.
  const PathState state = examine(path);
  if (Status refused = propertyListRefusal(path, state); !refused.isOk()) return refused;
  if (state.kind == PathState::Kind::Missing) return Status::fromErrno(ENOENT, "read " + path);
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
  std::vector<bool> removed = plist::removeObjectsForRecursiveKeys(*dictionary, keyPaths);
  if (Status fits = plist::checkFitsXml(path, *contents); !fits) return fits;
  for (const std::string& keyPath : keyPaths) effects_.removeKey(path, keyPath);
  return removed;
}

void DryRunPlatform::keepPath(const std::string& path, KeepReason reason,
                              const std::string& detail) {
  effects_.keep(path, reason, detail);
}

Status DryRunPlatform::signalProcessGroup(pid_t group, int, const std::string& program) {
  if (group <= 1) {
    return Status::error(EINVAL, "signal group " + std::to_string(group) + ": refused");
  }
  if (group == ownProcessGroup()) {
    return Status::error(EPERM, "signal group " + std::to_string(group) + ": our own group");
  }
  // The real run asks this right before the signal; so does the plan.
  if (!stillRuns(group, program)) {
    PlatformWrapper::log("Not killing process group " + std::to_string(group) +
                         ": it no longer runs " + program);
    return Status::error(ESRCH, "signal group " + std::to_string(group) + ": not " + program);
  }
  effects_.kill(group, program);
  return Status::ok();
}

int DryRunPlatform::sendQuitEvent(const LaunchedApplication& application) {
  if (int refusal = quitRefusal(application)) return refusal;
  effects_.quit(application);
  return 0;
}

}  // namespace qu
