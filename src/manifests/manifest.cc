#include "manifests/manifest.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "extensions/exec.h"
#include "extensions/paths.h"
#include "extensions/text.h"

namespace qu {

std::optional<std::string> Manifest::listFromTool(const std::string& executable,
                                                  const std::vector<std::string>& arguments) {
  return stringFromExecutable(platform_, executable, arguments, listingBroke_);
}

const std::optional<PathList>& Manifest::files() {
  // A failed query leaves the field empty, so the next request asks again.
  if (!files_) files_ = getList(kFileList);
  return files_;
}

const std::optional<PathList>& Manifest::directories() {
  if (!directories_) directories_ = getList(kDirectoryList);
  return directories_;
}

std::optional<PathList> Manifest::everyPathFrom(const EveryPathQuery& asked,
                                                CapturedOutput answer) {
  std::optional<std::string> output =
      outputOfQuery(platform_, asked.query.program, std::move(answer), listingBroke_);
  if (!output) return std::nullopt;
  std::vector<std::string> lines = split(*output, '\n');
  output.reset();
  return joinedPaths(std::move(lines), asked.location);
}

PathList Manifest::joinedPaths(std::vector<std::string> lines, std::string_view prefix) {
  // Output that ends in a newline splits into one empty last line; any other
  // empty line is kept and becomes the bare prefix.
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (std::string& line : lines) line = joinInstallPath(prefix, line);
  return lines;
}

PathList Manifest::processList(std::vector<std::string> lines, std::string_view prefix) {
  // Output that ends in a newline splits into one empty last line; any other
  // empty line is kept and becomes the bare prefix.
  if (!lines.empty() && lines.back().empty()) lines.pop_back();

  struct Keyed {
    std::size_t length;
    std::string path;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(lines.size());
  // Each line becomes its path in place and moves on, so a list of a
  // million paths is never held twice.
  for (std::string& line : lines) {
    line = joinInstallPath(prefix, line);
    keyed.push_back({utf16Length(line), std::move(line)});
  }
  std::vector<std::string>().swap(lines);
  // Longest first puts every path before its ancestors; the stable sort keeps
  // the tool's order among equal lengths so a run is reproducible.
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const Keyed& a, const Keyed& b) { return a.length > b.length; });

  PathList paths;
  paths.reserve(keyed.size());
  for (Keyed& entry : keyed) paths.push_back(std::move(entry.path));
  return paths;
}

void Manifest::reportUnavailableLists(std::string_view reason) {
  if (unavailableReported_) return;
  unavailableReported_ = true;
  platform_.log(reason);
}

}  // namespace qu
