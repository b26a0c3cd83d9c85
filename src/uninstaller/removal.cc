#include "uninstaller/removal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extensions/case_folding.h"
#include "extensions/paths.h"

namespace qu {

void FileRemoval::removeManifest(Manifest* manifest) {
  progress_.currentPos = 0;
  static const PathList kNone;
  const PathList* files = &kNone;
  const PathList* directories = &kNone;
  if (manifest != nullptr) {
    if (const auto& list = manifest->files()) files = &*list;
    if (const auto& list = manifest->directories()) directories = &*list;
  }
  const int total = static_cast<int>(files->size() + directories->size());

  // Files first; directories that the files leave empty go in the second
  // pass, which runs longest path first so children go before parents.
  removeItems(*files, /*skipDirectories=*/true, /*ifNotEmpty=*/false, total);
  removeItems(*directories, /*skipDirectories=*/true, /*ifNotEmpty=*/true, total);

  progress_.percent += progress_.share();
}

void FileRemoval::removeItems(const PathList& paths, bool skipDirectories, bool ifNotEmpty,
                              int total) {
  RemovalScope scope = RemovalScope::Tree;
  if (skipDirectories) scope = ifNotEmpty ? RemovalScope::EmptyDirectory : RemovalScope::NonDirectory;
  // Directories go children first, in the listed order; a dry run shows its
  // effects in the listed order too.
  if (scope != RemovalScope::NonDirectory || platform_.onlyShowsEffects()) {
    for (const std::string& path : paths) {
      reportListed(path, scope, total, decide(path, scope, Named::InList));
    }
    return;
  }
  // Files go a window at a time, grouped by directory; their lines follow,
  // in the listed order, once the whole window is done. A run stopped in
  // between leaves gone only paths it was going to delete: deciding is
  // pure, the record stays until the end, and a second run finds them absent.
  for (std::size_t begin = 0; begin < paths.size(); begin += fileWindow_) {
    const std::size_t end = std::min(paths.size(), begin + fileWindow_);
    FateTable fates(end - begin);
    // The held-back path is noted as first named, whatever the grouping.
    for (std::size_t index = begin; index < end; ++index) {
      if (hold(paths[index], scope, Named::InList)) {
        fates.set(index - begin, {PathFate::Kind::Held, {}, {}});
      }
    }
    const std::vector<std::uint32_t> order = unlinkOrder(paths, begin, end);
    for (std::size_t step = 0; step < order.size(); ++step) {
      // The order jumps about the list, and each path's bytes lie elsewhere
      // on the heap: ask for the next ones while the system unlinks this one.
      if (step + 2 < order.size()) __builtin_prefetch(&paths[order[step + 2]]);
      if (step + 1 < order.size()) __builtin_prefetch(paths[order[step + 1]].data());
      const std::uint32_t index = order[step];
      if (fates.held(index - begin)) continue;
      fates.set(index - begin, judgeAndRemove(paths[index], scope));
    }
    for (std::size_t index = begin; index < end; ++index) {
      reportListed(paths[index], scope, total, fates.get(index - begin));
    }
  }
}

void FileRemoval::reportListed(const std::string& path, RemovalScope scope, int total,
                               const PathFate& fate) {
  ++progress_.currentPos;
  printProgressForName(path, total, progress_.currentPos);
  conclude(path, scope, Named::InList, fate);
}

void FileRemoval::removeItem(const std::string& path, bool unlessDirectory) {
  remove(path, unlessDirectory ? RemovalScope::NonDirectory : RemovalScope::Tree, Named::OnItsOwn);
}

void FileRemoval::deferPath(const std::string& path) {
  if (path.empty()) return;
  const std::string normal = normalisedPath(path);
  const std::string_view name = lastComponent(normal);
  deferred_ = {foldCase(normal), foldCase(name), name.size(), std::nullopt, Named::InList};
}

bool FileRemoval::isDeferred(const std::string& path) const {
  // Every path of the removal comes here: most differ from the held-back one
  // in their last bytes already, which costs one fold of those bytes into a
  // reused buffer.
  if (deferred_.folded.empty() || path.size() < deferred_.nameBytes) return false;
  foldCase(std::string_view(path).substr(path.size() - deferred_.nameBytes), scratch_);
  if (scratch_ != deferred_.foldedName) return false;
  return foldCase(normalisedPath(path)) == deferred_.folded;
}

void FileRemoval::removeDeferred() {
  if (!deferred_.asked) return;
  const auto [path, scope] = *deferred_.asked;
  const Named named = deferred_.named;
  deferred_ = {};
  remove(path, scope, named);
}

void FileRemoval::remove(const std::string& path, RemovalScope scope, Named named) {
  conclude(path, scope, named, decide(path, scope, named));
}

PathFate FileRemoval::decide(const std::string& path, RemovalScope scope, Named named) {
  if (hold(path, scope, named)) return {PathFate::Kind::Held, {}, {}};
  return judgeAndRemove(path, scope);
}

bool FileRemoval::hold(const std::string& path, RemovalScope scope, Named named) {
  if (!isDeferred(path)) return false;
  if (!deferred_.asked) deferred_.asked.emplace(path, scope);
  deferred_.named = named;
  return true;
}

PathFate FileRemoval::judgeAndRemove(const std::string& path, RemovalScope scope) {
  RemovalRules::Judgement judgement = rules_.judge(path, scope);
  if (judgement.verdict != RemovalRules::Verdict::Remove) {
    return {PathFate::Kind::Judged, std::move(judgement), {}};
  }
  return {PathFate::Kind::Handed, {}, platform_.removePath(path, scope)};
}

void FileRemoval::conclude(const std::string& path, RemovalScope scope, Named named,
                           const PathFate& fate) {
  if (fate.kind == PathFate::Kind::Held) return;
  const RemovalRules::Judgement& judgement = fate.judgement;
  switch (fate.kind == PathFate::Kind::Judged ? judgement.verdict
                                              : RemovalRules::Verdict::Remove) {
    case RemovalRules::Verdict::Remove:
      break;
    case RemovalRules::Verdict::Unsafe:
      // Never a path on disk to keep, so the dry run shows nothing for it.
      if (named == Named::OnItsOwn) {
        platform_.log("Refusing to delete unsafe path: '" + path + "'");
        report_.pathKept(path, KeepReason::Unsafe, "");
      }
      return;
    case RemovalRules::Verdict::SystemDirectory:
      // The root and its entries were never candidates; a deeper system
      // directory is reported where the package would have removed it.
      if (named == Named::OnItsOwn) {
        keep(path, KeepReason::SystemDirectory, "",
             "Keeping '" + path + "': a directory of the system");
      } else if (scope == RemovalScope::EmptyDirectory &&
                 normalisedPath(path).find('/', 1) != std::string::npos) {
        keep(path, KeepReason::SystemDirectory, "", "");
      }
      return;
    case RemovalRules::Verdict::Shared:
      keep(path, KeepReason::Shared, judgement.owner,
           "Keeping '" + path + "': package " + judgement.owner + " still lists it");
      return;
  }

  const Removal& removal = fate.removal;
  switch (removal.outcome) {
    case Removal::Outcome::NotEmpty:
      keep(path, KeepReason::NotEmpty, "", "");
      break;
    case Removal::Outcome::LinkRefused:
      keep(path, KeepReason::LinkRefused, removal.link,
           "Leaving '" + path + "': the symbolic link '" + removal.link +
               "' on its way is not the system's own");
      break;
    case Removal::Outcome::Failed:
      // What the removal left on purpose is said, and so is every other
      // refusal of the system, which fails the package. Folders of other
      // users, left to them, are each named.
      for (const Removal::LeftToOwner& left : removal.leftToOwners) {
        platform_.log("Leaving '" + left.path + "': it belongs to user " +
                      std::to_string(left.owner));
      }
      if (removal.errnum == EXDEV) {
        keep(path, KeepReason::AnotherFileSystem, "",
             "Leaving '" + path + "': part of it is another file system mounted there");
      } else if (removal.errnum == ELOOP) {
        keep(path, KeepReason::TooDeep, "",
             "Leaving '" + path + "': it nests deeper than any package's files");
      } else if (removal.errnum == EPERM && !removal.leftToOwners.empty()) {
        // Left to their owners, each named above: not the package's to delete.
        keep(path, KeepReason::AnotherUsers, std::to_string(removal.leftToOwners.front().owner),
             "");
      } else {
        // A path the package still has on disk: the package is not gone.
        ++failures_;
        platform_.log("Could not delete '" + path + "': " + std::strerror(removal.errnum));
        report_.pathDeleted(path, removal);
      }
      break;
    case Removal::Outcome::Removed:
    case Removal::Outcome::Absent:
      report_.pathDeleted(path, removal);
      break;
    // A directory the file pass leaves is judged in the directory pass; a
    // path no removal may touch is not worth a word.
    case Removal::Outcome::Directory:
    case Removal::Outcome::Refused:
      break;
  }
}

void FileRemoval::keep(const std::string& path, KeepReason reason, const std::string& detail,
                       const std::string& logLine) {
  if (!logLine.empty()) platform_.log(logLine);
  platform_.keepPath(path, reason, detail);
  report_.pathKept(path, reason, detail);
}

void FileRemoval::printProgressForName(const std::string& name, int total, int current) {
  // Single precision, in this order, so the printed numbers stay those users
  // and front ends have always seen (12, 25, 37, 50 for four paths of two items).
  const float itemShare = static_cast<float>(current) / static_cast<float>(total) * 100.0f /
                          static_cast<float>(progress_.itemCount);
  const float runPercent = static_cast<float>(progress_.percent) + itemShare;
  report_.progress(static_cast<int>(runPercent), name);
}

}  // namespace qu
