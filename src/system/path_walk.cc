#include "system/path_walk.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "extensions/paths.h"
#include "system/descriptor_budget.h"
#include "system/os.h"

namespace qu {

namespace {


// Links followed for one path before the walk gives up, as the kernel does.
constexpr int kMaxLinks = 32;

// Kept descriptors: one per directory of a large package's lists, which the
// removal visits in an order of path lengths, not of directories, so fewer
// would be opened again and again.
std::size_t keptDescriptors() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return keptDescriptorsUnder(16);
  const DescriptorBudget budget = descriptorBudget(limit, os::descriptorCeiling());
  if (budget.softLimit == limit.rlim_cur) return budget.kept;
  struct rlimit raised = limit;
  raised.rlim_cur = budget.softLimit;
  if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) return budget.kept;
  return keptDescriptorsUnder(limit.rlim_cur);
}

// A link's target resolved against the physical directory that holds the
// link: absolute, without "." and "..".
std::string resolveTarget(const std::string& physicalParent, const std::string& target) {
  const std::string joined = target.starts_with('/') ? target : physicalParent + "/" + target;
  std::vector<std::string_view> components;
  std::string_view rest(joined);
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    components.push_back(component);
  }
  std::string resolved;
  for (std::string_view component : components) {
    resolved += '/';
    resolved += component;
  }
  return resolved.empty() ? "/" : resolved;
}

WalkedDirectory failure(int errnum) { return {-1, errnum, {}}; }

}  // namespace

PathWalker::PathWalker(gid_t administratorsGroup)
    : administratorsGroup_(administratorsGroup), capacity_(keptDescriptors()) {}

std::string_view PathWalker::parentKey(std::string_view normal) {
  const std::size_t slash = normal.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return "/";
  return normal.substr(0, slash);
}

bool PathWalker::entryTrusted(const struct stat& info) const {
  if (info.st_uid != 0) return false;
  if ((info.st_mode & S_IWOTH) != 0) return false;
  return (info.st_mode & S_IWGRP) == 0 || info.st_gid == 0 ||
         info.st_gid == administratorsGroup_;
}

bool PathWalker::ownedByRootAlone(const struct stat& info) const {
  // In a world-writable directory with the sticky bit, only an entry's owner
  // may replace it; an entry root owns there is as safe as anywhere.
  if ((info.st_mode & S_ISVTX) != 0 && info.st_uid == 0) return true;
  return entryTrusted(info);
}

WalkedDirectory PathWalker::directory(std::string_view normal) {
  WalkedDirectory result;
  if (normal.empty() || normal.front() != '/') return failure(EINVAL);
  if (last_ != nullptr && normal == lastKey_) {
    result.fd = last_->fd.get();
    return result;
  }
  if (Entry* entry = lookup(normal, 0, result)) {
    result.fd = entry->fd.get();
    last_ = entry;
    lastKey_.assign(normal);
  }
  return result;
}

bool PathWalker::directoryTrusted(std::string_view normal) {
  WalkedDirectory ignored;
  const Entry* entry = normal.starts_with('/') ? lookup(normal, 0, ignored) : nullptr;
  return entry != nullptr && entry->trusted;
}

PathWalker::Entry* PathWalker::lookup(std::string_view normal, int depth,
                                      WalkedDirectory& failed) {
  if (auto found = entries_.find(normal); found != entries_.end()) {
    ages_.splice(ages_.begin(), ages_, found->second.age);
    return &found->second;
  }
  if (normal == "/") {
    UniqueFd root(::open("/", os::walkDirectoryFlags()));
    struct stat info {};
    if (!root.valid() || ::fstat(root.get(), &info) != 0) {
      failed = failure(errno);
      return nullptr;
    }
    return &keep("/", std::move(root), ownedByRootAlone(info), "", false);
  }
  Entry* parent = lookup(parentKey(normal), depth, failed);
  if (parent == nullptr) return nullptr;
  return openChild(*parent, normal, lastComponent(normal), depth, failed);
}

