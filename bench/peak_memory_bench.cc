// Peak memory of removing a package whose manifest holds 1,000,000 paths,
// read from the package database tool as in a real run (a stand-in script
// prints the lists). Each measurement is a fresh child process; its peak
// resident size comes from wait4(). The baseline, in the same run, is a child
// that only loads the manifest's lists. The paths do not exist, so nothing is
// deleted, yet each gets its progress line and its deletion attempt.
//
// Usage: peak_memory_bench            (scratch files under $TMPDIR, else /tmp)
//        peak_memory_bench --child lists|removal DIR   (used by the above)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "extensions/text.h"
#include "manifests/database_manifest.h"
#include "package_tree.h"
#include "platform/unique_fd.h"
#include "system/real_platform.h"
#include "uninstaller/removal.h"

namespace qu::bench {
namespace {

constexpr const char* kIdentifier = "com.quorvane.bench.memory";
constexpr double kLimitBytes = 300.0 * 1024 * 1024;

// 50,003 directories holding 950,000 files: 1,000,003 paths.
constexpr PackageShape kShape{500, 99, 19};

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void writeLines(const std::string& path, const std::vector<std::string>& relativePaths) {
  std::ofstream out(path, std::ios::binary);
  // The database reports paths relative to the install location.
  for (const std::string& relative : relativePaths) out << relative.substr(1) << '\n';
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The tool's answers for one package, installed (nominally) in DIR/root.
void writeDatabase(const std::string& directory, std::size_t& paths) {
  const PackageLayout layout = layoutFor(kShape);
  paths = layout.files.size() + layout.directories.size();
  writeLines(directory + "/files.txt", layout.files);
  writeLines(directory + "/dirs.txt", layout.directories);
  writeFile(directory + "/info.plist",
            format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<plist version=\"1.0\"><dict>\n"
                   "<key>pkgid</key><string>%s</string>\n"
                   "<key>volume</key><string>%s/</string>\n"
                   "<key>install-location</key><string>root/</string>\n"
                   "</dict></plist>\n",
                   kIdentifier, directory.c_str()));
  const std::string tool = directory + "/pkgutil";
  writeFile(tool, format("#!/bin/sh\n"
                         "case \"$1\" in\n"
                         "  --pkg-info-plist) exec cat '%s/info.plist' ;;\n"
                         "  --only-dirs) exec cat '%s/dirs.txt' ;;\n"
                         "  *) exec cat '%s/files.txt' ;;\n"
                         "esac\n",
                         directory.c_str(), directory.c_str(), directory.c_str()));
  if (::chmod(tool.c_str(), 0755) != 0) throw std::runtime_error("cannot chmod " + tool);
}

// One measured child: loads the manifest, and removes it when asked to.
int child(const std::string& mode, const std::string& directory) {
  Locations locations;
  locations.pkgutil = directory + "/pkgutil";
  const auto real = makeRealPlatform(locations);
  const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!devNull.valid()) return 1;
  PrintToFilePlatform platform(*real, devNull.get());

  ManifestPtr manifest = DatabaseManifest::manifestWithIdentifier(platform, kIdentifier);
  if (!manifest || !manifest->files() || !manifest->directories()) return 1;
  if (mode == "removal") {
    RunProgress progress(1);
    const RemovalRules rules;
    TextReport report(platform);
    RunContext run{platform, progress, rules, report};
    FileRemoval(run).removeManifest(manifest.get());
  }
  return platform.flushOutput() ? 0 : 1;
}

double peakBytes(const std::string& self, const std::string& mode, const std::string& directory) {
  const std::optional<ChildUsage> run = runChild(self, {"--child", mode, directory});
  if (!run) throw std::runtime_error("the " + mode + " child failed");
  std::printf("  %-8s peak %.1f MB, %.2f s\n", mode.c_str(),
              static_cast<double>(run->usage.ru_maxrss) / 1024.0, run->wall);
  return static_cast<double>(run->usage.ru_maxrss) * 1024.0;  // ru_maxrss is in KiB
}

int parent(const std::string& self) {
  ScratchDirectory scratch("qu-memory-bench");
  std::size_t paths = 0;
  writeDatabase(scratch.path(), paths);
  std::printf("peak memory: a manifest of %zu paths from the package database tool\n", paths);

  const double lists = peakBytes(self, "lists", scratch.path());
  const double removal = peakBytes(self, "removal", scratch.path());
  printRow({"Peak memory, removal of 1,000,000 manifest paths vs loading the lists alone",
            format("%.0f MB", removal / 1024 / 1024), format("%.0f MB", lists / 1024 / 1024),
            formatRatio(removal / lists), "removal < 300 MB", removal < kLimitBytes});
  return 0;
}

}  // namespace
}  // namespace qu::bench

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
      return qu::bench::child(argv[2], argv[3]);
    }
    if (argc != 1) {
      std::fprintf(stderr, "usage: %s\n", argv[0]);
      return 2;
    }
    // The children are this program again, found the way the kernel found us.
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    return qu::bench::parent(std::string(self, static_cast<std::size_t>(length)));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "peak memory: %s\n", error.what());
    return 1;
  }
}
