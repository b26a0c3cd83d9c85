// Removes a package of 10,000, 100,000 and 1,000,000 files (20 to a
// directory, listed as a bill of materials interleaves them: each path in
// another directory than the one before) with the uninstaller's engine (real
// platform, progress lines to a file) and, in the same run, an identical tree
// with "/bin/rm -rf"; prints both times per round and the ratio of the
// medians. The million files get a third of the rounds, at least two (one each way round).
//
// Usage: removal_bench [--rounds N]   (trees go under $TMPDIR, else /tmp)

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "extensions/text.h"
#include "package_tree.h"
#include "platform/unique_fd.h"
#include "system/real_platform.h"
#include "uninstaller/removal.h"

namespace qu::bench {
namespace {

constexpr double kTarget = 1.0;
constexpr double kLimit = 2.0;

std::string makeRoot(const ScratchDirectory& scratch, const std::string& name,
                     const PackageLayout& layout) {
  const std::string root = scratch.at(name);
  if (::mkdir(root.c_str(), 0755) != 0) throw std::runtime_error("mkdir " + root);
  createTree(root, layout);
  return root;
}

// The kind of file system the trees are on, as the table shows it.
std::string fileSystemOf(const std::string& path) {
  struct statfs info {};
  if (::statfs(path.c_str(), &info) != 0) return "unknown file system";
  switch (info.f_type) {
    case TMPFS_MAGIC: return "tmpfs";
    case EXT4_SUPER_MAGIC: return "ext4";
    case OVERLAYFS_SUPER_MAGIC: return "overlayfs";
    case XFS_SUPER_MAGIC: return "xfs";
    case BTRFS_SUPER_MAGIC: return "btrfs";
    default: return format("file system 0x%lx", static_cast<unsigned long>(info.f_type));
  }
}

std::size_t countLines(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return 0;
  std::size_t lines = 0;
  for (int c; (c = std::fgetc(file)) != EOF;) lines += c == '\n';
  std::fclose(file);
  return lines;
}

std::string withThousands(std::size_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

ChildTimes timeEngine(Platform& real, const std::string& root, const PackageLayout& layout,
                      const std::string& progressFile) {
  const UniqueFd progressOutput(
      ::open(progressFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!progressOutput.valid()) throw std::runtime_error("cannot write " + progressFile);
  PrintToFilePlatform platform(real, progressOutput.get());
  GivenManifest manifest(platform, manifestFiles(root, layout),
                         manifestDirectories(root, layout));
  // A real manifest has its lists by now: the package sequence asked for the
  // files when it looked for running programs.
  (void)manifest.files();
  (void)manifest.directories();
  RunProgress progress(1);
  const RemovalRules rules;
  TextReport report(platform);
  RunContext run{platform, progress, rules, report};
  FileRemoval removal(run);

  const double processorBefore = processorSeconds();
  const Stopwatch stopwatch;
  removal.removeManifest(&manifest);
  if (!platform.flushOutput()) throw std::runtime_error("cannot write " + progressFile);
  return {stopwatch.seconds(), processorSeconds() - processorBefore};
}

ChildTimes timeRemoveCommand(const std::string& root) {
  const std::optional<ChildTimes> times = timeProgram("/bin/rm", {"-rf", root + "/Bench.app"});
  if (!times) throw std::runtime_error("rm -rf failed in " + root);
  return *times;
}

int runSize(int files, int rounds) {
  const PackageShape shape = shapeWithFiles(files);
  PackageLayout layout = layoutFor(shape);
  interleaveFiles(layout, shape);
  const std::size_t paths = layout.files.size() + layout.directories.size();
  std::printf("removal: %zu files in %d directories (+3 bundle levels), interleaved, %d rounds\n",
              layout.files.size(), layout.resourceDirectories, rounds);

  ScratchDirectory scratch("qu-removal-bench");
  const std::string fileSystem = fileSystemOf(scratch.path());
  std::printf("  trees in %s (%s)\n", scratch.path().c_str(), fileSystem.c_str());
  const auto real = makeRealPlatform();
  std::vector<double> engineWall, engineProcessor, rmWall, rmProcessor;
  for (int round = 0; round < rounds; ++round) {
    const std::string engineRoot = scratch.at(format("engine-%d", round));
    const std::string progressFile = scratch.at("progress.txt");
    // Each side's tree is made just before it is removed, so neither meets
    // the other's million entries in the kernel's caches (a lookup walks
    // longer hash chains with twice the entries).
    const auto engineSide = [&] {
      makeRoot(scratch, format("engine-%d", round), layout);
      ::sync();
      return timeEngine(*real, engineRoot, layout, progressFile);
    };
    const auto removeCommandSide = [&] {
      const std::string rmRoot = makeRoot(scratch, format("rm-%d", round), layout);
      ::sync();
      return timeRemoveCommand(rmRoot);
    };
    ChildTimes engine;
    ChildTimes rm;
    // Alternate which goes first so neither always meets the same disk state.
    if (round % 2 == 0) {
      engine = engineSide();
      rm = removeCommandSide();
    } else {
      rm = removeCommandSide();
      engine = engineSide();
    }
    struct stat info {};
    if (::lstat((engineRoot + "/Bench.app").c_str(), &info) == 0) {
      std::fprintf(stderr, "removal: the engine left %s/Bench.app behind\n", engineRoot.c_str());
      return 1;
    }
    if (countLines(progressFile) != paths) {
      std::fprintf(stderr, "removal: expected %zu progress lines\n", paths);
      return 1;
    }
    std::printf("  round %d: engine %s (cpu %s), rm -rf %s (cpu %s), ratio %s (cpu %s)\n",
                round + 1, formatSeconds(engine.wall).c_str(),
                formatSeconds(engine.processor).c_str(), formatSeconds(rm.wall).c_str(),
                formatSeconds(rm.processor).c_str(), formatRatio(engine.wall / rm.wall).c_str(),
                formatRatio(engine.processor / rm.processor).c_str());
    std::fflush(stdout);
    engineWall.push_back(engine.wall);
    engineProcessor.push_back(engine.processor);
    rmWall.push_back(rm.wall);
    rmProcessor.push_back(rm.processor);
  }

  const std::string target = format("<= %.2fx (at most %.1fx)", kTarget, kLimit);
  const std::string what = format("%s files / %s dirs, interleaved, on ",
                                  withThousands(layout.files.size()).c_str(),
                                  withThousands(static_cast<std::size_t>(
                                      layout.resourceDirectories)).c_str()) +
                           fileSystem + ", vs `rm -rf`";
  const double wallRatio = median(engineWall) / median(rmWall);
  printRow({"Removal engine, " + what + ", wall clock", formatSeconds(median(engineWall)),
            formatSeconds(median(rmWall)), formatRatio(wallRatio), target, wallRatio <= kTarget});
  const double processorRatio = median(engineProcessor) / median(rmProcessor);
  printRow({"Removal engine, " + what + ", processor time", formatSeconds(median(engineProcessor)),
            formatSeconds(median(rmProcessor)), formatRatio(processorRatio), target,
            processorRatio <= kTarget});
  return 0;
}

int run(int rounds) {
  for (int files : {10'000, 100'000, 1'000'000}) {
    if (const int status = runSize(files, files >= 1'000'000 ? std::max(2, rounds / 3) : rounds)) {
      return status;
    }
  }
  return 0;
}

}  // namespace
}  // namespace qu::bench

int main(int argc, char** argv) {
  return qu::bench::mainWithRounds(argc, argv, "removal", 5, qu::bench::run);
}
