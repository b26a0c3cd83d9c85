#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace qu {

// How far one deletion may go at its path.
enum class RemovalScope {
  // Anything but a directory (a link to one included): the file pass.
  NonDirectory,
  // A directory holding nothing, or nothing but a ".DS_Store" file; anything
  // that is not a directory goes as in NonDirectory: the directory pass.
  EmptyDirectory,
  // The path with everything below it, never leaving the file system it
  // starts on: "additionalfiles" and receipt bundles.
  Tree,
};

// Why a removal leaves a path of a package in place.
enum class KeepReason {
  NotEmpty,         // a directory that still holds something else
  Shared,           // another installed package lists it
  SystemDirectory,  // one of the system's standard directories
  LinkRefused,      // reached only through a symbolic link that is not the system's own
  Unsafe,           // named on its own but relative, with "..", or holding a NUL
  // What a tree removal leaves: part of it is another file system mounted
  // there, it nests deeper than any package's files, or it holds a folder
  // of another user (`detail`: that user's id).
  AnotherFileSystem,
  TooDeep,
  AnotherUsers,
};

// What became of a path a removal was asked to delete.
struct Removal {
  enum class Outcome {
    Removed,      // gone
    Absent,       // nothing was there
    Directory,    // a directory, which the scope leaves (the file pass)
    NotEmpty,     // a directory holding more than a ".DS_Store" file
    LinkRefused,  // a symbolic link on the way is not the system's own; see `link`
    Refused,      // not a path a removal may touch: relative, or the root
    Failed,       // the system said no; see `errnum`
  };
  // A folder inside a tree that the tree removal left to its owner.
  struct LeftToOwner {
    std::string path;
    unsigned owner = 0;
  };

  Outcome outcome = Outcome::Failed;
  int errnum = 0;
  std::string link;  // LinkRefused: the link met on the way
  std::vector<LeftToOwner> leftToOwners;  // Tree: folders of other users left inside

  static Removal of(Outcome outcome) { return {outcome, 0, {}, {}}; }
  static Removal failed(int errnum) { return {Outcome::Failed, errnum, {}, {}}; }
  static Removal linkRefused(std::string link) {
    return {Outcome::LinkRefused, 0, std::move(link), {}};
  }
  bool removed() const { return outcome == Outcome::Removed; }
};

// What the removal's walk finds at a path, without changing anything.
struct PathState {
  enum class Kind {
    Missing,      // nothing there
    Directory,
    Regular,
    Link,         // a symbolic link, never followed at the end of a path
    Other,        // a device, pipe or socket
    LinkRefused,  // reached only through a link that is not the system's own
    Unknown,      // cannot be told: a directory on the way cannot be searched
  };
  Kind kind = Kind::Unknown;
  int errnum = 0;    // Unknown: why
  std::string link;  // LinkRefused: the link met on the way
  // The entry found (not a link's target): the same file whatever the
  // spelling of its path, for a dry run to know what it has deleted.
  dev_t device = 0;
  ino_t inode = 0;
};

}  // namespace qu
