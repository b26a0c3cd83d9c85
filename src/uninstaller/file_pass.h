#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "manifests/manifest.h"
#include "platform/removal.h"
#include "uninstaller/removal_rules.h"

namespace qu {

// What became of one listed path: held back (the package's uninstall plist),
// kept by the rules (see `judgement`), or handed to the platform (see
// `removal`).
struct PathFate {
  enum class Kind : std::uint8_t { Held, Judged, Handed };
  Kind kind = Kind::Handed;
  RemovalRules::Judgement judgement;
  Removal removal;
};

// The order in which the file pass unlinks paths[begin, end): each run of
// consecutive paths of one length grouped by the directory that holds each
// (directories in the order their first path comes, each one's paths in
// listed order), so the walk reaches each directory once a run and the file
// system meets its entries together, where the listed order (longest first,
// ties as the tool listed them) may visit a different directory every path.
std::vector<std::uint32_t> unlinkOrder(const PathList& paths, std::size_t begin, std::size_t end);

// The fates of a window of paths, one byte each, with the few that carry more
// (an owner, a refused link, an errno) beside them, so a window of a million
// paths costs a few megabytes until its paths are reported.
class FateTable {
 public:
  explicit FateTable(std::size_t count) : codes_(count, 0) {}
  void set(std::size_t index, PathFate fate);
  PathFate get(std::size_t index) const;
  bool held(std::size_t index) const;

 private:
  std::vector<std::uint8_t> codes_;
  std::unordered_map<std::size_t, PathFate> detailed_;
};

// How many listed paths the file pass takes at a time: their unlinks are
// grouped, and their progress lines follow once all of them are done. A
// package's directories are visited once per window, so the window holds the
// largest packages whole (a quarter of a million paths still cost a million
// files a fifth more than "rm -rf"); the price is that their lines come in
// one burst, after the unlinks.
inline constexpr std::size_t kFileWindow = std::size_t{1} << 20;

}  // namespace qu
