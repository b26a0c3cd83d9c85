// "/bin/ps" output into the process table, and the table matched against a
// package's files: the fast matching must find exactly what a plain scan of
// every process against every file finds.

#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "extensions/text.h"
#include "fuzz_input.h"
#include "in_memory_platform.h"
#include "manifests/process_table.h"

namespace {

using qu::fuzzing::check;

// A package whose file list is given.
class FixedManifest : public qu::Manifest {
 public:
  FixedManifest(qu::Platform& platform, qu::PathList files)
      : Manifest(platform), files_(std::move(files)) {}
  std::optional<qu::PathList> getList(int listType) override {
    if (listType == qu::kFileList) return files_;
    return qu::PathList{};
  }
  std::optional<EveryPathQuery> everyPathQuery() override { return std::nullopt; }

 private:
  qu::PathList files_;
};

// Whether some line of the listing ends with the path: an entry comes from
// a whole line, never from text that follows another kind of line break
// inside a program's path.
bool endsALine(std::string_view listing, std::string_view path) {
  for (std::size_t start = 0; start <= listing.size();) {
    std::size_t end = listing.find('\n', start);
    if (end == std::string_view::npos) end = listing.size();
    if (listing.substr(start, end - start).ends_with(path)) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts =
      qu::fuzzing::sections(qu::fuzzing::bytesOf(data, size), 2);
  const std::string_view listing = parts[0];

  const qu::ProcessTable processes = qu::parseProcessListing(listing);
  for (const auto& [path, pid] : processes) {
    check(path.starts_with('/'), "every process path is absolute");
    check(path.find('\n') == std::string::npos, "no process path spans a line");
    check(endsALine(listing, path), "every path ends a line of the listing");
    check(pid >= 1, "every process id names one process");
    check(listing.find(path) != std::string_view::npos,
          "every process path comes from the listing");
  }

  qu::PathList files = qu::split(parts[1], '\n');
  check(qu::processesRunningFrom(processes, files) == qu::processesRunningFromByScan(processes, files),
        "the matching finds what a plain scan finds");

  // The same through a manifest, the way a package removal asks.
  qu::fuzzing::InMemoryPlatform platform;
  platform.outputs[{platform.paths.ps, "-Ao", "pid=,comm="}] = std::string(listing);
  FixedManifest manifest(platform, files);
  check(manifest.getProcesses() == qu::processesRunningFromByScan(processes, files),
        "a manifest's running programs are those of the listing");
  return 0;
}
