#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/removal.h"

namespace qu {

// The rules every path of a removal passes before anything happens to it:
// only absolute paths without ".." are touched, the system's standard
// directories always stay, and so does whatever another installed package
// still lists. Paths are compared normalised ("//", "/./" and a trailing "/"
// collapsed) and ignoring case, as the platform's file system compares names.
class RemovalRules {
 public:
  enum class Verdict {
    Remove,           // nothing against it
    Unsafe,           // relative, with "..", or holding a NUL
    SystemDirectory,  // "/", a top-level entry, or a standard system directory
    Shared,           // another installed package lists it (see `owner`)
  };
  struct Judgement {
    Verdict verdict = Verdict::Remove;
    std::string owner;  // Shared: the identifier of a package that lists it
  };

  // A path of a package that this run does not remove.
  void addShared(std::string_view path, const std::string& owner);
  bool hasShared() const { return !shared_.empty(); }

  // The verdict on one path. A tree removal takes everything below the path
  // too, so a path another package lists below it keeps it as well.
  Judgement judge(std::string_view path, RemovalScope scope) const;

  // Whether the normalised absolute path is one of the system's standard
  // directories (see removal_rules.cc for the list and where it comes from).
  static bool isSystemDirectory(std::string_view normal);

 private:
  using SharedPaths = std::unordered_map<std::string, std::uint32_t>;
  // The shared entry that comes first below a tree's key, if any.
  const SharedPaths::value_type* firstSharedBelow(const std::string& key) const;

  // Comparison key -> index into owners_; a package's many paths share one name.
  SharedPaths shared_;
  std::vector<std::string> owners_;
  // The same entries in key order, so the paths below a tree are one search
  // away; sorted at the first tree judgement after the last addShared().
  mutable std::vector<const SharedPaths::value_type*> ordered_;
  mutable bool orderedStale_ = false;
};

}  // namespace qu
