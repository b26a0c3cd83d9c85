#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <list>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/unique_fd.h"

namespace qu {

// A directory reached by the walk, or why it could not be reached.
struct WalkedDirectory {
  int fd = -1;       // borrowed from the walker; valid until its next call
  int errnum = 0;    // when fd < 0 and no link was refused
  std::string link;  // when a symbolic link on the way was refused: its path
  bool reached() const { return fd >= 0; }
};

// A symbolic link the system made: root's, and not a hard link to one that
// someone placed beside (its owner would still be root).
inline bool isRootsOwnLink(const struct stat& link) {
  return link.st_uid == 0 && link.st_nlink == 1;
}

// Reaches paths one component at a time from "/", through directory
// descriptors opened without following links (openat, O_NOFOLLOW), so an
// effect acts on the directory the walk decided on, whatever the path names
// later. A symbolic link met on the way is followed only when it is the
// system's own (trustedByRoot); the kernel never resolves a path of more
// than one component for us.
//
// Descriptors of the directories reached are kept, most recently used first,
// so the long lists of paths under few directories that a removal works
// through cost one system call per path.
class PathWalker {
 public:
  explicit PathWalker(gid_t administratorsGroup);
  PathWalker(const PathWalker&) = delete;
  PathWalker& operator=(const PathWalker&) = delete;

  // The directory at a normalised absolute path (see normalisedPath()).
  WalkedDirectory directory(std::string_view normal);
  // The directory holding the last component of a normalised absolute path
  // other than "/".
  WalkedDirectory parentOf(std::string_view normal) { return directory(parentKey(normal)); }

  // Whether the directory at the path, and every one on the way to it, is
  // owned by root and writable by no one else but the administrators' group
  // (a world-writable directory with the sticky bit passes, since only the
  // root-owned entries inside it are trusted in turn). Links on the way count
  // only where they are followed.
  bool directoryTrusted(std::string_view normal);
  // Whether an entry with this status, in a directory that is trusted, is
  // trusted too: owned by root and not writable by anyone else.
  bool entryTrusted(const struct stat& info) const;

  // Drops the kept descriptor of a directory that was removed, and, with
  // `below`, those of everything under it.
  void forget(std::string_view normal, bool below);
  // Drops what was reached through a link at a path whose non-directory was
  // just unlinked. Only a link the walk followed can have led a kept
  // descriptor there, so this looks among those alone: the file pass comes
  // here after every file.
  void forgetBelowUnlinked(std::string_view normal);

 private:
  struct Entry {
    UniqueFd fd;
    bool trusted = false;
    std::string physical;  // the path without links, to resolve relative link targets
    bool throughLink = false;  // reached by following a link, here or above
    std::list<std::string>::iterator age;
  };

  // Looked up by views of paths: a removal asks for the same few directories
  // once per path, and a key need not be built for that.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>{}(key);
    }
  };
  using Entries = std::unordered_map<std::string, Entry, KeyHash, std::equal_to<>>;

  static std::string_view parentKey(std::string_view normal);
  Entry* lookup(std::string_view normal, int depth, WalkedDirectory& failure);
  Entry* openChild(Entry& parent, std::string_view key, std::string_view name, int depth,
                   WalkedDirectory& failure);
  Entry* followLink(Entry& parent, std::string_view key, std::string_view name,
                    const struct stat& link, int depth, WalkedDirectory& failure);
  Entry& keep(std::string_view key, UniqueFd fd, bool trusted, std::string physical,
              bool throughLink);
  void erase(Entries::iterator entry);
  bool ownedByRootAlone(const struct stat& info) const;

  gid_t administratorsGroup_;
  std::size_t capacity_;
  Entries entries_;
  std::list<std::string> ages_;  // most recently used first
  // The same keys in order (views of the map's own), so forgetting what lies
  // below a removed path is one search, not a look at every kept directory.
  std::set<std::string_view> ordered_;
  std::set<std::string_view> throughLinks_;  // the keys of entries reached through a link
  // The directory the last call asked for: the file pass asks for one
  // directory many times in a row, and comparing its path beats hashing it.
  std::string lastKey_;
  Entry* last_ = nullptr;
};

}  // namespace qu