PathWalker::Entry* PathWalker::openChild(Entry& parent, std::string_view key,
                                         std::string_view name, int depth,
                                         WalkedDirectory& failed) {
  const std::string component(name);
  UniqueFd fd(::openat(parent.fd.get(), component.c_str(), os::walkDirectoryFlags()));
  if (fd.valid()) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
      failed = failure(errno);
      return nullptr;
    }
    const bool trusted = parent.trusted && ownedByRootAlone(info);
    const bool throughLink = parent.throughLink;
    return &keep(key, std::move(fd), trusted, parent.physical + "/" + component, throughLink);
  }
  const int openError = errno;
  // A link is refused by O_NOFOLLOW (ELOOP, or ENOTDIR where the descriptor
  // would name the link itself); anything else is the answer.
  struct stat info {};
  if ((openError == ELOOP || openError == ENOTDIR || openError == EMLINK) &&
      ::fstatat(parent.fd.get(), component.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    return followLink(parent, key, name, info, depth, failed);
  }
  failed = failure(openError);
  return nullptr;
}

PathWalker::Entry* PathWalker::followLink(Entry& parent, std::string_view key,
                                          std::string_view name, const struct stat& link,
                                          int depth, WalkedDirectory& failed) {
  // Only the system's own links are followed: root's, in directories no one
  // else may change. A link anyone else could have made is never taken.
  if (!parent.trusted || !isRootsOwnLink(link)) {
    failed = {-1, ELOOP, std::string(key)};
    return nullptr;
  }
  if (depth >= kMaxLinks) {
    failed = failure(ELOOP);
    return nullptr;
  }
  std::string target(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 255) + 1, '\0');
  const std::string component(name);
  const ssize_t length =
      ::readlinkat(parent.fd.get(), component.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
    failed = failure(length < 0 ? errno : ENAMETOOLONG);
    return nullptr;
  }
  target.resize(static_cast<std::size_t>(length));
  const std::string physicalParent = parent.physical;  // `parent` may move as entries are added
  Entry* resolved = lookup(resolveTarget(physicalParent, target), depth + 1, failed);
  if (resolved == nullptr) return nullptr;
  UniqueFd alias(::fcntl(resolved->fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!alias.valid()) {
    failed = failure(errno);
    return nullptr;
  }
  const bool trusted = resolved->trusted;
  std::string physical = resolved->physical;
  return &keep(key, std::move(alias), trusted, std::move(physical), true);
}

PathWalker::Entry& PathWalker::keep(std::string_view key, UniqueFd fd, bool trusted,
                                    std::string physical, bool throughLink) {
  while (entries_.size() >= capacity_ && !ages_.empty()) {
    if (auto oldest = entries_.find(ages_.back()); oldest != entries_.end()) {
      erase(oldest);
    } else {
      ages_.pop_back();
    }
  }
  ages_.emplace_front(key);
  const auto [kept, added] = entries_.try_emplace(ages_.front());
  if (added) ordered_.insert(kept->first);
  Entry& entry = kept->second;
  entry.fd = std::move(fd);
  entry.trusted = trusted;
  entry.physical = std::move(physical);
  entry.throughLink = throughLink;
  if (throughLink) {
    throughLinks_.insert(kept->first);
  } else if (!added) {
    throughLinks_.erase(kept->first);  // a key kept again, now reached directly
  }
  entry.age = ages_.begin();
  return entry;
}

void PathWalker::erase(Entries::iterator entry) {
  if (&entry->second == last_) last_ = nullptr;
  if (entry->second.throughLink) throughLinks_.erase(entry->first);
  ages_.erase(entry->second.age);
  ordered_.erase(entry->first);
  entries_.erase(entry);
}

void PathWalker::forget(std::string_view normal, bool below) {
  if (auto found = entries_.find(normal); found != entries_.end()) erase(found);
  if (!below) return;
  const std::string prefix = normal == "/" ? std::string("/") : std::string(normal) + "/";
  for (auto it = ordered_.lower_bound(prefix); it != ordered_.end() && it->starts_with(prefix);) {
    const std::string_view key = *it;
    ++it;  // erase() takes the key out of the ordered set as well
    if (auto found = entries_.find(key); found != entries_.end()) erase(found);
  }
}

void PathWalker::forgetBelowUnlinked(std::string_view normal) {
  if (throughLinks_.empty()) return;
  if (!throughLinks_.contains(normal)) {
    const std::string prefix = std::string(normal) + "/";
    const auto below = throughLinks_.lower_bound(prefix);
    if (below == throughLinks_.end() || !below->starts_with(prefix)) return;
  }
  forget(normal, true);
}

}  // namespace qu
