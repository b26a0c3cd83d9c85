// A listing tool's output into a manifest list: one trailing empty line is
// dropped, every other line is joined to the prefix (with one "/" where
// neither side has one), and the list comes out longest first with the
// tool's order kept among equal lengths.

#include <map>
#include <string>
#include <vector>

#include "extensions/text.h"
#include "fuzz_input.h"
#include "manifests/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qu::fuzzing::check;
  std::string_view input = qu::fuzzing::bytesOf(data, size);
  // The first line is the install location, the rest the tool's output.
  const std::size_t newline = input.find('\n');
  const std::string_view prefix = input.substr(0, newline);
  const std::string_view output =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

  std::vector<std::string> lines = qu::split(output, '\n');
  const qu::PathList paths = qu::Manifest::processList(lines, prefix);

  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  check(paths.size() == lines.size(), "only one trailing empty line is dropped");

  // Grouped by length, the paths are the joined lines in the tool's order.
  std::map<std::size_t, std::vector<std::string>, std::greater<>> expected;
  for (const std::string& line : lines) {
    std::string path(prefix);
    if (!prefix.empty() && !line.empty() && prefix.back() != '/' && line.front() != '/') {
      path += '/';
    }
    path += line;
    expected[qu::utf16Length(path)].push_back(std::move(path));
  }
  std::size_t at = 0;
  for (const auto& [length, group] : expected) {
    for (const std::string& path : group) {
      check(at < paths.size() && paths[at] == path,
            "paths come longest first, the tool's order kept among equal lengths");
      ++at;
    }
  }
  return 0;
}
