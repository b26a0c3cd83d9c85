#include "uninstaller/file_pass.h"

#include <string_view>
#include <utility>

namespace qu {

namespace {

std::string_view parentOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// A fate without anything beside its kind and outcome fits in one byte.
constexpr std::uint8_t kHeld = 0xff;
constexpr std::uint8_t kDetailed = 0xfe;

}  // namespace

std::vector<std::uint32_t> unlinkOrder(const PathList& paths, std::size_t begin,
                                       std::size_t end) {
  std::vector<std::uint32_t> order;
  order.reserve(end - begin);
  // Only paths of one length change places: a path is never unlinked before
  // a longer one listed ahead of it, which may lie below it (a file reached
  // through a link the list also names goes before the link, as listed).
  for (std::size_t run = begin; run < end;) {
    std::size_t runEnd = run + 1;
    while (runEnd < end && paths[runEnd].size() == paths[run].size()) ++runEnd;
    if (runEnd - run == 1) {
      order.push_back(static_cast<std::uint32_t>(run));
      run = runEnd;
      continue;
    }
    // A counting sort on the directory's number: linear, and stable.
    std::unordered_map<std::string_view, std::uint32_t> directories;
    std::vector<std::uint32_t> directoryOf;
    directoryOf.reserve(runEnd - run);
    for (std::size_t i = run; i < runEnd; ++i) {
      const auto [entry, added] = directories.try_emplace(
          parentOf(paths[i]), static_cast<std::uint32_t>(directories.size()));
      directoryOf.push_back(entry->second);
    }
    std::vector<std::uint32_t> start(directories.size() + 1, 0);
    for (std::uint32_t directory : directoryOf) ++start[directory + 1];
    for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    const std::size_t at = order.size();
    order.resize(at + (runEnd - run));
    for (std::size_t i = 0; i < directoryOf.size(); ++i) {
      order[at + start[directoryOf[i]]++] = static_cast<std::uint32_t>(run + i);
    }
    run = runEnd;
  }
  return order;
}

void FateTable::set(std::size_t index, PathFate fate) {
  if (fate.kind == PathFate::Kind::Held) {
    codes_[index] = kHeld;
  } else if (fate.kind == PathFate::Kind::Handed && fate.removal.errnum == 0 &&
             fate.removal.link.empty() && fate.removal.leftToOwners.empty()) {
    codes_[index] = static_cast<std::uint8_t>(fate.removal.outcome);
  } else {
    codes_[index] = kDetailed;
    detailed_.emplace(index, std::move(fate));
  }
}

bool FateTable::held(std::size_t index) const { return codes_[index] == kHeld; }

PathFate FateTable::get(std::size_t index) const {
  const std::uint8_t code = codes_[index];
  if (code == kHeld) return {PathFate::Kind::Held, {}, {}};
  if (code == kDetailed) return detailed_.at(index);
  return {PathFate::Kind::Handed, {}, Removal::of(static_cast<Removal::Outcome>(code))};
}

}  // namespace qu
